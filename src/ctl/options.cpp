// Parsing of the command line, the table of commands and their help texts.
#include "options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace ctl {

namespace {

constexpr const char *kStartUp =
    "Every command but 'ports' first runs the panel's start-up on the chosen port: open,\n"
    "echo check, parameter fetch from RAM, firmware query.\n";

const Command kCommands[] = {
    {"ports", "ports", 0, 0, 0,
     "Lists the port table as the COM-port ring shows it: number, device, description,\n"
     "stable name, and whether the device is absent. Nothing is sent.\n"},
    {"info", "info", 0, 0, kNeedsLine,
     "Runs the port set-up of start-up and prints the board variant, the firmware text and\n"
     "the parameter set fetched from RAM.\n"},
    {"get", "get ram|eeprom [-o FILE]", 1, 1, kNeedsLine | kTakesOutput,
     "Panel steps: the RAM or EEPROM button, then Get. Prints the sixteen words by name.\n"
     "With -o FILE it then takes the File button and Send, answering the save dialog with\n"
     "FILE: the panel's parameter file, written whole or not at all. As with the panel,\n"
     "words 11 to 15 are saved as 0.\n"},
    {"send", "send ram|eeprom [FILE | --from ram|eeprom] [--set NAME=VALUE]...", 1, 2,
     kNeedsLine | kTakesSet | kTakesVerify | kTakesFrom,
     "Panel steps: the RAM or EEPROM button and Get, so that what the memory holds is known;\n"
     "then the set to start from: that memory's own, or with --from the other memory's (its\n"
     "button and Get: --from ram copies RAM as it stands), or with FILE the File button and\n"
     "Get, answering the load dialog with FILE (a file the panel would refuse is refused\n"
     "before anything is sent); each --set types VALUE into the control of the parameter\n"
     "NAME (average has no control and is set in its variable; para12 to para16 are always\n"
     "sent as 0 and cannot be set). The words that will change in the memory are said\n"
     "before it is written. Then the memory's button and Send, a pause of 0.1 s for the set\n"
     "to leave, and Get on the same memory to compare what came back with what was sent,\n"
     "word by word (--verify, which older scripts give, asks for nothing more).\n"
     "Give FILE, --from or --set: at least one says what to send.\n"
     "Names: power reference hysteresis polarity hold hwmode average evalmode mmtime\n"
     "mmthd sdelay.\n"},
    {"diff", "diff [FILE]", 0, 1, kNeedsLine,
     "Panel steps: the RAM button and Get, the EEPROM button and Get, and with FILE the\n"
     "File button and Get answering the load dialog with FILE. Lists every word that\n"
     "differs between them, by name, then each set's fingerprint as a report prints it.\n"},
    {"teach", "teach [--get]", 0, 0, kNeedsLine | kTakesGet,
     "Panel step: Teach, with its wait of 1.5 s for the controller's answer. The reference the\n"
     "controller taught itself is not read back: --get then presses Get on RAM and prints\n"
     "the set, the taught reference with it.\n"},
    {"reset", "reset", 0, 0, kNeedsLine,
     "Panel step: Reset, with its wait of 1.5 s and the parameter fetch from RAM that\n"
     "follows an answer; prints the fetched set.\n"},
    {"live", "live [--count N | --seconds S] [--format csv|jsonl|influx] [--name NAME]", 0, 0,
     kNeedsLine | kTakesCount | kTakesFormat,
     "Panel steps: Run, then Stop after N replies, after S seconds, on Ctrl+C or when\n"
     "standard output is closed. Each reply becomes one CSV row on standard output, with\n"
     "the comment lines and columns of a recording, flushed row by row. Without --count\n"
     "and --seconds it runs until stopped.\n"
     "--format jsonl writes each reply as the JSON object of the publisher's live topic, one\n"
     "a line; --format influx as InfluxDB line protocol (measurement rmx7, the tag line\n"
     "with the line's name, --name or taken from the port, the nine values as integer\n"
     "fields, the time in nanoseconds), for Telegraf's exec input and similar collectors.\n"},
    {"capture", "capture raw|norm [-o FILE]", 1, 1, kNeedsLine | kTakesOutput,
     "Panel steps: the graph source RAW or NORM, then Data. Prints the curve of 128 points\n"
     "as CSV, as Save curve writes it; -o FILE writes the CSV to FILE, or with a name\n"
     "ending in .png or .pdf the graph as the panel draws it.\n"},
    {"report",
     "report -o FILE.pdf [--capture raw|norm] [--unit-id ID] [--station NAME] [--note TEXT]\n"
     "                   [--operator NAME]",
     0, 0, kNeedsLine | kTakesOutput | kTakesReport,
     "Checks first that the folder of FILE takes a new file. Panel steps: with --capture, the\n"
     "graph source RAW or NORM and Data; then the reads of Report: Get's request to RAM and\n"
     "Get's request to EEPROM, each carrying the parameter set as it stands and leaving it\n"
     "as it was. Writes FILE, whole or not at all, replacing an older one (and saying so):\n"
     "the commissioning report as an A4 PDF/A-1b file with the program, the firmware, the\n"
     "port, the computer, the date and time, the operator (--operator, else the login name),\n"
     "the unit (--unit-id, its serial number or asset tag) and its station (--station), both\n"
     "on every page, both sets word by word with their differences marked and each word's\n"
     "unit and meaning, the fingerprint of the EEPROM set (SHA-256 of its 32 frame bytes),\n"
     "the data curve (without --capture a note that there is none), the note and lines for\n"
     "the signatures. Prints the file and the fingerprint.\n"},
    {"publish", "publish --broker mqtt[s]://HOST[:PORT] [PUBLISHER OPTION]... | --config FILE", 0,
     0, kPublishes,
     "Runs the panel's start-up on the port, then Run for as long as it runs, and publishes\n"
     "every live reply to the MQTT broker: PREFIX/NAME/live, one JSON object a reply with\n"
     "its Unix time, a sequence number counting every reply and the nine values;\n"
     "PREFIX/NAME/info, retained: the program, firmware, board variant, port, the RAM set,\n"
     "the unit and when they were taken; PREFIX/NAME/status, retained: online,\n"
     "'no-controller: TEXT' or offline, the broker's last will. A broker that is away\n"
     "costs the line nothing: replies are counted and dropped, and it is tried again every\n"
     "second for 10 s, then up to 30 s apart. A controller that stops answering puts\n"
     "no-controller on status, and the start-up is tried every 5 s until it answers.\n"
     "Ctrl+C or SIGTERM publishes offline and ends it with 0: only a wrong command line\n"
     "or config ends it otherwise.\n"
     "  --broker mqtt[s]://HOST[:PORT]  the broker; mqtts for TLS (ports 1883, 8883)\n"
     "  --name NAME          the line's name in topics (default: from the port)\n"
     "  --topic PREFIX       the topics' first levels (default rmx7)\n"
     "  --every N            publish every Nth reply (default 1)\n"
     "  --qos 0|1            (default 0)\n"
     "  --client-id ID       (default: a new random id for each connection)\n"
     "  --username NAME      with the password from --password-file FILE or from the\n"
     "                       environment variable RMX7_MQTT_PASSWORD, never the command line\n"
     "  --cafile FILE        the CA of the broker's certificate (default: the system's)\n"
     "  --cert FILE --key FILE  a client certificate and its key\n"
     "  --config FILE        the same settings as 'key = value' lines, and device = DEVICE\n"},
};

bool ParseLong(const std::string &text, long &value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

bool ParseSeconds(const std::string &text, double &value) {
    char *end = nullptr;
    value     = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && value > 0;
}

// "--name VALUE" or "--name=VALUE": true when argv[i] is the option, with its value.
bool TakeValue(int argc, char **argv, int &i, const std::string &name, std::string &value,
               std::string &error) {
    const std::string arg = argv[i];
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (arg != name)
        return false;
    if (i + 1 >= argc)
        error = name + " needs a value";
    else
        value = argv[++i];
    return true;
}

void ParseOne(int argc, char **argv, int &i, Options &options) {
    const std::string arg = argv[i];
    std::string value;
    std::string &error = options.error;
    if (arg == "--help" || arg == "-h") {
        options.shared.help = true;
    } else if (arg == "--version") {
        options.shared.version = true;
    } else if (arg == "--json") {
        options.json = true;
    } else if (arg == "--quiet" || arg == "-q") {
        options.quiet = true;
    } else if (arg == "--verify") {
        options.verify = true;
    } else if (arg == "--get") {
        options.get = true;
    } else if (app::ParseSharedOption(argc, argv, i, options.shared)) {
        error = options.shared.error;
    } else if (TakeValue(argc, argv, i, "--com", value, error)) {
        long number = 0;
        if (error.empty() && (!ParseLong(value, number) || number < 1 || number > 255))
            error = "--com wants a number from 1 to 255, not '" + value + "'";
        options.com = static_cast<int>(number);
    } else if (TakeValue(argc, argv, i, "--device", value, error)) {
        options.shared.ports[1] = value;
    } else if (TakeValue(argc, argv, i, "--from", value, error)) {
        options.from = value;
    } else if (TakeValue(argc, argv, i, "--set", value, error)) {
        options.sets.push_back(value);
    } else if (TakeValue(argc, argv, i, "--output", value, error) ||
               TakeValue(argc, argv, i, "-o", value, error)) {
        options.output = value;
    } else if (TakeValue(argc, argv, i, "--capture", value, error)) {
        options.capture = value;
    } else if (TakeValue(argc, argv, i, "--note", value, error)) {
        options.note = value;
    } else if (TakeValue(argc, argv, i, "--operator", value, error)) {
        options.operatorName = value;
    } else if (TakeValue(argc, argv, i, "--unit-id", value, error)) {
        options.unitId = value;
    } else if (TakeValue(argc, argv, i, "--station", value, error)) {
        options.station = value;
    } else if (TakeValue(argc, argv, i, "--format", value, error)) {
        options.format = value;
        if (error.empty() && value != "csv" && value != "jsonl" && value != "influx")
            error = "--format wants csv, jsonl or influx, not '" + value + "'";
    } else if (TakeValue(argc, argv, i, "--count", value, error)) {
        if (error.empty() && (!ParseLong(value, options.count) || options.count < 1))
            error = "--count wants a number of rows above 0, not '" + value + "'";
    } else if (TakeValue(argc, argv, i, "--seconds", value, error)) {
        if (error.empty() && !ParseSeconds(value, options.seconds))
            error = "--seconds wants a time above 0, not '" + value + "'";
    } else if (arg.size() > 1 && arg[0] == '-') {
        error = "unknown option '" + arg + "'";
    } else if (options.command.empty()) {
        options.command = arg;
    } else {
        options.operands.push_back(arg);
    }
}

// Publisher options given, but for the --name that live takes too.
bool PublisherOptions(const Options &options) {
    const publish::Given &given = options.shared.publishing;
    return !given.config.empty() ||
           std::any_of(given.settings.begin(), given.settings.end(), [&](const Setting &s) {
               return s.key != "name" || options.command != "live";
           });
}

} // namespace

Options ParseOptions(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc && options.error.empty(); ++i)
        ParseOne(argc, argv, i, options);
    if (options.error.empty()) {
        app::FinishSharedOptions(options.shared);
        options.error = options.shared.error;
    }
    if (options.error.empty())
        options.error = app::CheckSharedOptions(options.shared);
    return options;
}

