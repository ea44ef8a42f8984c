// The audit trail's database over Qt SQL's SQLite driver.
#include "audit_db.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>

namespace auditdb {

namespace {

// "RMX7" in the file's header: a file of ours, told from any other SQLite database.
constexpr int kApplicationId = 0x524D5837;
constexpr int kSchemaVersion = 1;

constexpr const char *kCreateTable = "CREATE TABLE audit ("
                                     " seq INTEGER PRIMARY KEY,"
                                     " time TEXT NOT NULL,"
                                     " line TEXT NOT NULL,"
                                     " port INTEGER NOT NULL,"
                                     " device TEXT NOT NULL,"
                                     " firmware TEXT NOT NULL,"
                                     " account TEXT NOT NULL,"
                                     " operator TEXT,"
                                     " origin TEXT NOT NULL,"
                                     " verb TEXT NOT NULL,"
                                     " target TEXT NOT NULL,"
                                     " words TEXT NOT NULL,"
                                     " fingerprint TEXT NOT NULL,"
                                     " replaced TEXT,"
                                     " result TEXT NOT NULL,"
                                     " exit_code INTEGER NOT NULL,"
                                     " previous TEXT NOT NULL,"
                                     " hash TEXT NOT NULL)";

constexpr const char *kColumns = "seq, time, line, port, device, firmware, account, operator, "
                                 "origin, verb, target, words, fingerprint, replaced, result, "
                                 "exit_code, previous, hash";

std::atomic<int> connections{0};

QString Text(const std::string &text) {
    return QString::fromStdString(text);
}

QVariant Optional(const std::optional<std::string> &text) {
    return text ? QVariant(Text(*text)) : QVariant(QMetaType::fromType<QString>());
}

std::string Said(const QSqlError &error) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.toStdString();
}

std::optional<std::string> OptionalText(const QVariant &value) {
    if (value.isNull())
        return std::nullopt;
    return value.toString().toStdString();
}

AuditRow RowOf(const QSqlQuery &query) {
    AuditRow row;
    row.seq          = query.value(0).toLongLong();
    row.time         = query.value(1).toString().toStdString();
    row.line         = query.value(2).toString().toStdString();
    row.port         = query.value(3).toInt();
    row.device       = query.value(4).toString().toStdString();
    row.firmware     = query.value(5).toString().toStdString();
    row.account      = query.value(6).toString().toStdString();
    row.operatorName = OptionalText(query.value(7));
    row.origin       = query.value(8).toString().toStdString();
    row.verb         = query.value(9).toString().toStdString();
    row.target       = query.value(10).toString().toStdString();
    row.words        = query.value(11).toString().toStdString();
    row.fingerprint  = query.value(12).toString().toStdString();
    row.replaced     = OptionalText(query.value(13));
    row.result       = query.value(14).toString().toStdString();
    row.exitCode     = query.value(15).toInt();
    row.previous     = query.value(16).toString().toStdString();
    row.hash         = query.value(17).toString().toStdString();
    return row;
}

// One statement that returns a single number (a pragma); -1 when it fails.
long long Number(QSqlDatabase &db, const char *statement) {
    QSqlQuery query(db);
    if (!query.exec(statement) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

bool Run(QSqlDatabase &db, const QString &statement, std::string &error) {
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    error = Said(query.lastError());
    return false;
}

void RollBack(QSqlDatabase &db) {
    QSqlQuery(db).exec("ROLLBACK");
}

// The table and our marks, made under the write lock: another writer may be making them
// at the same moment, and the one that comes second finds them there.
bool MakeTable(QSqlDatabase &db, std::string &error) {
    if (!Run(db, "PRAGMA journal_mode=WAL", error) || !Run(db, "BEGIN IMMEDIATE", error))
        return false;
    const bool made = Number(db, "PRAGMA application_id") == kApplicationId ||
                      (Run(db, kCreateTable, error) &&
                       Run(db, "CREATE INDEX audit_line_time ON audit(line, time)", error) &&
                       Run(db, QString("PRAGMA user_version=%1").arg(kSchemaVersion), error) &&
                       Run(db, QString("PRAGMA application_id=%1").arg(kApplicationId), error));
    if (made && Run(db, "COMMIT", error))
        return true;
    RollBack(db);
    return false;
}

// A new file gets the table and our marks; an old one must carry them.
bool PrepareFile(QSqlDatabase &db, bool appending, std::string &error) {
    const long long id = Number(db, "PRAGMA application_id");
    if (id < 0) {
        error = "not an SQLite database";
        return false;
    }
    if (id == kApplicationId) {
        if (Number(db, "PRAGMA user_version") > kSchemaVersion) {
            error = "written by a newer version of the program";
            return false;
        }
        // WAL is kept in the file; a copy restored from a backup may have lost it.
        return !appending || Run(db, "PRAGMA journal_mode=WAL", error);
    }
    if (id != 0 || Number(db, "SELECT count(*) FROM sqlite_schema") != 0) {
        error = "another program's database, not an audit trail";
        return false;
    }
    if (!appending) {
        error = "no audit trail in it yet";
        return false;
    }
    return MakeTable(db, error);
}

} // namespace

AuditDatabase::AuditDatabase() = default;

AuditDatabase::~AuditDatabase() {
    Close();
}

bool AuditDatabase::Open(const std::string &path, Mode mode, std::string &error) {
    Close();
    const QFileInfo file(Text(path));
    const bool appending = mode == Mode::Append;
    if (!appending && !file.exists()) {
        error = path + ": no audit trail there";
        return false;
    }
    if (file.isDir()) {
        error = path + ": a folder stands there";
        return false;
    }
    if (appending && !QDir().mkpath(file.absolutePath())) {
        error = path + ": its folder cannot be made";
        return false;
    }
    const QString name = QString("rmx7audit-%1").arg(++connections);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(Text(path));
        db.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1%2")
                                 .arg(kBusyMs)
                                 .arg(appending ? "" : ";QSQLITE_OPEN_READONLY"));
        std::string why;
        if (!db.open())
            why = Said(db.lastError());
        else if (!PrepareFile(db, appending, why))
            db.close();
        if (!why.empty()) {
            error = path + ": " + why;
            db    = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            return false;
        }
        // An append is in the log when it returns, and outlives the program's crash at once;
        // the disk has it at the log's next checkpoint. A sync at every append would cost
        // more than the line's slack between two exchanges on a virtual disk.
        if (appending)
            Run(db, "PRAGMA synchronous=NORMAL", why);
    }
    connection_ = name.toStdString();
    path_       = path;
    return true;
}

