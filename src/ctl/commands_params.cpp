// The parameter commands: info, get, send, diff, teach, reset.
#include "commands.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel/panel.h"
#include "report.h"

#include <filesystem>

namespace ctl {

namespace {

using com232::PNUM;

// After Send, as an operator's pause: the set must be out on the line (36 bytes take 19 ms)
// before the Get of --verify flushes the output queue or the port is closed with its old
// settings back, and a controller still storing the set may not answer at once.
constexpr double kSettleSeconds = 0.1;

struct Setting {
    int word;
    std::uint16_t value;
};

Words CurrentWords() {
    return com232::WordsOf(com232::ParameterSet());
}

int TargetOf(const std::string &memory) {
    return memory == "eeprom" ? com232::EEPROM : com232::RAM;
}

// The panel's own rules for a parameter file, before anything goes on the line. A file of
// words 11 to 15 that are not 0 is taken; one about to be sent, the user is told what Send
// makes of them.
Outcome CheckParameterFile(const std::string &path, bool sending) {
    const gui::ParameterFileRead read = gui::ReadParameterFile(path);
    if (!read.outcome.ok())
        return {status::Result::FileFailed, read.outcome.detail + " - refused, nothing sent"};
    if (sending && !read.zeroedWords.empty())
        Warn(path + ": " + read.zeroedWords);
    return {};
}

// An operand meant as --set: "power=600" that is no file.
Outcome CheckNotASetting(const std::string &operand) {
    std::error_code error;
    if (operand.find('=') == std::string::npos || std::filesystem::exists(operand, error))
        return {};
    return {status::Result::Refused,
            "'" + operand + "' is no parameter file; to set a value, write --set " + operand};
}

// The target button and Get.
Outcome GetFrom(int target) {
    ChooseTarget(target);
    return OutcomeOf(ClickGet());
}

// The File button and Get, the load dialog answered with path.
Outcome LoadFile(const std::string &path) {
    ChooseTarget(com232::DATFILE);
    AnswerDialogsWith(path);
    return OutcomeOf(ClickGet());
}

// The File button and Send, the save dialog answered with path.
status::Outcome SaveFile(const std::string &path) {
    ChooseTarget(com232::DATFILE);
    AnswerDialogsWith(path);
    return ClickSend();
}

// "1 word", "3 words"
std::string CountOfWords(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " word" : " words");
}

// Each NAME=VALUE as a word and its value, checked against the range the word's control
// takes, before anything goes on the line.
Outcome ParseSettings(const std::vector<std::string> &sets, std::vector<Setting> &settings) {
    for (const std::string &set : sets) {
        const std::size_t equals = set.find('=');
        const std::string name   = set.substr(0, equals);
        const int word           = parameters::WordOf(name);
        if (equals == std::string::npos)
            return {status::Result::Refused, "--set wants NAME=VALUE, not '" + set + "'"};
        if (word < 0)
            return {status::Result::Refused, "no parameter is called '" + name +
                                                 "'; the names are " + parameters::SettableNames()};
        const parameters::Parameter &p = parameters::kTable[word];
        if (p.sentAsZero)
            return {status::Result::Refused,
                    name + " cannot be set: send transmits words 11 to 15 (para12 to "
                           "para16) as 0"};
        const std::string text = set.substr(equals + 1);
        std::size_t used       = 0;
        long value             = -1;
        try {
            value = std::stol(text, &used);
        } catch (const std::exception &) {
            used = 0;
        }
        // Digits only: a sign or a point is not taken, as in a parameter file.
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
            used != text.size() || value > parameters::kLargestWord)
            return {status::Result::Refused,
                    name + " wants a whole number from 0 to 65535, not '" + text + "'"};
        if (value < p.minimum || value > p.maximum)
            return {status::Result::Refused, name + " takes " + std::to_string(p.minimum) + " to " +
                                                 std::to_string(p.maximum) + ", not " + text};
        settings.push_back({word, static_cast<std::uint16_t>(value)});
    }
    return {};
}

// Types each value into its control, as the operator does; a word without a control
// (average) is taken into its variable, which the Send passes on.
void ApplySettings(const std::vector<Setting> &settings) {
    for (const Setting &s : settings) {
        const int control = parameters::kTable[s.word].control;
        if (control != 0) {
            SetCtrlVal(gui::Panel(), control, s.value);
            continue;
        }
        com232::Words words = CurrentWords();
        words[s.word]       = s.value;
        com232::SetParameterSet(com232::ParametersOf(words));
    }
}

std::string JsonDifference(int word, const std::vector<std::pair<const char *, int>> &values) {
    JsonObject object;
    object.Add("word", std::to_string(word));
    object.Add("name", JsonString(NameOf(word)));
    for (const auto &[key, value] : values)
        object.Add(key, value < 0 ? "null" : std::to_string(value));
    return object.Text();
}

std::string OperandOf(int target) {
    return target == com232::EEPROM ? "eeprom" : "ram";
}

