// The audit trail: one record for every write to a controller's RAM or EEPROM, whoever
// asked for it, appended to a database that shows a record changed or removed afterwards.
//
//   --- Records ---  Record (what a write was), MakeRecord (time and account filled in),
//                    RowOf (the record as stored), Canonical and Seal (the chain's hash)
//   --- Forms ---    Json (the audit topic's payload, rmx7ctl audit --json), CsvHeader and
//                    Csv, Text (one line for a person); CheckRow (a stored row is readable)
//                    LastRecords (a line's newest records, for a report)
//   --- Chain ---    ChainWalker (the first bad record of rows taken in order),
//                    CheckChain (the same over a database file)
//   --- Trail ---    Trail: appends that never block the write they record
//
// The chain: each record carries the SHA-256 of the one before (64 zeros for the first)
// and its own, taken over its canonical text, the one before's hash included. A record
// edited afterwards no longer matches its hash; one removed leaves a gap in the numbers and
// a hash that names a record no longer there. The newest records can be cut off unseen by
// the chain alone: only a copy kept elsewhere shows that.
#pragma once

#include "platform/audit/audit_db.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace audit {

using Words = std::array<std::uint16_t, 16>;

// Who asked for the write.
enum class Origin { Panel, CommandLine, PlantCommand, ParameterServer };
// "panel", "command-line", "plant-command", "parameter-server"
const char *OriginName(Origin origin);

// --- Records ---
struct Record {
    std::string time; // UTC, ISO 8601 with milliseconds
    std::string line; // the line's name
    int port = 0;     // its COM number
    std::string device, firmware;
    std::string account;      // the login that ran the program
    std::string operatorName; // as given; empty when nobody was named
    Origin origin = Origin::Panel;
    std::string verb;              // send, teach, reset, restore
    std::string target;            // ram or eeprom
    Words words{};                 // the words the request carried
    std::optional<Words> replaced; // the words they replaced, where the program knew them
    std::string result;            // the result's name: Ok, NoReply, WriteFailed, ...
    int exitCode = 0;              // as rmx7ctl gives it
};

// The login running the program, or its user id when it has no name.
std::string LoginName();
// A record of now, by the login running the program; the caller fills in the rest.
Record MakeRecord(Origin origin, const std::string &verb, const std::string &target);

// The record as its row stores it, before the chain gives it its place. Texts that are not
// UTF-8 (a controller's firmware bytes) keep U+FFFD in place of each bad byte, so that what
// is stored reads back exactly.
auditdb::AuditRow RowOf(const Record &record);

// The text the hash is taken over: the row as a JSON object, its members in a fixed order,
// without blanks, "hash" left out.
std::string Canonical(const auditdb::AuditRow &row);
// SHA-256 of Canonical(row), in hex.
std::string Seal(const auditdb::AuditRow &row);

// --- Forms ---
// The row as one JSON object: Canonical's members and "hash". The row must have passed
// CheckRow.
std::string Json(const auditdb::AuditRow &row);
// The CSV columns, and one row of them; words as one field of numbers apart by blanks.
std::string CsvHeader();
std::string Csv(const auditdb::AuditRow &row);
// seq, time, line, origin, verb and target, result and exit code, account and operator,
// the first 16 digits of the fingerprint: one line.
std::string Text(const auditdb::AuditRow &row);
// Empty when every column holds what a record may, else what is wrong ("its words are not
// sixteen numbers from 0 to 65535").
std::string CheckRow(const auditdb::AuditRow &row);

// --- Chain ---
struct ChainVerdict {
    bool intact        = true;
    long long records  = 0; // the records read before the first bad one, or all of them
    long long firstBad = 0; // seq of the first bad record; 0 none
    std::string why;        // what is wrong with it, in plain words
};

// Takes the rows of a trail one by one in the order of the chain, up to the first bad one.
class ChainWalker {
  public:
    // False once a bad record was found (this one or an earlier).
    bool Take(const auditdb::AuditRow &row);
    const ChainVerdict &Verdict() const { return verdict_; }

  private:
    bool Bad(long long seq, std::string why);
    ChainVerdict verdict_;
    long long lastSeq_    = 0;
    std::string lastHash_ = auditdb::kNoPrevious;
};

// Walks the whole trail at path. False with error when it cannot be read at all.
bool CheckChain(const std::string &path, ChainVerdict &verdict, std::string &error);

// The newest count records of line in the trail at path, as Text gives them, oldest first;
// none when the trail cannot be read.
std::vector<std::string> LastRecords(const std::string &path, const std::string &line,
                                     std::size_t count);

// --- Trail ---
struct AppendResult {
    bool written        = false; // this record, and every one before it, is in the database
    std::size_t waiting = 0;     // records kept in memory, not written yet
    // Each record this call wrote, in order, as Json gives it: what a caller publishes.
    std::vector<std::string> records;
    std::string notice; // said once when the database cannot be written, once when it
                        // can be again; empty otherwise
};

// The trail in one database file. An append that cannot be written keeps its record in
// memory, in order, and writes it at the next Append or Flush that can: a database that
// cannot be written never stops the write it records. A caller flushes on a timer of its
// own (every few seconds) while records wait.
class Trail {
  public:
    explicit Trail(std::string path);

    AppendResult Append(const Record &record);
    // Writes what waits.
    AppendResult Flush();
    std::size_t Waiting() const { return waiting_.size(); }
    const std::string &Path() const { return path_; }
    // The records still waiting, as JSON objects without a place in the chain: what a caller
    // that ends says, so that they are not lost with the process.
    std::deque<std::string> WaitingJson() const;

  private:
    std::string path_;
    auditdb::AuditDatabase db_;
    std::deque<auditdb::AuditRow> waiting_;
    bool failing_ = false;
};

} // namespace audit