bool HasExtension(const std::string &path, const std::string &extension) {
    if (path.size() <= extension.size())
        return false;
    const std::string end = path.substr(path.size() - extension.size());
    return std::equal(end.begin(), end.end(), extension.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

const Command *FindCommand(const std::string &name) {
    for (const Command &command : kCommands)
        if (name == command.name)
            return &command;
    return nullptr;
}

std::string CheckCommandLine(const Command &command, const Options &options) {
    const std::string name = command.name;
    const int operands     = static_cast<int>(options.operands.size());
    if (operands < command.minOperands || operands > command.maxOperands)
        return "usage: rmx7ctl " + std::string(command.synopsis);
    const auto refuses = [&](unsigned what) { return (command.accepts & what) == 0; };
    if ((!options.output.empty() && refuses(kTakesOutput)) ||
        (!options.sets.empty() && refuses(kTakesSet)) ||
        (options.verify && refuses(kTakesVerify)) || (options.get && refuses(kTakesGet)) ||
        (!options.from.empty() && refuses(kTakesFrom)) ||
        ((options.count > 0 || options.seconds > 0) && refuses(kTakesCount)) ||
        ((!options.capture.empty() || !options.note.empty() || !options.operatorName.empty() ||
          !options.unitId.empty() || !options.station.empty()) &&
         refuses(kTakesReport)) ||
        (!options.format.empty() && refuses(kTakesFormat)) ||
        (PublisherOptions(options) && refuses(kPublishes)))
        return name + " takes no such option; usage: rmx7ctl " + command.synopsis;
    if (options.count > 0 && options.seconds > 0)
        return "live takes --count or --seconds, not both";
    if (options.json && (options.format == "jsonl" || options.format == "influx"))
        return "live --format " + options.format + " writes its own lines: no --json with it";
    if (name == "publish" && options.shared.publisher.broker.empty())
        return "publish needs a broker: --broker mqtt://HOST[:PORT], or broker = in --config";
    if (name == "get" || name == "send") {
        if (options.operands[0] != "ram" && options.operands[0] != "eeprom")
            return name + " wants ram or eeprom, not '" + options.operands[0] + "'";
    }
    if (name == "send") {
        if (!options.from.empty() && options.from != "ram" && options.from != "eeprom")
            return "send --from wants ram or eeprom, not '" + options.from + "'";
        if (!options.from.empty() && options.operands.size() > 1)
            return "send starts from FILE or from --from " + options.from + ": give one of them";
        if (options.from.empty() && options.operands.size() < 2 && options.sets.empty())
            return "send needs FILE, --from ram|eeprom or --set NAME=VALUE: what to send";
    }
    if (name == "capture") {
        if (options.operands[0] != "raw" && options.operands[0] != "norm")
            return "capture wants raw or norm, not '" + options.operands[0] + "'";
        const std::string &out = options.output;
        if (!out.empty() && !HasExtension(out, ".csv") && !HasExtension(out, ".png") &&
            !HasExtension(out, ".pdf"))
            return "capture -o wants a file name ending in .csv, .png or .pdf";
    }
    if (name == "report") {
        if (!HasExtension(options.output, ".pdf"))
            return "report wants -o FILE.pdf";
        if (!options.capture.empty() && options.capture != "raw" && options.capture != "norm")
            return "report --capture wants raw or norm, not '" + options.capture + "'";
    }
    return {};
}

std::string UsageText() {
    std::string text =
        "Usage: rmx7ctl [OPTION]... COMMAND [ARGUMENT]...\n"
        "The RMX7 sensor controller from the command line: the operator panel's steps, with\n"
        "the same requests on the line, for scripts and production lines.\n\nCommands:\n";
    for (const Command &command : kCommands)
        text += "  " + std::string(command.synopsis) + "\n";
    text +=
        "\nOptions:\n"
        "  --port N=DEVICE      use DEVICE (a serial device, a pty, a tcp:// or rfc2217://\n"
        "                       address) as COM N; repeatable\n"
        "  --com N              the COM number to use (1 by default)\n"
        "  --device DEVICE      short for --port 1=DEVICE\n"
        "  --simulate[=100|0]   serve COM1 by the built-in controller simulator, board\n"
        "                       variant 100 (default) or 0; not with --device or --port 1=\n"
        "  --trace FILE         write every port write and read, every status text and\n"
        "                       what it leaves out to FILE ('-' for standard error)\n"
        "  --json               print the result as one JSON object, also for a wrong\n"
        "                       command line\n"
        "  -q, --quiet          leave out the status texts on standard error\n"
        "  -h, --help           show this text, or with a command that command's help\n"
        "  --version            show the version and exit\n\n"
        "Command options:\n"
        "  -o, --output FILE    get: save the set as a parameter file; capture: write the\n"
        "                       curve as CSV, or as .png or .pdf of the graph\n"
        "  --set NAME=VALUE     send: a parameter's value, 0 to 65535; repeatable\n"
        "  --from ram|eeprom    send: start from that memory's set, as it stands\n"
        "  --verify             send: read the set back and compare (send always does)\n"
        "  --get                teach: then read the set from RAM and print it\n"
        "  --count N, --seconds S   live: stop after N rows or S seconds\n\n"
        "Data goes to standard output; status texts and diagnostics to standard error.\n"
        "Exit codes: 0 success, 1 the tool could not start (panel file missing), 2 wrong\n"
        "command line, 3 the port cannot be opened, 4 no controller or a time-out, 5 send read\n"
        "back another set or diff found differences, 6 a file cannot be read or written.\n"
        "See rmx7ctl COMMAND --help, and man rmx7ctl for the parameters' table.\n";
    return text;
}

std::string CommandHelp(const Command &command) {
    std::string text =
        "Usage: rmx7ctl [OPTION]... " + std::string(command.synopsis) + "\n\n" + command.help;
    if (command.accepts & kNeedsLine)
        text += kStartUp;
    return text;
}

} // namespace ctl