// Says which words the Send is about to change in the memory, from what it held to what the
// panel will send (words 11 to 15 go as 0): on standard error, and as "changes".
void TellChanges(int target, const Words &held, Report &report) {
    gui::GetPanelValues(); // as Send reads the panel first
    const Words sending = CurrentWords();
    const char *memory  = target == com232::EEPROM ? "EEPROM" : "RAM";
    std::vector<std::string> changes;
    std::string said;
    for (int i = 0; i < PNUM; ++i) {
        if (held[i] == sending[i])
            continue;
        changes.push_back(JsonDifference(i, {{"from", held[i]}, {"to", sending[i]}}));
        said += (said.empty() ? "" : ", ") + std::string(NameOf(i)) + " " +
                std::to_string(held[i]) + " -> " + std::to_string(sending[i]);
    }
    report.json.Add("changes", JsonArray(changes));
    Note(changes.empty() ? std::string(memory) + " holds these words already: nothing changes"
                         : std::string(memory) + ": " + CountOfWords(changes.size()) +
                               (changes.size() == 1 ? " changes: " : " change: ") + said);
}
} // namespace

void RunInfo(const Options &options, Report &report) {
    report.outcome = PortSetUp(options.com);
    if (!report.outcome.ok())
        return;
    const Words words = CurrentWords();
    report.json.Add("variant", std::to_string(com232::BoardVariant()));
    report.json.Add("firmware", JsonString(com232::Firmware()));
    report.json.Add("parameters", JsonWords(words));
    report.text = "variant   " + std::to_string(com232::BoardVariant()) + "\nfirmware  " +
                  com232::Firmware() + "\n" + WordTable(words);
}

void RunGet(const Options &options, Report &report) {
    report.json.Add("memory", JsonString(options.operands[0]));
    report.outcome = PortSetUp(options.com);
    if (report.outcome.ok())
        report.outcome = GetFrom(TargetOf(options.operands[0]));
    if (!report.outcome.ok())
        return;
    const Words words = CurrentWords();
    report.json.Add("parameters", JsonWords(words));
    report.json.Add("file", options.output.empty() ? "null" : JsonString(options.output));
    if (options.output.empty()) {
        report.text = WordTable(words);
        report.json.Add("result", JsonString(status::ParametersRead(
                                      options.operands[0] == "eeprom" ? "EEPROM" : "RAM")));
        return;
    }
    // The save shows no status text of its own, only the "Transmit..." of Send's press,
    // which reads as unfinished: the Get's last text says how the command went.
    report.status               = LastStatus();
    const status::Outcome saved = SaveFile(options.output);
    report.outcome              = OutcomeOf(saved);
    report.json.Add("result", JsonString(saved.detail));
    if (saved.ok())
        Note(saved.detail);
}

void RunSend(const Options &options, Report &report) {
    const int target = TargetOf(options.operands[0]);
    report.json.Add("memory", JsonString(options.operands[0]));
    // Checked before anything goes on the line.
    std::vector<Setting> settings;
    report.outcome         = ParseSettings(options.sets, settings);
    const std::string file = options.operands.size() > 1 ? options.operands[1] : "";
    if (report.outcome.ok() && !file.empty())
        report.outcome = CheckNotASetting(file);
    if (report.outcome.ok() && !file.empty())
        report.outcome = CheckParameterFile(file, true);
    if (report.outcome.ok())
        report.outcome = PortSetUp(options.com);
    // What the memory holds, read as the operator reads it before editing: only the words
    // asked for change, never what waits unsaved elsewhere.
    if (report.outcome.ok())
        report.outcome = GetFrom(target);
    const Words held = CurrentWords();
    const int from   = options.from.empty() ? target : TargetOf(options.from);
    if (report.outcome.ok() && !file.empty())
        report.outcome = LoadFile(file);
    else if (report.outcome.ok() && from != target)
        report.outcome = GetFrom(from);
    if (!report.outcome.ok())
        return;
    report.json.Add("base", JsonString(file.empty() ? OperandOf(from) : file));
    ApplySettings(settings);
    TellChanges(target, held, report);

    ChooseTarget(target);
    const status::Outcome sending = ClickSend();
    report.outcome                = OutcomeOf(sending);
    report.json.Add("result", sending.ok() ? JsonString(sending.detail) : "null");
    if (!report.outcome.ok())
        return;
    const Words sent = com232::FrameWords();
    report.json.Add("sent", JsonWords(sent));
    report.text = WordTable(sent);
    Pause(kSettleSeconds);
    report.outcome = GetFrom(target);
    if (!report.outcome.ok())
        return;
    const Words read = CurrentWords();
    std::vector<std::string> differences;
    for (int i = 0; i < PNUM; ++i) {
        if (read[i] == sent[i])
            continue;
        differences.push_back(JsonDifference(i, {{"sent", sent[i]}, {"read", read[i]}}));
        report.text += "differs " + std::to_string(i) + " " + NameOf(i) + " sent " +
                       std::to_string(sent[i]) + " read " + std::to_string(read[i]) + "\n";
    }
    report.json.Add("read", JsonWords(read));
    report.json.Add("differences", JsonArray(differences));
    if (!differences.empty())
        report.outcome = {status::Result::Differs,
                          "the set read back differs in " + CountOfWords(differences.size())};
}

