// The verbs of a line's agent.
#include "plant/verbs.h"

#include "parameters.h"
#include "platform/files/textfile.h"
#include "platform/json/json.h"
#include "platform/report/fingerprint.h"
#include "platform/text.h"
#include "record.h"
#include "report.h"
#include "status.h"
#include "steps.h"

#include <cstdio>
#include <utility>

namespace plant {

namespace {

using com232::Target;
using com232::Words;
using output::JsonArray;
using output::JsonObject;
using output::JsonWords;

// After Send, as an operator's pause before the Get that verifies: the set must be out on
// the line (36 bytes take 19 ms), and a controller still storing it may not answer at once.
constexpr double kSettleSeconds = 0.1;
// A report's PDF is read back whole for the answer; one this large is none of ours.
constexpr std::size_t kLargestReport = 16 << 20;

Target TargetOf(const std::string &memory) {
    return memory == "eeprom" ? Target::EEPROM : Target::RAM;
}

// The error of a failed step as rmx7ctl says it: its detail, else its text.
std::string ErrorOf(const status::Outcome &outcome) {
    return outcome.ok() ? std::string() : outcome.detail.empty() ? outcome.text : outcome.detail;
}

Answer Failed(Answer answer, const status::Outcome &outcome) {
    answer.code  = ResultCodeOf(outcome.result);
    answer.error = ErrorOf(outcome);
    return answer;
}

std::string JsonDifference(int word, const std::vector<std::pair<const char *, int>> &values) {
    JsonObject object;
    object.Add("word", std::to_string(word));
    object.Add("name", JsonString(parameters::kTable[word].name));
    for (const auto &[key, value] : values)
        object.Add(key, value < 0 ? "null" : std::to_string(value));
    return object.Text();
}

// "1 word", "3 words"
std::string CountOfWords(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " word" : " words");
}

// The set as a request carries it from the panel: the words sent as 0 (11 to 15) go as 0.
Words AsSent(Words words) {
    for (const parameters::Parameter &p : parameters::kTable)
        if (p.sentAsZero)
            words[p.word] = 0;
    return words;
}

std::string ApprovedJson(const ApprovedSet &set) {
    JsonObject object;
    object.Add("words", JsonWords(set.words));
    object.Add("fingerprint", JsonString(set.fingerprint));
    object.Add("firmware", JsonString(set.firmware));
    object.Add("by", JsonString(set.by));
    return object.Text();
}

} // namespace

Comparison CompareSets(const Words &ram, const Words &eeprom, const NamedWords &file,
                       const std::optional<ApprovedSet> *approved) {
    const bool withFile = file.words.has_value();
    const std::optional<Words> approvedWords =
        approved && *approved ? std::optional<Words>((*approved)->words) : std::nullopt;
    Comparison comparison;
    std::vector<std::string> differences;
    std::string rows;
    for (int i = 0; i < com232::PNUM; ++i) {
        const int fromFile     = withFile ? (*file.words)[i] : -1;
        const int fromApproved = approvedWords ? (*approvedWords)[i] : -1;
        if (ram[i] == eeprom[i] && (fromFile < 0 || (fromFile == ram[i])) &&
            (fromApproved < 0 || fromApproved == ram[i]))
            continue;
        std::vector<std::pair<const char *, int>> values = {
            {"ram", ram[i]}, {"eeprom", eeprom[i]}, {"file", fromFile}};
        if (approved)
            values.push_back({"approved", fromApproved});
        differences.push_back(JsonDifference(i, values));
        char line[96];
        int used = std::snprintf(line, sizeof line, "%4d %-10s %5u %6u", i,
                                 parameters::kTable[i].name, ram[i], eeprom[i]);
        if (withFile)
            used += std::snprintf(line + used, sizeof line - used, " %5d", fromFile);
        if (approved)
            std::snprintf(line + used, sizeof line - used, " %8s",
                          fromApproved < 0 ? "-" : std::to_string(fromApproved).c_str());
        rows += std::string(line) + "\n";
    }
    const std::string header = std::string("word name        ram eeprom") +
                               (withFile ? "  file" : "") + (approved ? " approved" : "") + "\n";
    std::string agree = "RAM and EEPROM";
    if (withFile && approved)
        agree = "RAM, EEPROM, " + file.name + " and the approved set";
    else if (withFile)
        agree = "RAM, EEPROM and " + file.name;
    else if (approvedWords)
        agree = "RAM, EEPROM and the approved set";
    comparison.table = rows.empty() ? agree + " agree in all 16 words\n" : header + rows;
    if (approved && !approvedWords)
        comparison.table += "no approved set is stored\n";

    // A report prints the EEPROM set's fingerprint; these say which set that was.
    struct NamedSet {
        const char *name;
        std::optional<Words> words;
    };
    std::vector<NamedSet> sets = {{"ram", ram}, {"eeprom", eeprom}, {"file", file.words}};
    if (approved)
        sets.push_back({"approved", approvedWords});
    JsonObject fingerprints;
    for (const NamedSet &set : sets) {
        if (!set.words) {
            fingerprints.Add(set.name, "null");
            continue;
        }
        const std::string fingerprint = report::Fingerprint(*set.words);
        fingerprints.Add(set.name, JsonString(fingerprint));
        char line[96];
        std::snprintf(line, sizeof line, "fingerprint %-*s %s\n", approved ? 8 : 6, set.name,
                      fingerprint.c_str());
        comparison.table += line;
    }
    comparison.members.Add("ram", JsonWords(ram));
    comparison.members.Add("eeprom", JsonWords(eeprom));
    comparison.members.Add("file", withFile ? JsonWords(*file.words) : "null");
    if (approved)
        comparison.members.Add("approved", approvedWords ? ApprovedJson(**approved) : "null");
    comparison.members.Add("fingerprints", fingerprints.Text());
    comparison.members.Add("differences", JsonArray(differences));
    comparison.differing = differences.size();
    return comparison;
}

