// The parameter commands: info, get, send, diff, teach, reset.
#include "commands.h"

#include "com232.h"
#include "gui.h"
#include "plant/approved_set.h"
#include "plant/verbs.h"
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

Words CurrentWords(Session &session) {
    return com232::WordsOf(session.Line().ParameterSet());
}

com232::Target TargetOf(const std::string &memory) {
    return memory == "eeprom" ? com232::Target::EEPROM : com232::Target::RAM;
}

// The panel's own rules for a parameter file, before anything goes on the line. A file of
// words 11 to 15 that are not 0 is taken; one about to be sent, the user is told what Send
// makes of them.
Outcome CheckParameterFile(const std::string &path, bool sending) {
    const gui::ParameterFileRead read = gui::ReadParameterFile(path);
    if (!read.outcome.ok())
        return {status::Result::FileFailed, read.outcome.detail + " - refused, nothing sent"};
    if (sending && !read.zeroedWords.empty())
        Session::Warn(path + ": " + read.zeroedWords);
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
job::Task<Outcome> GetFrom(Session &session, com232::Target target) {
    session.ChooseTarget(target);
    co_return OutcomeOf(co_await session.ClickGet());
}

// The File button and Get, the load dialog answered with path.
job::Task<Outcome> LoadFile(Session &session, std::string path) {
    session.ChooseTarget(com232::Target::DATFILE);
    session.AnswerDialogsWith(path);
    co_return OutcomeOf(co_await session.ClickGet());
}

// The File button and Send, the save dialog answered with path.
job::Task<status::Outcome> SaveFile(Session &session, std::string path) {
    session.ChooseTarget(com232::Target::DATFILE);
    session.AnswerDialogsWith(path);
    co_return co_await session.ClickSend();
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
void ApplySettings(Session &session, const std::vector<Setting> &settings) {
    const int panel = session.Program().PanelHandle();
    for (const Setting &s : settings) {
        const int control = parameters::kTable[s.word].control;
        if (control != 0) {
            SetCtrlVal(panel, control, s.value);
            continue;
        }
        com232::Words words = CurrentWords(session);
        words[s.word]       = s.value;
        session.Line().SetParameterSet(com232::ParametersOf(words));
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

std::string OperandOf(com232::Target target) {
    return target == com232::Target::EEPROM ? "eeprom" : "ram";
}

// Says which words the Send is about to change in the memory, from what it held to what the
// panel will send (words 11 to 15 go as 0): on standard error, and as "changes".
void TellChanges(Session &session, com232::Target target, const Words &held, Report &report) {
    session.Program().Panel().GetPanelValues(); // as Send reads the panel first
    const Words sending = CurrentWords(session);
    const char *memory  = com232::MemoryName(target);
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
    session.Note(changes.empty()
                     ? std::string(memory) + " holds these words already: nothing changes"
                     : std::string(memory) + ": " + CountOfWords(changes.size()) +
                           (changes.size() == 1 ? " changes: " : " change: ") + said);
}

// Send, its pause, and the Get that reads the set back and compares it; the words the
// request carried.
job::Task<Words> SendAndVerify(Session &session, com232::Target target, Report &report) {
    session.ChooseTarget(target);
    const status::Outcome sending = co_await session.ClickSend();
    const Words sent              = session.Line().FrameWords();
    report.outcome                = OutcomeOf(sending);
    report.json.Add("result", sending.ok() ? JsonString(sending.detail) : "null");
    if (!report.outcome.ok())
        co_return sent;
    report.json.Add("sent", JsonWords(sent));
    report.text = WordTable(sent);
    co_await session.Pause(kSettleSeconds);
    report.outcome = co_await GetFrom(session, target);
    if (!report.outcome.ok())
        co_return sent;
    const Words read = CurrentWords(session);
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
    co_return sent;
}

} // namespace

job::Task<void> RunInfo(Session &session, const Options &options, Report &report) {
    report.outcome = co_await session.PortSetUp(options.com);
    if (!report.outcome.ok())
        co_return;
    const com232::Line &line = session.Line();
    const Words words        = CurrentWords(session);
    report.json.Add("variant", std::to_string(line.BoardVariant()));
    report.json.Add("firmware", JsonString(line.Firmware()));
    report.json.Add("parameters", JsonWords(words));
    report.text = "variant   " + std::to_string(line.BoardVariant()) + "\nfirmware  " +
                  PrintableText(line.Firmware()) + "\n" + WordTable(words);
}

job::Task<void> RunGet(Session &session, const Options &options, Report &report) {
    report.json.Add("memory", JsonString(options.operands[0]));
    report.outcome = co_await session.PortSetUp(options.com);
    if (report.outcome.ok())
        report.outcome = co_await GetFrom(session, TargetOf(options.operands[0]));
    if (!report.outcome.ok())
        co_return;
    const Words words = CurrentWords(session);
    report.json.Add("parameters", JsonWords(words));
    report.json.Add("file", options.output.empty() ? "null" : JsonString(options.output));
    if (options.output.empty()) {
        report.text = WordTable(words);
        report.json.Add("result", JsonString(status::ParametersRead(
                                      com232::MemoryName(TargetOf(options.operands[0])))));
        co_return;
    }
    // The save shows no status text of its own, only the "Transmit..." of Send's press,
    // which reads as unfinished: the Get's last text says how the command went.
    report.status               = session.LastStatus();
    const status::Outcome saved = co_await SaveFile(session, options.output);
    report.outcome              = OutcomeOf(saved);
    report.json.Add("result", JsonString(saved.detail));
    if (saved.ok())
        session.Note(saved.detail);
}

job::Task<void> RunSend(Session &session, const Options &options, Report &report) {
    const com232::Target target = TargetOf(options.operands[0]);
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
        report.outcome = co_await session.PortSetUp(options.com);
    // What the memory holds, read as the operator reads it before editing: only the words
    // asked for change, never what waits unsaved elsewhere.
    if (report.outcome.ok())
        report.outcome = co_await GetFrom(session, target);
    const Words held          = CurrentWords(session);
    const com232::Target from = options.from.empty() ? target : TargetOf(options.from);
    if (report.outcome.ok() && !file.empty())
        report.outcome = co_await LoadFile(session, file);
    else if (report.outcome.ok() && from != target)
        report.outcome = co_await GetFrom(session, from);
    if (!report.outcome.ok())
        co_return;
    report.json.Add("base", JsonString(file.empty() ? OperandOf(from) : file));
    ApplySettings(session, settings);
    TellChanges(session, target, held, report);

    const Words sent = co_await SendAndVerify(session, target, report);
    RecordWrite(session, options,
                {"send", options.operands[0].c_str(), sent, held,
                 plant::ResultCodeOf(report.outcome.result)});
}

job::Task<void> RunDiff(Session &session, const Options &options, Report &report) {
    const std::string file = options.operands.empty() ? "" : options.operands[0];
    if (!file.empty())
        report.outcome = CheckParameterFile(file, false);
    if (report.outcome.ok())
        report.outcome = co_await session.PortSetUp(options.com);
    if (report.outcome.ok())
        report.outcome = co_await GetFrom(session, com232::Target::RAM);
    const Words ram = CurrentWords(session);
    if (report.outcome.ok())
        report.outcome = co_await GetFrom(session, com232::Target::EEPROM);
    const Words eeprom = CurrentWords(session);
    if (report.outcome.ok() && !file.empty())
        report.outcome = co_await LoadFile(session, file);
    const Words loaded = CurrentWords(session);
    if (!report.outcome.ok())
        co_return;

    // With a line's state directory, its approved set beside them.
    std::optional<plant::ApprovedSet> approved;
    if (!options.state.empty()) {
        std::string error;
        if (!plant::ReadApprovedSet(plant::FileIn(options.state, plant::kApprovedSetFile), approved,
                                    error)) {
            report.outcome = {status::Result::FileFailed, error};
            co_return;
        }
    }
    plant::Comparison comparison = plant::CompareSets(
        ram, eeprom, {file, file.empty() ? std::nullopt : std::optional<Words>(loaded)},
        options.state.empty() ? nullptr : &approved);
    report.text = comparison.table;
    report.json = std::move(comparison.members);
    if (comparison.differing > 0)
        report.outcome = {status::Result::Differs,
                          CountOfWords(comparison.differing) +
                              (comparison.differing == 1 ? " differs" : " differ")};
}

job::Task<void> RunTeach(Session &session, const Options &options, Report &report) {
    report.outcome = co_await session.PortSetUp(options.com);
    if (!report.outcome.ok())
        co_return;
    // Teach carries the set as it stands: the RAM set the set-up fetched.
    const Words ram              = CurrentWords(session);
    const status::Outcome taught = co_await session.ClickTeach();
    report.outcome               = OutcomeOf(taught);
    RecordWrite(session, options, {"teach", "ram", ram, ram, plant::ResultCodeOf(taught.result)});
    // Only an answer tells that the controller taught itself a reference, perhaps another
    // one than the panel's; the command line's words name the command that reads it.
    const bool answered = session.Program().TeachAnswered();
    report.json.Add("result", answered ? JsonString(status::kTaughtCommandLine) : "null");
    if (answered && !options.get)
        session.Note(status::kTaughtCommandLine);
    if (!report.outcome.ok() || !options.get) {
        report.json.Add("parameters", "null");
        co_return;
    }
    report.outcome    = co_await GetFrom(session, com232::Target::RAM);
    const Words words = CurrentWords(session);
    report.json.Add("parameters", report.outcome.ok() ? JsonWords(words) : "null");
    if (report.outcome.ok())
        report.text = WordTable(words);
}

job::Task<void> RunReset(Session &session, const Options &options, Report &report) {
    report.outcome = co_await session.PortSetUp(options.com);
    if (!report.outcome.ok())
        co_return;
    const Words ram             = CurrentWords(session);
    const status::Outcome reset = co_await session.ClickReset();
    report.outcome              = OutcomeOf(reset);
    RecordWrite(session, options, {"reset", "ram", ram, ram, plant::ResultCodeOf(reset.result)});
    const Words words = CurrentWords(session);
    report.json.Add("result", reset.ok() ? JsonString(reset.detail) : "null");
    report.json.Add("parameters", JsonWords(words));
    if (report.outcome.ok())
        report.text = WordTable(words);
}

} // namespace ctl
