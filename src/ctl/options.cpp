// Parsing of the command line, the table of commands and their help texts.
#include "options.h"

#include "plant/utc_time.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <utility>

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
    {"diff", "diff [FILE] [--state DIR]", 0, 1, kNeedsLine | kTakesState,
     "Panel steps: the RAM button and Get, the EEPROM button and Get, and with FILE the\n"
     "File button and Get answering the load dialog with FILE. Lists every word that\n"
     "differs between them, by name, then each set's fingerprint as a report prints it.\n"
     "--state DIR adds the approved set that a line's agent keeps in its state directory DIR\n"
     "(approved-set.json) as a column of its own.\n"},
    {"teach", "teach [--get]", 0, 0, kNeedsLine | kTakesGet,
     "Panel step: Teach, with its wait of 1.5 s for the controller's answer. The reference the\n"
     "controller taught itself is not read back: --get then presses Get on RAM and prints\n"
     "the set, the taught reference with it.\n"},
    {"reset", "reset", 0, 0, kNeedsLine,
     "Panel step: Reset, with its wait of 1.5 s and the parameter fetch from RAM that\n"
     "follows an answer; prints the fetched set.\n"},
    {"live",
     "live [--count N | --seconds S] [--format csv|jsonl|influx] [--name NAME] "
     "[--line NAME=DEVICE]...",
     0, 0, kNeedsLine | kTakesCount | kTakesFormat | kTakesLines,
     "Panel steps: Run, then Stop after N replies, after S seconds, on Ctrl+C or when\n"
     "standard output is closed. Each reply becomes one CSV row on standard output, with\n"
     "the comment lines and columns of a recording, flushed row by row. Without --count\n"
     "and --seconds it runs until stopped.\n"
     "--format jsonl writes each reply as the JSON object of the publisher's live topic, one\n"
     "a line; --format influx as InfluxDB line protocol (measurement rmx7, the tag line\n"
     "with the line's name, --name or taken from the port, the nine values as integer\n"
     "fields, the time in nanoseconds), for Telegraf's exec input and similar collectors.\n"
     "--line NAME=DEVICE (repeatable) runs several lines side by side in this process, each\n"
     "at its own line's pace: one stream with the line's name in each row (a first column\n"
     "line in CSV, a field in JSONL, the tag in Influx), the CSV's time in seconds since\n"
     "live began; --count counts each line's rows. DEVICE is anything --device takes.\n"},
    {"capture", "capture raw|norm [-o FILE]", 1, 1, kNeedsLine | kTakesOutput,
     "Panel steps: the graph source RAW or NORM, then Data. Prints the curve of 128 points\n"
     "as CSV, as Save curve writes it; -o FILE writes the CSV to FILE, or with a name\n"
     "ending in .png or .pdf the graph as the panel draws it.\n"},
    {"report",
     "report -o FILE.pdf [--capture raw|norm] [--unit-id ID] [--station NAME] [--note TEXT]\n"
     "                   [--operator NAME] [--state DIR]",
     0, 0, kNeedsLine | kTakesOutput | kTakesReport | kTakesUnit | kTakesState,
     "Checks first that the folder of FILE takes a new file. Panel steps: with --capture, the\n"
     "graph source RAW or NORM and Data; then the reads of Report: Get's request to RAM and\n"
     "Get's request to EEPROM, each carrying the parameter set as it stands and leaving it\n"
     "as it was. Writes FILE, whole or not at all, replacing an older one (and saying so):\n"
     "the commissioning report as an A4 PDF/A-1b file with the program, the firmware, the\n"
     "port, the computer, the date and time, the operator (--operator, else the login name),\n"
     "the unit (--unit-id, its serial number or asset tag) and its station (--station), both\n"
     "on every page, both sets word by word with their differences marked and each word's\n"
     "unit and meaning, the fingerprint of the EEPROM set (SHA-256 of its 32 frame bytes),\n"
     "the data curve (without --capture a note that there is none), the line's ten newest\n"
     "records of the audit trail, the note and lines for the signatures. --state DIR takes\n"
     "the trail and the approved set of a line's agent from its state directory DIR: the\n"
     "approved set then stands beside RAM and EEPROM. Prints the file and the fingerprint.\n"},
    {"publish",
     "publish --broker mqtt[s]://HOST[:PORT] [PUBLISHER OPTION]... [--line NAME=DEVICE]... | "
     "--config FILE",
     0, 0, kPublishes | kTakesLines | kTakesState,
     "The line's agent. Runs the panel's start-up on the port, then Run for as long as it\n"
     "runs, and publishes under PREFIX/NAME/ on the MQTT broker:\n"
     "  live        every live reply, one JSON object: its Unix time, seq counting every\n"
     "              reply, the nine values\n"
     "  info        retained: program, firmware, board variant, port, the RAM set, the unit,\n"
     "              when taken; the name, who publishes (instance, host, pid, started) and\n"
     "              what it takes (commands, parameter_server)\n"
     "  status      retained JSON: status online, no-controller (text: the status text of\n"
     "              the failure) or offline (text: stopped, or connection lost as the\n"
     "              broker's last will), with instance, host, pid, started and time\n"
     "  parameters  retained: the parameter server's mode, approved set, the EEPROM set last\n"
     "              read, whether they match and the last restore\n"
     "  event       store, difference, restore, refused, conflict\n"
     "  audit       each record of the line's audit trail as it is written\n"
     "  cmd/VERB    the plant's commands, with --commands read or write: info, get, diff,\n"
     "              capture, report; send, teach, reset, store, restore. Each runs between\n"
     "              two live exchanges with the panel step's requests (one runs, 16 wait,\n"
     "              more are answered Busy) and is answered with the object --json prints\n"
     "              for it, on the request's response topic (MQTT 5) or its reply_to\n"
     "A broker that is away costs the line nothing: replies are counted and dropped, and it\n"
     "is tried again every second for 10 s, then up to 30 s apart. A controller that stops\n"
     "answering puts no-controller on status, and the start-up is tried every 5 s until it\n"
     "answers; after each start-up that finds one, a parameter server (when on) reads its\n"
     "EEPROM set. A second agent of the same name yields (status conflict, not retained)\n"
     "until the name is free. Each write to a controller is a record in the audit trail of\n"
     "the state directory. Ctrl+C or SIGTERM publishes offline and ends it with 0; a wrong\n"
     "command line or config, or an approved set's file that is damaged, ends it with 2.\n"
     "  --broker mqtt[s]://HOST[:PORT]  the broker; mqtts for TLS (ports 1883, 8883)\n"
     "  --name NAME          the line's name in topics (default: the computer's and the\n"
     "                       port's, cabinet-pc-ttyUSB0)\n"
     "  --topic PREFIX       the topics' first levels (default rmx7)\n"
     "  --every N            publish every Nth reply (default 1)\n"
     "  --qos 0|1            (default 0)\n"
     "  --client-id ID       (default: a new random id for each connection)\n"
     "  --username NAME      with the password from --password-file FILE, else the service's\n"
     "                       credential mqtt-password, else the environment variable\n"
     "                       RMX7_MQTT_PASSWORD; never the command line\n"
     "  --cafile FILE        the CA of the broker's certificate (default: the system's)\n"
     "  --cert FILE --key FILE  a client certificate and its key\n"
     "  --commands off|read|write  the plant's commands: none (default); the read verbs;\n"
     "                       or every verb. Give write over TLS, with the broker's ACL\n"
     "  --parameter-server off|backup|restore  the line's approved set: none (default);\n"
     "                       the controller's first EEPROM set is kept; or also written\n"
     "                       into a controller of the same firmware that holds another,\n"
     "                       and read back (one of other firmware is refused)\n"
     "  --state DIR          the approved set (approved-set.json) and the audit trail\n"
     "                       (RMX7audit.db); default: the service's state directory,\n"
     "                       else lines/NAME in the data folder; serving several lines,\n"
     "                       a folder NAME each below DIR or the service's\n"
     "  --config FILE        the same settings as 'key = value' lines (commands,\n"
     "                       parameter-server and state among them), and device = DEVICE;\n"
     "                       a defaults.conf beside FILE gives what every line shares\n"
     "  --line NAME=DEVICE   serve several lines from this process, each with its own\n"
     "                       connection, topics, status and last will (repeatable; in a\n"
     "                       config as line = NAME=DEVICE lines)\n"},
    {"audit", "audit [--state DIR] [--line NAME] [--since DATE] [--json|--csv] [--check]", 0, 0,
     kTakesAudit | kTakesState,
     "Prints the audit trail, oldest record first: a record for each write to a controller's\n"
     "RAM or EEPROM (send, teach and reset append theirs, as do the panel's Send, Teach and\n"
     "Reset; a line's agent appends to the trail of its state directory). Each record holds\n"
     "the time (UTC), the line, port, device and firmware, the account and the operator, the\n"
     "origin (panel, command-line, plant-command, parameter-server), the verb and memory,\n"
     "the words written and their fingerprint, the words they replaced where known, the\n"
     "result and its exit code, and the hashes that chain it to the record before. Opens no\n"
     "port.\n"
     "  --state DIR    the trail in a line's state directory (default: the data folder's,\n"
     "                 which send, teach, reset and the panel write)\n"
     "  --line NAME    only the records of that line\n"
     "  --since DATE   only records from DATE on: YYYY-MM-DD[THH:MM[:SS]], local time\n"
     "                 unless it ends in Z or +HH:MM\n"
     "  --csv          as CSV with a header line; --json as one object with every field\n"
     "  --check        walks the whole chain instead: exit code 5, naming the first bad\n"
     "                 record, when a record was changed or removed afterwards\n"},
    {"plant",
     "plant status|diff|restore|store|report|forget --broker mqtt[s]://HOST[:PORT] "
     "[--topic PREFIX] [--lines GLOB[,GLOB]...] [-o DIR]",
     1, 1, kPublishes | kReadsPlant | kTakesOutput | kTakesReport,
     "The plant from its broker alone: every line whose agent publishes under PREFIX (default\n"
     "rmx7), or those --lines names (names or patterns such as 'hall3-*', joined by commas).\n"
     "No port is opened; commands go to the lines' agents (rmx7ctl publish --commands), each\n"
     "line has 5 s to answer.\n"
     "  status   each line's status and since when, firmware, port, its set against its\n"
     "           approved set, its last event; from the retained topics, read for 2 s at most\n"
     "  diff     each line's agent reads RAM and EEPROM and compares them with the approved set\n"
     "  restore  each line's agent writes the approved set into EEPROM and RAM, read back\n"
     "  store    each line's agent makes the EEPROM set the approved set\n"
     "  report -o DIR [--capture raw|norm] [--note TEXT]  a commissioning report of each line,\n"
     "           written into DIR as NAME-YYYYMMDD-HHMM.pdf and checked against its SHA-256\n"
     "  forget   clears the retained topics of lines that are offline (retired or mistyped),\n"
     "           naming each first; a line that is not offline is refused\n"
     "restore, store and forget want --lines, so that no plant is written by a slip. A line\n"
     "that does not take the command (offline, no controller, commands off or read only) is\n"
     "not sent it. --operator NAME goes with every command (default: the login name). The\n"
     "broker's options are the publisher's: --username, --password-file, --cafile, --cert,\n"
     "--key, --client-id, --config. Prints a table, or with --json one object with a member\n"
     "per line; each line has its own exit code, and the tool exits with the highest.\n"},
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
    } else if (arg == "--csv") {
        options.csv = true;
    } else if (arg == "--check") {
        options.check = true;
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
    } else if (TakeValue(argc, argv, i, "--line", value, error)) {
        options.lineArguments.push_back(value);
    } else if (TakeValue(argc, argv, i, "--set", value, error)) {
        options.sets.push_back(value);
    } else if (TakeValue(argc, argv, i, "--output", value, error) ||
               TakeValue(argc, argv, i, "-o", value, error)) {
        options.output = value;
    } else if (TakeValue(argc, argv, i, "--agent", value, error)) {
        options.agent = value;
    } else if (TakeValue(argc, argv, i, "--state", value, error)) {
        options.state = value;
    } else if (TakeValue(argc, argv, i, "--since", value, error)) {
        options.since = value;
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
    } else if (TakeValue(argc, argv, i, "--lines", value, error)) {
        options.linePatterns = value;
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

// What plant takes: a known verb, a broker, -o DIR for report alone, --lines for writes.
std::string CheckPlantLine(const Options &options) {
    static constexpr const char *kVerbs[] = {"status", "diff",   "restore",
                                             "store",  "report", "forget"};
    const std::string &verb               = options.operands[0];
    if (std::find(std::begin(kVerbs), std::end(kVerbs), verb) == std::end(kVerbs))
        return "plant wants status, diff, restore, store, report or forget, not '" + verb + "'";
    if (options.shared.publisher.broker.empty())
        return "plant needs a broker: --broker mqtt://HOST[:PORT], or broker = in --config";
    const publish::Given &given = options.shared.publishing;
    for (const Setting &s : given.settings)
        if (s.key == "name" || s.key == "every" || s.key == "qos")
            return "plant reads the plant: --" + s.key + " is the publisher's, not its";
    if ((verb == "report") != !options.output.empty())
        return verb == "report" ? "plant report wants -o DIR, the folder for the reports"
                                : "plant " + verb + " takes no -o";
    if (verb != "report" && (!options.capture.empty() || !options.note.empty()))
        return "--capture and --note go with plant report only";
    if (!options.capture.empty() && options.capture != "raw" && options.capture != "norm")
        return "plant report --capture wants raw or norm, not '" + options.capture + "'";
    if ((verb == "restore" || verb == "store" || verb == "forget") && options.linePatterns.empty())
        return "plant " + verb + " writes: name the lines with --lines (--lines '*' for all)";
    return {};
}

// What an agent's command takes: the broker's TLS files and login, no port, no state.
std::string CheckAgentLine(const Command &command, const Options &options) {
    const std::string name = command.name;
    if (name != "info" && name != "get" && name != "diff" && name != "send" && name != "teach" &&
        name != "reset" && name != "capture" && name != "report")
        return "--agent runs info, get, diff, send, teach, reset, capture and report, not " + name;
    const publish::Given &given = options.shared.publishing;
    const bool connection =
        std::all_of(given.settings.begin(), given.settings.end(), [](const Setting &s) {
            return s.key == "broker" || s.key == "username" || s.key == "password-file" ||
                   s.key == "cafile" || s.key == "cert" || s.key == "key" || s.key == "client-id";
        });
    if (!connection || !options.shared.ports.empty() || options.shared.simulate ||
        options.com != 1 || !options.state.empty() || options.get)
        return "--agent reaches the line through its agent: no --device, --port, --com, "
               "--simulate, --state, --get or publisher options but the broker's login and TLS "
               "files (--username, --password-file, --cafile, --cert, --key)";
    return {};
}

// Publisher options given, but for the --name that live takes too.
bool PublisherOptions(const Options &options) {
    const publish::Given &given = options.shared.publishing;
    return !given.config.empty() ||
           std::any_of(given.settings.begin(), given.settings.end(), [&](const Setting &s) {
               return s.key != "name" || options.command != "live";
           });
}

std::string CheckAuditLine(const Options &options) {
    std::int64_t since = 0;
    std::string error;
    if (options.csv && options.json)
        return "audit prints --json or --csv, not both";
    if (options.check && (options.csv || !options.line.empty() || !options.since.empty()))
        return "audit --check walks the whole chain: no --csv, --line or --since with it";
    if (!options.since.empty() && !plant::ParseDate(options.since, since, error))
        return "--since: " + error;
    return {};
}

} // namespace