Verbs::Verbs(com232::Line &line, ParameterServer &server, VerbsSetting setting)
    : line_(line), server_(server), setting_(std::move(setting)) {}

job::Task<Answer> Verbs::Run(const Request &request) {
    switch (request.verb) {
    case Verb::Info:
        co_return Info();
    case Verb::Get:
        co_return co_await Get(request);
    case Verb::Diff:
        co_return co_await Diff();
    case Verb::Capture:
        co_return co_await Capture(request.source);
    case Verb::Report:
        co_return co_await Report(request);
    case Verb::Send:
        co_return co_await Send(request);
    case Verb::Teach:
        co_return co_await Teach(request);
    case Verb::Reset:
        co_return co_await Reset(request);
    case Verb::Store:
        co_return co_await Store(request);
    case Verb::Restore:
        co_return co_await Restore(request);
    }
    co_return Answer{};
}

void Verbs::Wrote(const Request &request, const char *verb, const char *target, const Words &words,
                  std::optional<Words> replaced, ResultCode result) const {
    if (!setting_.wrote)
        return;
    audit::Record record = audit::MakeRecord(audit::Origin::PlantCommand, verb, target);
    record.operatorName  = request.operatorName;
    record.words         = words;
    record.replaced      = std::move(replaced);
    record.result        = ResultCodeName(result);
    record.exitCode      = ExitCodeOf(result);
    setting_.wrote(std::move(record));
}

Answer Verbs::Info() const {
    Answer answer;
    answer.members.Add("variant", std::to_string(line_.BoardVariant()));
    answer.members.Add("firmware", JsonString(line_.Firmware()));
    answer.members.Add("parameters", JsonWords(com232::WordsOf(line_.ParameterSet())));
    return answer;
}

job::Task<Answer> Verbs::Get(const Request &request) {
    Answer answer;
    answer.members.Add("memory", JsonString(request.memory));
    const Target target = TargetOf(request.memory);
    line_.ReopenLostPort();
    const com232::ParameterRead read = co_await line_.ReadParameterWords(target);
    if (!read.words)
        co_return Failed(std::move(answer), read.outcome);
    // The line's set stands for the controller's RAM, which the live requests carry.
    if (target == Target::RAM)
        line_.SetParameterSet(com232::ParametersOf(*read.words));
    else
        server_.SeenEeprom(*read.words);
    answer.members.Add("parameters", JsonWords(*read.words));
    answer.members.Add("file", "null");
    answer.members.Add("result", JsonString(status::ParametersRead(com232::MemoryName(target))));
    co_return answer;
}

job::Task<Answer> Verbs::Diff() {
    Answer answer;
    line_.ReopenLostPort();
    const com232::ParameterRead ram = co_await line_.ReadParameterWords(Target::RAM);
    if (!ram.words)
        co_return Failed(std::move(answer), ram.outcome);
    line_.SetParameterSet(com232::ParametersOf(*ram.words));
    const com232::ParameterRead eeprom = co_await line_.ReadParameterWords(Target::EEPROM);
    if (!eeprom.words)
        co_return Failed(std::move(answer), eeprom.outcome);
    server_.SeenEeprom(*eeprom.words);
    Comparison comparison = CompareSets(*ram.words, *eeprom.words, {}, &server_.Approved());
    answer.members        = std::move(comparison.members);
    if (comparison.differing > 0) {
        answer.code  = ResultCode::Differs;
        answer.error = CountOfWords(comparison.differing) +
                       (comparison.differing == 1 ? " differs" : " differ");
    }
    co_return answer;
}