void AuditDatabase::Close() {
    if (connection_.empty())
        return;
    const QString name = Text(connection_);
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
    connection_.clear();
}

bool AuditDatabase::IsOpen() const {
    return !connection_.empty();
}

bool AuditDatabase::Append(AuditRow &row, const std::function<std::string(const AuditRow &)> &seal,
                           std::string &error) {
    if (!IsOpen()) {
        error = "the audit trail is not open";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(Text(connection_), false);
    std::string why;
    if (!Run(db, "BEGIN IMMEDIATE", why)) {
        error = path_ + ": " + why;
        return false;
    }
    {
        QSqlQuery last(db);
        if (!last.exec("SELECT seq, hash FROM audit ORDER BY seq DESC LIMIT 1")) {
            error = path_ + ": " + Said(last.lastError());
            last.finish();
            RollBack(db);
            return false;
        }
        const bool any = last.next();
        row.seq        = any ? last.value(0).toLongLong() + 1 : 1;
        row.previous   = any ? last.value(1).toString().toStdString() : kNoPrevious;
    }
    row.hash = seal(row);
    QSqlQuery insert(db);
    insert.prepare(QString("INSERT INTO audit (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?, ?, ?)")
                       .arg(kColumns));
    const QVariant values[] = {row.seq,
                               Text(row.time),
                               Text(row.line),
                               row.port,
                               Text(row.device),
                               Text(row.firmware),
                               Text(row.account),
                               Optional(row.operatorName),
                               Text(row.origin),
                               Text(row.verb),
                               Text(row.target),
                               Text(row.words),
                               Text(row.fingerprint),
                               Optional(row.replaced),
                               Text(row.result),
                               row.exitCode,
                               Text(row.previous),
                               Text(row.hash)};
    for (const QVariant &value : values)
        insert.addBindValue(value);
    if (!insert.exec() || !Run(db, "COMMIT", why)) {
        error = path_ + ": " + (why.empty() ? Said(insert.lastError()) : why);
        insert.finish();
        RollBack(db);
        return false;
    }
    return true;
}

bool AuditDatabase::ForEach(const AuditFilter &filter,
                            const std::function<bool(const AuditRow &)> &visit,
                            std::string &error) {
    if (!IsOpen()) {
        error = "the audit trail is not open";
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(Text(connection_), false);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QString("SELECT %1 FROM audit WHERE (? = '' OR line = ?) AND time >= ? "
                          "ORDER BY seq")
                      .arg(kColumns));
    query.addBindValue(Text(filter.line));
    query.addBindValue(Text(filter.line));
    query.addBindValue(Text(filter.since));
    if (!query.exec()) {
        error = path_ + ": " + Said(query.lastError());
        return false;
    }
    while (query.next())
        if (!visit(RowOf(query)))
            break;
    if (query.lastError().isValid()) {
        error = path_ + ": " + Said(query.lastError());
        return false;
    }
    return true;
}

} // namespace auditdb
