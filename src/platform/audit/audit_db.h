// The audit trail's database: one SQLite file, in WAL mode, holding one table of records
// chained one to the next, reached through Qt SQL's SQLite driver. This is the query layer
// only: what a record means, how it is sealed and how the chain is checked belong to the
// module above.
//
//   --- Rows ---       AuditRow: one record as its columns hold it; AuditFilter
//   --- Database ---   Open (for appending, or for reading only), Close, IsOpen
//   --- Records ---    Append (the next link of the chain, in one transaction), ForEach
//
// Durability: a record appended is in the file's write-ahead log when Append returns, so a
// program that crashes or is killed afterwards keeps it; the log is synced to the disk at
// its checkpoints (every 1000 pages, and when the last connection closes), so a power cut
// or a crash of the system may take the newest records with it.
//
// Thread rule: a database is used by the thread that opened it. Several processes may
// append to one file at once: each append takes the file's write lock for its own
// transaction, reads the last link and writes the next one under it.
//
// Results: true, or false with error in plain words (the file, and what SQLite said).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace auditdb {

// --- Rows ---
// One record, column by column. The words are kept as their JSON array text
// ("[500,512,...]"), so that any SQLite tool reads them as they are printed.
struct AuditRow {
    long long seq = 0; // the place in the chain, from 1
    std::string time;  // UTC, ISO 8601 with milliseconds: sorts as it happened
    std::string line;
    int port = 0;
    std::string device, firmware, account;
    std::optional<std::string> operatorName; // as given; none when nobody was named
    std::string origin, verb, target;
    std::string words, fingerprint;
    std::optional<std::string> replaced; // the words before, where they were known
    std::string result;
    int exitCode = 0;
    std::string previous; // the hash of the record before; 64 zeros for the first
    std::string hash;     // the hash of this record, previous included
};

// Which rows ForEach visits: those of line (every line when empty) whose time is at or
// after since (every time when empty).
struct AuditFilter {
    std::string line;
    std::string since;
};

// The hash of the first record's "previous".
inline const std::string kNoPrevious(64, '0');

class AuditDatabase {
  public:
    enum class Mode { Append, Read };

    AuditDatabase();
    ~AuditDatabase();
    AuditDatabase(const AuditDatabase &)            = delete;
    AuditDatabase &operator=(const AuditDatabase &) = delete;

    // --- Database ---
    // Opens the file at path. Append makes the file and its table when they are missing and
    // waits at most kBusyMs for another writer's lock; Read never makes or changes anything
    // and refuses a missing file. A file another program wrote (not SQLite, or not the
    // audit trail's table) is refused.
    bool Open(const std::string &path, Mode mode, std::string &error);
    void Close();
    bool IsOpen() const;

    // --- Records ---
    // Appends row after the last record, in one transaction under the file's write lock:
    // seq and previous are set from the last record, then hash = seal(row). row keeps them.
    bool Append(AuditRow &row, const std::function<std::string(const AuditRow &)> &seal,
                std::string &error);
    // Calls visit with each row that filter takes, in the chain's order, one at a time;
    // visit returns false to stop.
    bool ForEach(const AuditFilter &filter, const std::function<bool(const AuditRow &)> &visit,
                 std::string &error);

    // An append waits this long for another process that holds the write lock, then fails.
    static constexpr int kBusyMs = 100;

  private:
    std::string connection_; // the name of Qt's connection; empty while closed
    std::string path_;
};

} // namespace auditdb
