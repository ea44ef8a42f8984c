// The audit trail: records, their canonical text and chain, their printed forms, and the
// appends that wait in memory while the database cannot be written.
#include "plant/audit.h"

#include "plant/utc_time.h"
#include "platform/report/fingerprint.h"
#include "platform/text.h"
#include "status.h"

#include <pwd.h>
#include <unistd.h>

namespace audit {

namespace {

constexpr const char *kOriginNames[] = {"panel", "command-line", "plant-command",
                                        "parameter-server"};

std::string WordsJson(const Words &words) {
    std::string text = "[";
    for (std::size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : ",") + std::to_string(words[i]);
    return text + "]";
}

// The words of text as WordsJson writes them, and only so: no blanks, no leading zeros.
bool ReadWords(const std::string &text, Words &words) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        return false;
    std::size_t at = 1;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::size_t end = text.find(i + 1 < words.size() ? ',' : ']', at);
        if (end == std::string::npos || end == at || end - at > 5 ||
            (text[at] == '0' && end - at > 1))
            return false;
        long value = 0;
        for (std::size_t k = at; k < end; ++k) {
            if (text[k] < '0' || text[k] > '9')
                return false;
            value = value * 10 + (text[k] - '0');
        }
        if (value > 0xFFFF)
            return false;
        words[i] = static_cast<std::uint16_t>(value);
        at       = end + 1;
    }
    return at == text.size();
}

bool IsHex64(const std::string &text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string OptionalJson(const std::optional<std::string> &text) {
    return text ? JsonString(*text) : "null";
}

// Canonical's members: where the record stands in the chain and what it holds.
std::string Members(const auditdb::AuditRow &row, bool placed) {
    return "\"seq\":" + (placed ? std::to_string(row.seq) : "null") +
           ",\"time\":" + JsonString(row.time) + ",\"line\":" + JsonString(row.line) +
           ",\"port\":" + std::to_string(row.port) + ",\"device\":" + JsonString(row.device) +
           ",\"firmware\":" + JsonString(row.firmware) + ",\"account\":" + JsonString(row.account) +
           ",\"operator\":" + OptionalJson(row.operatorName) +
           ",\"origin\":" + JsonString(row.origin) + ",\"verb\":" + JsonString(row.verb) +
           ",\"target\":" + JsonString(row.target) + ",\"words\":" + row.words +
           ",\"fingerprint\":" + JsonString(row.fingerprint) +
           ",\"replaced\":" + row.replaced.value_or("null") +
           ",\"result\":" + JsonString(row.result) +
           ",\"exit_code\":" + std::to_string(row.exitCode) +
           ",\"previous\":" + (placed ? JsonString(row.previous) : "null");
}

std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    return quoted + "\"";
}

// [500,512,...] as "500 512 ...", for a CSV field and a person.
std::string Blanks(std::string words) {
    for (char &c : words)
        if (c == ',')
            c = ' ';
    return words.size() >= 2 ? words.substr(1, words.size() - 2) : words;
}

} // namespace

const char *OriginName(Origin origin) {
    return kOriginNames[static_cast<int>(origin)];
}

std::string LoginName() {
    if (const passwd *user = getpwuid(getuid()))
        return user->pw_name;
    return std::to_string(getuid());
}

Record MakeRecord(Origin origin, const std::string &verb, const std::string &target) {
    Record record;
    record.time    = plant::IsoUtc(plant::NowUnixMs());
    record.account = LoginName();
    record.origin  = origin;
    record.verb    = verb;
    record.target  = target;
    return record;
}

auditdb::AuditRow RowOf(const Record &record) {
    auditdb::AuditRow row;
    row.time     = record.time;
    row.line     = ValidUtf8(record.line);
    row.port     = record.port;
    row.device   = ValidUtf8(record.device);
    row.firmware = ValidUtf8(record.firmware);
    row.account  = ValidUtf8(record.account);
    if (!record.operatorName.empty())
        row.operatorName = ValidUtf8(record.operatorName);
    row.origin = OriginName(record.origin);
    row.verb   = ValidUtf8(record.verb);
    row.target = ValidUtf8(record.target);
    row.words  = WordsJson(record.words);
    std::uint16_t words[kFingerprintWords];
    std::copy(record.words.begin(), record.words.end(), words);
    row.fingerprint = ParameterFingerprint(words);
    if (record.replaced)
        row.replaced = WordsJson(*record.replaced);
    row.result   = ValidUtf8(record.result);
    row.exitCode = record.exitCode;
    return row;
}

std::string Canonical(const auditdb::AuditRow &row) {
    return "{" + Members(row, true) + "}";
}

std::string Seal(const auditdb::AuditRow &row) {
    return Sha256Hex(Canonical(row));
}

std::string Json(const auditdb::AuditRow &row) {
    return "{" + Members(row, true) + ",\"hash\":" + JsonString(row.hash) + "}";
}

std::string CsvHeader() {
    return "seq,time,line,port,device,firmware,account,operator,origin,verb,target,words,"
           "fingerprint,replaced,result,exit_code,previous,hash";
}

std::string Csv(const auditdb::AuditRow &row) {
    const std::string fields[] = {std::to_string(row.seq),
                                  row.time,
                                  row.line,
                                  std::to_string(row.port),
                                  row.device,
                                  row.firmware,
                                  row.account,
                                  row.operatorName.value_or(""),
                                  row.origin,
                                  row.verb,
                                  row.target,
                                  Blanks(row.words),
                                  row.fingerprint,
                                  row.replaced ? Blanks(*row.replaced) : "",
                                  row.result,
                                  std::to_string(row.exitCode),
                                  row.previous,
                                  row.hash};
    std::string line;
    for (const std::string &field : fields)
        line += (line.empty() ? "" : ",") + CsvField(field);
    return line;
}