job::Task<Answer> Verbs::Capture(const std::string &source) {
    Answer answer;
    answer.members.Add("source", JsonString(source));
    const com232::GraphSource graph =
        source == "raw" ? com232::GraphSource::Raw : com232::GraphSource::Norm;
    const steps::Captured captured = co_await steps::Capture(line_, graph);
    // Without an answer the levels of the last answered capture stay, as on the panel.
    if (captured.answered) {
        upper_ = captured.closing.UPval;
        lower_ = captured.closing.LOval;
    }
    exports_.NoteCapture(
        steps::CurveOf(line_, graph, upper_, lower_, line_.ParameterSet().reference),
        record::CommentHeader(line_));
    if (!captured.outcome.ok())
        co_return Failed(std::move(answer), captured.outcome);
    output::AddCsv(answer.members, exports_.CurveCsv());
    answer.members.Add("file", "null");
    co_return answer;
}

job::Task<Answer> Verbs::Report(const Request &request) {
    Answer answer;
    const std::string name = report::ReportFileName(request.unitId);
    answer.members.Add("file", JsonString(name));
    answer.members.Add("capture", request.source.empty() ? "null" : JsonString(request.source));
    answer.members.Add("unit_id", JsonString(request.unitId));
    answer.members.Add("station", JsonString(request.station));
    if (!request.source.empty()) {
        Answer captured = co_await Capture(request.source);
        if (captured.code != ResultCode::Ok) {
            answer.code  = captured.code;
            answer.error = captured.error;
            co_return answer;
        }
    }
    MakeFolder(setting_.reportFolder.c_str());
    report::Request made;
    made.path         = FileIn(setting_.reportFolder, name.c_str());
    made.operatorName = request.operatorName;
    made.note         = request.note;
    made.unitId       = request.unitId;
    made.station      = request.station;
    // No panel: each word by its name, with a control where the panel has one (not
    // average, not the words sent as 0).
    for (const parameters::Parameter &p : parameters::kTable)
        made.panel.push_back({p.control != 0, 0, false, p.name});
    made.capture        = exports_.LastCapture();
    made.captureTime    = exports_.LastCaptureTime();
    made.approved.shown = server_.Mode() != ServerMode::Off || server_.Approved().has_value();
    if (const std::optional<ApprovedSet> &approved = server_.Approved()) {
        made.approved.words = approved->words;
        made.approved.note  = Described(*approved);
    }
    made.audit                  = {true,
                                   audit::LastRecords(setting_.auditPath, setting_.lineName, report::kAuditRecords)};
    const std::string path      = made.path;
    const report::Made reported = co_await report::MakeReport(line_, std::move(made));
    if (!reported.outcome.ok()) {
        answer = Failed(std::move(answer), reported.outcome);
        if (reported.outcome.result == status::Result::FileFailed)
            answer.error = reported.fileProblem;
        co_return answer;
    }
    std::string pdf;
    const bool read = ReadTextFile(path.c_str(), pdf, kLargestReport) == 0;
    std::remove(path.c_str());
    if (!read) {
        answer.code  = ResultCode::FileFailed;
        answer.error = "the report " + path + " could not be read back";
        co_return answer;
    }
    answer.members.Add("ram", JsonWords(reported.ram));
    server_.SeenEeprom(reported.eeprom);
    answer.members.Add("eeprom", JsonWords(reported.eeprom));
    answer.members.Add("fingerprint", JsonString(reported.fingerprint));
    answer.beyond.Add("pdf", JsonString(json::EncodeBase64(pdf)));
    answer.beyond.Add("sha256", JsonString(Sha256Hex(pdf)));
    co_return answer;
}