Options ParseOptions(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc && options.error.empty(); ++i)
        ParseOne(argc, argv, i, options);
    // audit names one line to show; live and publish name the lines they serve.
    for (const std::string &value : options.lineArguments) {
        if (!options.error.empty())
            break;
        if (options.command == "audit") {
            options.line = value;
            continue;
        }
        std::pair<std::string, std::string> line;
        options.error = publish::ParseLine(value, line);
        options.lines.push_back(std::move(line));
    }
    // The agent's broker, with the publisher's login and TLS files as given.
    if (options.error.empty() && !options.agent.empty()) {
        publish::Given &given = options.shared.publishing;
        if (std::any_of(given.settings.begin(), given.settings.end(),
                        [](const Setting &s) { return s.key == "broker"; }))
            options.error = "--agent names the broker: no --broker with it";
        else if (const std::optional<AgentAddress> agent = ParseAgent(options.agent, options.error))
            given.settings.push_back({"broker", agent->broker, 0});
    }
    if (options.error.empty()) {
        app::FinishSharedOptions(options.shared);
        options.error = options.shared.error;
    }
    if (options.error.empty())
        options.error = app::CheckSharedOptions(options.shared);
    return options;
}

std::optional<AgentAddress> ParseAgent(const std::string &url, std::string &error) {
    const std::size_t scheme = url.find("://");
    const std::size_t path   = scheme == std::string::npos ? scheme : url.find('/', scheme + 3);
    const std::size_t last   = url.rfind('/');
    if (path == std::string::npos || last <= path || last + 1 == url.size()) {
        error = "--agent wants mqtt[s]://BROKER[:PORT]/PREFIX/NAME, not '" + url + "'";
        return std::nullopt;
    }
    return AgentAddress{url.substr(0, path), url.substr(path + 1, last - path - 1),
                        url.substr(last + 1)};
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
    if (!options.agent.empty())
        if (const std::string wrong = CheckAgentLine(command, options); !wrong.empty())
            return wrong;
    const int operands = static_cast<int>(options.operands.size());
    if (operands < command.minOperands || operands > command.maxOperands)
        return "usage: rmx7ctl " + std::string(command.synopsis);
    const auto refuses = [&](unsigned what) { return (command.accepts & what) == 0; };
    if ((!options.output.empty() && refuses(kTakesOutput)) ||
        (!options.sets.empty() && refuses(kTakesSet)) ||
        (options.verify && refuses(kTakesVerify)) || (options.get && refuses(kTakesGet)) ||
        (!options.from.empty() && refuses(kTakesFrom)) ||
        ((options.count > 0 || options.seconds > 0) && refuses(kTakesCount)) ||
        ((!options.capture.empty() || !options.note.empty() || !options.operatorName.empty()) &&
         refuses(kTakesReport)) ||
        ((!options.unitId.empty() || !options.station.empty()) && refuses(kTakesUnit)) ||
        (!options.format.empty() && refuses(kTakesFormat)) ||
        (!options.lines.empty() && refuses(kTakesLines)) ||
        (!options.linePatterns.empty() && refuses(kReadsPlant)) ||
        (PublisherOptions(options) && options.agent.empty() && refuses(kPublishes)) ||
        (!options.state.empty() && refuses(kTakesState)) ||
        ((!options.line.empty() || !options.since.empty() || options.csv || options.check) &&
         refuses(kTakesAudit)))
        return name + " takes no such option; usage: rmx7ctl " + command.synopsis;
    if (!options.lines.empty() &&
        (!options.shared.ports.empty() || options.shared.simulate || options.com != 1))
        return "--line names each line's device: no --device, --port, --com or --simulate with it";
    if (options.count > 0 && options.seconds > 0)
        return "live takes --count or --seconds, not both";
    if (options.json && (options.format == "jsonl" || options.format == "influx"))
        return "live --format " + options.format + " writes its own lines: no --json with it";
    if (name == "publish" && options.shared.publisher.broker.empty())
        return "publish needs a broker: --broker mqtt://HOST[:PORT], or broker = in --config";
    // A config is a line's: without a device it would quietly mean COM1, /dev/ttyS0.
    if (name == "publish" && !options.shared.publishing.config.empty() &&
        options.shared.ports.empty() && !options.shared.simulate && options.lines.empty() &&
        options.shared.publisher.lines.empty())
        return options.shared.publishing.config +
               " names no line: add device = DEVICE (a serial device or a remote line), or "
               "line = NAME=DEVICE lines";
    if (name == "plant")
        return CheckPlantLine(options);
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
    if (name == "audit")
        return CheckAuditLine(options);
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
        "  --version            show the version and exit\n"
        "  --agent mqtt[s]://BROKER[:PORT]/PREFIX/NAME   run the command (info, get, diff,\n"
        "                       send, teach, reset, capture, report) through the agent of\n"
        "                       the line NAME, which holds its port, over the plant's broker;\n"
        "                       the broker's login and TLS files in --config FILE. It prints\n"
        "                       and ends as on a port\n\n"
        "Command options:\n"
        "  -o, --output FILE    get: save the set as a parameter file; capture: write the\n"
        "                       curve as CSV, or as .png or .pdf of the graph\n"
        "  --set NAME=VALUE     send: a parameter's value, 0 to 65535; repeatable\n"
        "  --from ram|eeprom    send: start from that memory's set, as it stands\n"
        "  --verify             send: read the set back and compare (send always does)\n"
        "  --get                teach: then read the set from RAM and print it\n"
        "  --count N, --seconds S   live: stop after N rows or S seconds\n"
        "  --lines GLOB[,GLOB]  plant: the lines to read or command (default: all)\n"
        "  --state DIR          audit, diff, report: a line's state directory, whose trail\n"
        "                       and approved set they take; publish: where it keeps them\n"
        "  --line NAME, --since DATE, --csv, --check   audit: which records, how; --check\n"
        "                       walks the chain\n\n"
        "Data goes to standard output; status texts and diagnostics to standard error.\n"
        "Exit codes: 0 success, 1 the tool could not start (panel file missing), 2 wrong\n"
        "command line, 3 the port cannot be opened, 4 no controller or a time-out, 5 send read\n"
        "back another set, diff found differences or audit --check a broken chain, 6 a file\n"
        "cannot be read or written.\n"
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