std::string Text(const auditdb::AuditRow &row) {
    return std::to_string(row.seq) + "  " + row.time + "  " + row.line + "  " + row.origin + "  " +
           row.verb + " " + row.target + "  " + row.result + " (" + std::to_string(row.exitCode) +
           ")  " + row.account + (row.operatorName ? " for " + *row.operatorName : "") + "  " +
           row.fingerprint.substr(0, 16);
}

std::string CheckRow(const auditdb::AuditRow &row) {
    Words words{};
    std::int64_t unixMs = 0;
    bool knownOrigin    = false;
    for (const char *name : kOriginNames)
        knownOrigin = knownOrigin || row.origin == name;
    std::uint16_t plain[kFingerprintWords];
    const bool wordsRead = ReadWords(row.words, words);
    std::copy(words.begin(), words.end(), plain);
    if (row.seq < 1)
        return "its number is not above 0";
    if (!plant::ParseIsoUtc(row.time, unixMs))
        return "its time '" + row.time + "' is not UTC in ISO 8601 with milliseconds";
    if (!knownOrigin)
        return "its origin '" + row.origin + "' is none of the program's";
    if (row.target != "ram" && row.target != "eeprom")
        return "its target '" + row.target + "' is neither ram nor eeprom";
    if (!wordsRead || (row.replaced && !ReadWords(*row.replaced, words)))
        return "its words are not sixteen numbers from 0 to 65535";
    if (row.fingerprint != ParameterFingerprint(plain))
        return "its fingerprint is not that of its words";
    if (!IsHex64(row.previous) || !IsHex64(row.hash))
        return "its hashes are not 64 hexadecimal digits";
    return {};
}

bool ChainWalker::Bad(long long seq, std::string why) {
    verdict_.intact   = false;
    verdict_.firstBad = seq;
    verdict_.why      = std::move(why);
    return false;
}

bool ChainWalker::Take(const auditdb::AuditRow &row) {
    if (!verdict_.intact)
        return false;
    const std::string n = "record " + std::to_string(row.seq);
    if (const std::string why = CheckRow(row); !why.empty())
        return Bad(row.seq, n + " cannot be read: " + why);
    if (Seal(row) != row.hash)
        return Bad(row.seq, n + " was changed after it was written: it no longer matches "
                                "its hash");
    if (row.seq == lastSeq_ + 2)
        return Bad(row.seq, "record " + std::to_string(lastSeq_ + 1) + " was removed: " + n +
                                " follows " +
                                (lastSeq_ == 0 ? "nothing" : std::to_string(lastSeq_)));
    if (row.seq != lastSeq_ + 1)
        return Bad(row.seq, "records " + std::to_string(lastSeq_ + 1) + " to " +
                                std::to_string(row.seq - 1) + " were removed: " + n + " follows " +
                                (lastSeq_ == 0 ? "nothing" : std::to_string(lastSeq_)));
    if (row.previous != lastHash_ && lastSeq_ == 0)
        return Bad(row.seq, n + " does not begin the chain: the hash before it is not zeros");
    if (row.previous != lastHash_)
        return Bad(lastSeq_, "record " + std::to_string(lastSeq_) +
                                 " was replaced after it was written: " + n +
                                 " holds another hash for the record before it");
    lastSeq_  = row.seq;
    lastHash_ = row.hash;
    ++verdict_.records;
    return true;
}

bool CheckChain(const std::string &path, ChainVerdict &verdict, std::string &error) {
    auditdb::AuditDatabase db;
    ChainWalker walker;
    if (!db.Open(path, auditdb::AuditDatabase::Mode::Read, error) ||
        !db.ForEach(
            {}, [&](const auditdb::AuditRow &row) { return walker.Take(row); }, error))
        return false;
    verdict = walker.Verdict();
    return true;
}

std::vector<std::string> LastRecords(const std::string &path, const std::string &line,
                                     std::size_t count) {
    std::deque<std::string> newest;
    auditdb::AuditDatabase db;
    std::string error;
    if (!db.Open(path, auditdb::AuditDatabase::Mode::Read, error))
        return {};
    db.ForEach(
        {line, {}},
        [&](const auditdb::AuditRow &row) {
            if (!CheckRow(row).empty())
                return true;
            newest.push_back(Text(row));
            if (newest.size() > count)
                newest.pop_front();
            return true;
        },
        error);
    return {newest.begin(), newest.end()};
}

Trail::Trail(std::string path) : path_(std::move(path)) {}

AppendResult Trail::Append(const Record &record) {
    waiting_.push_back(RowOf(record));
    return Flush();
}

AppendResult Trail::Flush() {
    AppendResult result;
    std::string error;
    while (!waiting_.empty()) {
        auditdb::AuditRow row = waiting_.front();
        if ((!db_.IsOpen() && !db_.Open(path_, auditdb::AuditDatabase::Mode::Append, error)) ||
            !db_.Append(row, Seal, error)) {
            // Opened afresh next time: the file may have been put right or replaced.
            db_.Close();
            break;
        }
        waiting_.pop_front();
        result.records.push_back(Json(row));
    }
    result.written = waiting_.empty();
    result.waiting = waiting_.size();
    if (!waiting_.empty() && !failing_)
        result.notice = status::AuditNotWritten(error);
    else if (waiting_.empty() && failing_)
        result.notice = status::AuditWrittenAgain(path_, result.records.size());
    failing_ = !waiting_.empty();
    return result;
}

std::deque<std::string> Trail::WaitingJson() const {
    std::deque<std::string> records;
    for (const auditdb::AuditRow &row : waiting_)
        records.push_back("{" + Members(row, false) + ",\"hash\":null}");
    return records;
}

} // namespace audit