job::Task<Answer> Verbs::Send(const Request &request) {
    Answer answer;
    answer.members.Add("memory", JsonString(request.memory));
    const Target target                = TargetOf(request.memory);
    const com232::Parameters ramBefore = line_.ParameterSet();
    // What the memory holds, read as the operator reads it before editing: only the words
    // asked for change.
    line_.ReopenLostPort();
    const com232::ParameterRead held = co_await line_.ReadParameterWords(target);
    if (!held.words)
        co_return Failed(std::move(answer), held.outcome);
    // The other memory's set, when the change starts from there.
    const std::string &from   = request.from.empty() ? request.memory : request.from;
    std::optional<Words> base = request.words ? request.words : held.words;
    if (!request.words && from != request.memory) {
        const com232::ParameterRead other = co_await line_.ReadParameterWords(TargetOf(from));
        if (!other.words)
            co_return Failed(std::move(answer), other.outcome);
        base = other.words;
    }
    Words sending = *base;
    for (const auto &[word, value] : request.settings)
        sending[word] = value;
    sending = AsSent(sending);
    answer.members.Add("base", JsonString(request.words ? "words" : from));
    std::vector<std::string> changes;
    for (int i = 0; i < com232::PNUM; ++i)
        if ((*held.words)[i] != sending[i])
            changes.push_back(JsonDifference(i, {{"from", (*held.words)[i]}, {"to", sending[i]}}));
    answer.members.Add("changes", JsonArray(changes));

    line_.ShowStatus(status::kTransmit);
    const status::Outcome sent = steps::Send(line_, target, com232::ParametersOf(sending));
    answer.members.Add("result", sent.ok() ? JsonString(sent.detail) : "null");
    if (!sent.ok()) {
        Wrote(request, "send", request.memory.c_str(), sending, held.words,
              ResultCodeOf(sent.result));
        co_return Failed(std::move(answer), sent);
    }
    answer.members.Add("sent", JsonWords(sending));
    co_await line_.Pause(kSettleSeconds);
    const com232::ParameterRead read = co_await line_.ReadParameterWords(target);
    if (!read.words) {
        Wrote(request, "send", request.memory.c_str(), sending, held.words, ResultCode::NoReply);
        co_return Failed(std::move(answer), read.outcome);
    }
    std::vector<std::string> differences;
    for (int i = 0; i < com232::PNUM; ++i)
        if ((*read.words)[i] != sending[i])
            differences.push_back(
                JsonDifference(i, {{"sent", sending[i]}, {"read", (*read.words)[i]}}));
    if (target == Target::EEPROM)
        server_.SeenEeprom(*read.words);
    answer.members.Add("read", JsonWords(*read.words));
    answer.members.Add("differences", JsonArray(differences));
    if (!differences.empty()) {
        answer.code  = ResultCode::Differs;
        answer.error = "the set read back differs in " + CountOfWords(differences.size());
    }
    // The line's set stands for RAM, which an EEPROM send leaves as it was.
    if (target == Target::EEPROM)
        line_.SetParameterSet(ramBefore);
    Wrote(request, "send", request.memory.c_str(), sending, held.words, answer.code);
    co_return answer;
}

job::Task<Answer> Verbs::Teach(const Request &request) {
    Answer answer;
    const Words ram = AsSent(com232::WordsOf(line_.ParameterSet()));
    line_.SetParameterSet(com232::ParametersOf(ram));
    line_.ShowStatus(status::kTeachPressed);
    const steps::Taught taught = co_await steps::Teach(line_);
    Wrote(request, "teach", "ram", ram, ram, ResultCodeOf(taught.outcome.result));
    // Only an answer tells that the controller taught itself a reference, perhaps another
    // one than the one sent.
    answer.members.Add("result", taught.answered ? JsonString(status::kTaughtCommandLine) : "null");
    answer.members.Add("parameters", "null");
    if (!taught.outcome.ok())
        co_return Failed(std::move(answer), taught.outcome);
    co_return answer;
}

job::Task<Answer> Verbs::Reset(const Request &request) {
    Answer answer;
    const Words ram = AsSent(com232::WordsOf(line_.ParameterSet()));
    line_.SetParameterSet(com232::ParametersOf(ram));
    const status::Outcome reset = co_await steps::Reset(line_);
    Wrote(request, "reset", "ram", ram, ram, ResultCodeOf(reset.result));
    answer.members.Add("result", reset.ok() ? JsonString(reset.detail) : "null");
    answer.members.Add("parameters", JsonWords(com232::WordsOf(line_.ParameterSet())));
    if (!reset.ok())
        co_return Failed(std::move(answer), reset);
    co_return answer;
}

job::Task<Answer> Verbs::Store(const Request &request) {
    Answer answer;
    const std::string by = request.operatorName.empty() ? audit::LoginName() : request.operatorName;
    const ServerResult stored = co_await server_.Store(line_, by);
    answer.members.Add("approved", stored.approved ? ApprovedJson(*stored.approved) : "null");
    answer.members.Add("result", JsonString(stored.text));
    answer.code = stored.code;
    if (stored.code != ResultCode::Ok)
        answer.error = stored.text;
    co_return answer;
}

job::Task<Answer> Verbs::Restore(const Request &request) {
    Answer answer;
    const std::string by = request.operatorName.empty() ? audit::LoginName() : request.operatorName;
    const ServerResult restored = co_await server_.Restore(line_, by, audit::Origin::PlantCommand);
    answer.members.Add("approved", restored.approved ? ApprovedJson(*restored.approved) : "null");
    answer.members.Add("eeprom", restored.eepromRead ? JsonWords(*restored.eepromRead) : "null");
    answer.members.Add("ram", restored.ramRead ? JsonWords(*restored.ramRead) : "null");
    answer.members.Add("result", JsonString(restored.text));
    answer.code = restored.code;
    if (restored.code != ResultCode::Ok)
        answer.error = restored.text;
    co_return answer;
}

} // namespace plant