void RunDiff(const Options &options, Report &report) {
    const std::string file = options.operands.empty() ? "" : options.operands[0];
    if (!file.empty())
        report.outcome = CheckParameterFile(file, false);
    if (report.outcome.ok())
        report.outcome = PortSetUp(options.com);
    if (report.outcome.ok())
        report.outcome = GetFrom(com232::RAM);
    const Words ram = CurrentWords();
    if (report.outcome.ok())
        report.outcome = GetFrom(com232::EEPROM);
    const Words eeprom = CurrentWords();
    if (report.outcome.ok() && !file.empty())
        report.outcome = LoadFile(file);
    const Words loaded = CurrentWords();
    if (!report.outcome.ok())
        return;

    std::vector<std::string> differences;
    std::string rows;
    for (int i = 0; i < PNUM; ++i) {
        const int fromFile = file.empty() ? -1 : loaded[i];
        if (ram[i] == eeprom[i] && (fromFile < 0 || (fromFile == ram[i] && fromFile == eeprom[i])))
            continue;
        differences.push_back(
            JsonDifference(i, {{"ram", ram[i]}, {"eeprom", eeprom[i]}, {"file", fromFile}}));
        char line[80];
        std::snprintf(line, sizeof line,
                      fromFile < 0 ? "%4d %-10s %5u %6u\n" : "%4d %-10s %5u %6u %5d\n", i,
                      NameOf(i), ram[i], eeprom[i], fromFile);
        rows += line;
    }
    if (!rows.empty())
        report.text = (file.empty() ? "word name        ram eeprom\n"
                                    : "word name        ram eeprom  file\n") +
                      rows;
    else
        report.text = file.empty() ? "RAM and EEPROM agree in all 16 words\n"
                                   : "RAM, EEPROM and " + file + " agree in all 16 words\n";
    // A report prints the EEPROM set's fingerprint; these say which set that was.
    struct NamedSet {
        const char *name;
        const Words *words;
    };
    std::vector<NamedSet> sets = {{"ram", &ram}, {"eeprom", &eeprom}};
    if (!file.empty())
        sets.push_back({"file", &loaded});
    JsonObject fingerprints;
    for (const NamedSet &set : sets) {
        const std::string fingerprint = report::Fingerprint(*set.words);
        fingerprints.Add(set.name, JsonString(fingerprint));
        char line[96];
        std::snprintf(line, sizeof line, "fingerprint %-6s %s\n", set.name, fingerprint.c_str());
        report.text += line;
    }
    if (file.empty())
        fingerprints.Add("file", "null");
    report.json.Add("ram", JsonWords(ram));
    report.json.Add("eeprom", JsonWords(eeprom));
    report.json.Add("file", file.empty() ? "null" : JsonWords(loaded));
    report.json.Add("fingerprints", fingerprints.Text());
    report.json.Add("differences", JsonArray(differences));
    if (!differences.empty())
        report.outcome = {status::Result::Differs,
                          CountOfWords(differences.size()) +
                              (differences.size() == 1 ? " differs" : " differ")};
}

void RunTeach(const Options &options, Report &report) {
    report.outcome = PortSetUp(options.com);
    if (!report.outcome.ok())
        return;
    const status::Outcome taught = ClickTeach();
    report.outcome               = OutcomeOf(taught);
    // Only an answer tells that the controller taught itself a reference, perhaps another
    // one than the panel's; the command line's words name the command that reads it.
    const bool answered = com232::ReplyWaiting();
    report.json.Add("result", answered ? JsonString(status::kTaughtCommandLine) : "null");
    if (answered && !options.get)
        Note(status::kTaughtCommandLine);
    if (!report.outcome.ok() || !options.get) {
        report.json.Add("parameters", "null");
        return;
    }
    report.outcome    = GetFrom(com232::RAM);
    const Words words = CurrentWords();
    report.json.Add("parameters", report.outcome.ok() ? JsonWords(words) : "null");
    if (report.outcome.ok())
        report.text = WordTable(words);
}

void RunReset(const Options &options, Report &report) {
    report.outcome = PortSetUp(options.com);
    if (!report.outcome.ok())
        return;
    const status::Outcome reset = ClickReset();
    report.outcome              = OutcomeOf(reset);
    const Words words           = CurrentWords();
    report.json.Add("result", reset.ok() ? JsonString(reset.detail) : "null");
    report.json.Add("parameters", JsonWords(words));
    if (report.outcome.ok())
        report.text = WordTable(words);
}

} // namespace ctl
