// What serves a plant, without a broker: the audit trail in its SQLite file (records of
// every origin, the chain's check against edits made behind the program's back, a file
// that cannot be written, the dates that choose records), the approved set's file, and the
// check of the agent's requests.
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "plant/requests.h"
#include "plant/utc_time.h"
#include "platform/json/json.h"
#include "platform/report/fingerprint.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

fs::path FreshFolder(const std::string &name) {
    const fs::path folder =
        fs::path(testing::TempDir()) / ("plant-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

audit::Record Sample(audit::Origin origin, std::uint16_t power) {
    audit::Record record = audit::MakeRecord(origin, "send", "eeprom");
    record.line          = "line7";
    record.port          = 2;
    record.device        = "rfc2217://cabinet-pc:4001";
    record.firmware      = "RMX7 FW 3.14 \xB5"; // a controller's byte that is no UTF-8
    record.words         = {power, 512, 10, 1, 100, 1, 0, 0, 20, 50, 1};
    record.result        = "Ok";
    return record;
}

// Runs statement on the trail's file through a connection of the test's own, as someone
// with a database tool would.
void Tamper(const fs::path &file, const std::string &statement) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tamper");
        db.setDatabaseName(QString::fromStdString(file.string()));
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QString::fromStdString(statement))) << statement;
    }
    QSqlDatabase::removeDatabase("tamper");
}

std::vector<auditdb::AuditRow> Rows(const fs::path &file) {
    auditdb::AuditDatabase db;
    std::vector<auditdb::AuditRow> rows;
    std::string error;
    EXPECT_TRUE(db.Open(file, auditdb::AuditDatabase::Mode::Read, error)) << error;
    db.ForEach(
        {}, [&](const auditdb::AuditRow &row) { return rows.push_back(row), true; }, error);
    return rows;
}

} // namespace

TEST(AuditTrail, OneRecordPerOriginIsWrittenAndReadBackWhole) {
    const fs::path file = FreshFolder("origins") / plant::kAuditFile;
    audit::Trail trail(file);
    const audit::Origin origins[] = {audit::Origin::Panel, audit::Origin::CommandLine,
                                     audit::Origin::PlantCommand, audit::Origin::ParameterServer};
    for (const audit::Origin origin : origins) {
        audit::Record record = Sample(origin, 600 + static_cast<int>(origin));
        if (origin == audit::Origin::PlantCommand) {
            record.operatorName = "Novák, \"J\"";
            record.replaced     = audit::Words{500};
        }
        ASSERT_TRUE(trail.Append(record).written);
    }
    const std::vector<auditdb::AuditRow> rows = Rows(file);
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auditdb::AuditRow &row = rows[i];
        EXPECT_EQ(row.seq, static_cast<long long>(i + 1));
        EXPECT_EQ(row.origin, audit::OriginName(origins[i]));
        EXPECT_EQ(row.previous, i == 0 ? auditdb::kNoPrevious : rows[i - 1].hash);
        EXPECT_EQ(row.firmware, "RMX7 FW 3.14 \xEF\xBF\xBD");
        EXPECT_EQ(audit::CheckRow(row), "");
        EXPECT_EQ(row.time.size(), 24u); // 2026-03-04T09:15:02.123Z
        json::Value value;
        std::string error;
        ASSERT_TRUE(json::Parse(audit::Json(row), value, error)) << error;
        EXPECT_EQ(value.Find("hash")->text, row.hash);
        EXPECT_EQ(value.Find("words")->items[0].number, 600 + static_cast<int>(i));
    }
    EXPECT_EQ(rows[2].operatorName, "Novák, \"J\"");
    EXPECT_EQ(rows[2].replaced, "[500,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]");
    EXPECT_FALSE(rows[0].operatorName || rows[0].replaced);
    EXPECT_NE(audit::Csv(rows[2]).find(",\"Novák, \"\"J\"\"\",plant-command,"), std::string::npos);
    audit::ChainVerdict verdict;
    std::string error;
    ASSERT_TRUE(audit::CheckChain(file, verdict, error)) << error;
    EXPECT_TRUE(verdict.intact);
    EXPECT_EQ(verdict.records, 4);
}

TEST(AuditTrail, CheckNamesTheFirstRecordChangedOrRemovedAfterwards) {
    const fs::path folder = FreshFolder("check");
    const fs::path good   = folder / "good.db";
    {
        audit::Trail trail(good); // closed, so that the file alone holds every record
        for (std::uint16_t power = 1; power <= 5; ++power)
            ASSERT_TRUE(trail.Append(Sample(audit::Origin::CommandLine, power)).written);
    }
    // A record rewritten whole, its own hash made anew, so that only the next one shows it.
    auditdb::AuditRow forged      = Rows(good)[1];
    const std::uint16_t words[16] = {9, 512, 10, 1, 100, 1, 0, 0, 20, 50, 1};
    forged.words                  = "[9,512,10,1,100,1,0,0,20,50,1,0,0,0,0,0]";
    forged.fingerprint            = ParameterFingerprint(words);
    const std::string forgery = "UPDATE audit SET words = '" + forged.words + "', fingerprint = '" +
                                forged.fingerprint + "', hash = '" + audit::Seal(forged) +
                                "' WHERE seq = 2";

    struct Case {
        std::string statement;
        long long firstBad;
        std::string why;
    };
    const Case cases[] = {
        {"UPDATE audit SET operator = 'someone else' WHERE seq = 3", 3, "record 3 was changed"},
        {"UPDATE audit SET result = 'Ok' , exit_code = 4 WHERE seq = 5", 5, "record 5 was changed"},
        {"DELETE FROM audit WHERE seq = 2", 3, "record 2 was removed: record 3 follows 1"},
        {"DELETE FROM audit WHERE seq IN (2, 3)", 4, "records 2 to 3 were removed"},
        {"DELETE FROM audit WHERE seq = 1", 2, "record 1 was removed"},
        {"UPDATE audit SET words = 'many' WHERE seq = 4", 4, "record 4 cannot be read"},
        {forgery, 2, "record 2 was replaced after it was written"},
    };
    for (const Case &c : cases) {
        const fs::path copy = folder / "copy.db";
        fs::remove(copy);
        fs::copy_file(good, copy);
        Tamper(copy, c.statement);
        audit::ChainVerdict verdict;
        std::string error;
        ASSERT_TRUE(audit::CheckChain(copy, verdict, error)) << error;
        EXPECT_FALSE(verdict.intact) << c.statement;
        EXPECT_EQ(verdict.firstBad, c.firstBad) << c.statement;
        EXPECT_NE(verdict.why.find(c.why), std::string::npos) << c.statement << ": " << verdict.why;
    }
}

TEST(AuditTrail, AFileThatCannotBeWrittenIsSaidOnceAndItsRecordsFollowWhenItCan) {
    const fs::path file = FreshFolder("unwritable") / plant::kAuditFile;
    fs::create_directory(file); // a folder in the way
    audit::Trail trail(file);
    const audit::AppendResult first = trail.Append(Sample(audit::Origin::Panel, 1));
    EXPECT_FALSE(first.written);
    EXPECT_NE(first.notice.find("Audit trail not written"), std::string::npos);
    const audit::AppendResult second = trail.Append(Sample(audit::Origin::Panel, 2));
    EXPECT_EQ(second.waiting, 2u);
    EXPECT_EQ(second.notice, "");
    fs::remove(file);
    const audit::AppendResult caughtUp = trail.Flush();
    EXPECT_TRUE(caughtUp.written);
    ASSERT_EQ(caughtUp.records.size(), 2u); // each with its place in the chain, to publish
    EXPECT_EQ(caughtUp.records[1].substr(0, 9), "{\"seq\":2,");
    EXPECT_NE(caughtUp.notice.find("2 records that waited"), std::string::npos);

    // Another program holds the write lock: the append gives up after its short wait.
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "holder");
    db.setDatabaseName(QString::fromStdString(file.string()));
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(QSqlQuery(db).exec("BEGIN EXCLUSIVE"));
    EXPECT_FALSE(trail.Append(Sample(audit::Origin::Panel, 3)).written);
    ASSERT_TRUE(QSqlQuery(db).exec("COMMIT"));
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("holder");
    EXPECT_TRUE(trail.Flush().written);

    const std::vector<auditdb::AuditRow> rows = Rows(file);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].words.substr(0, 3), "[3,");
    audit::ChainVerdict verdict;
    std::string error;
    ASSERT_TRUE(audit::CheckChain(file, verdict, error));
    EXPECT_TRUE(verdict.intact);

    // Another program's database is not taken for a trail, nor written into.
    const fs::path other = file.parent_path() / "notes.db";
    Tamper(other, "CREATE TABLE notes (text TEXT)");
    const audit::AppendResult refused = audit::Trail(other).Append(Sample(audit::Origin::Panel, 4));
    EXPECT_FALSE(refused.written);
    EXPECT_NE(refused.notice.find("another program's database"), std::string::npos);
}

TEST(AuditTrail, SinceIsLocalTimeUnlessItNamesItsZone) {
    setenv("TZ", "CET-1", 1); // an hour east of UTC, all year
    tzset();
    const std::pair<const char *, const char *> dates[] = {
        {"2026-03-04", "2026-03-03T23:00:00.000Z"},
        {"2026-03-04T10:15", "2026-03-04T09:15:00.000Z"},
        {"2026-03-04 10:15:30.250Z", "2026-03-04T10:15:30.250Z"},
        {"2026-03-04T10:15-02:30", "2026-03-04T12:45:00.000Z"},
        {"2028-02-29", "2028-02-28T23:00:00.000Z"},
    };
    for (const auto &[typed, utc] : dates) {
        std::int64_t ms = 0;
        std::string error;
        ASSERT_TRUE(plant::ParseDate(typed, ms, error)) << typed << ": " << error;
        EXPECT_EQ(plant::IsoUtc(ms), utc) << typed;
        EXPECT_TRUE(plant::ParseIsoUtc(utc, ms) && plant::IsoUtc(ms) == utc);
    }
    for (const char *wrong : {"2026-02-29", "2026-13-01", "2026-03-04T24:00", "2026-3-4",
                              "2026-03-04T10:15+1", "yesterday"}) {
        std::int64_t ms = 0;
        std::string error;
        EXPECT_FALSE(plant::ParseDate(wrong, ms, error)) << wrong;
    }
    unsetenv("TZ");
    tzset();
}

TEST(ApprovedSet, ReadsBackWhatWasWrittenAndRefusesADamagedFile) {
    const fs::path file = FreshFolder("approved") /
                          plant::DefaultStateDir(nullptr, "data", "line7") /
                          plant::kApprovedSetFile;
    std::optional<plant::ApprovedSet> read;
    std::string error;
    ASSERT_TRUE(plant::ReadApprovedSet(file, read, error));
    EXPECT_FALSE(read); // none stored yet

    const plant::ApprovedSet set =
        plant::MakeApprovedSet({640, 512, 10, 1, 100, 1, 3}, "RMX7 FW 3.14 \xB5", "J. Novák");
    ASSERT_TRUE(plant::WriteApprovedSet(file, set, error)) << error;
    ASSERT_TRUE(plant::ReadApprovedSet(file, read, error)) << error;
    ASSERT_TRUE(read);
    EXPECT_EQ(read->words, set.words);
    EXPECT_EQ(read->fingerprint, set.fingerprint);
    EXPECT_EQ(read->storedMs, set.storedMs);
    EXPECT_EQ(read->by, "J. Novák");
    EXPECT_TRUE(plant::SameFirmware(*read, "RMX7 FW 3.14 \xB5"));
    EXPECT_FALSE(plant::SameFirmware(*read, "RMX7 FW 3.15 \xB5"));

    const std::string good = plant::ApprovedSetText(set);
    const auto changed     = [&](const std::string &from, const std::string &to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::pair<std::string, std::string> damaged[] = {
        {good.substr(0, good.size() / 2), "not JSON"},
        {changed("640", "70000"), "sixteen numbers from 0 to 65535"},
        {changed("640, ", ""), "sixteen numbers"},
        {changed("\"words\"", "\"colour\": 1, \"words\""), "\"colour\""},
        {changed(set.fingerprint.substr(0, 4), "0000"), "fingerprint is not that of its words"},
        {changed("\"format\": 1", "\"format\": 2"), "format"},
        {changed("Z\"", "\""), "time of storing"},
        {changed("\"J. Novák\"", "7"), "are not all texts"},
    };
    for (const auto &[text, reason] : damaged) {
        std::ofstream(file) << text;
        EXPECT_FALSE(plant::ReadApprovedSet(file, read, error)) << text;
        EXPECT_FALSE(read);
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    EXPECT_EQ(plant::DefaultStateDir("/var/lib/rmx7/line7:/var/lib/other", "data", "line7"),
              "/var/lib/rmx7/line7");
}

TEST(Requests, EachVerbTakesItsOwnMembersAndTheRightToRunIt) {
    using plant::Commands;
    using plant::ResultCode;
    struct Case {
        std::string verb, payload;
        Commands commands;
        ResultCode code;
        std::string error; // a part of it
    };
    const std::string oversized = "{\"note\": \"" + std::string(4090, 'x') + "\"}";
    const Case cases[]          = {
                 {"info", "", Commands::Read, ResultCode::Ok, ""},
                 {"get", "{\"memory\": \"eeprom\", \"operator\": \"J\"}", Commands::Read, ResultCode::Ok,
                  ""},
                 {"report", "{\"capture\": \"norm\", \"note\": \"n\"}", Commands::Read, ResultCode::Ok, ""},
                 {"send", "{\"memory\": \"ram\", \"set\": {\"power\": 600, \"average\": 2}}",
                  Commands::Write, ResultCode::Ok, ""},
                 {"send", "{\"memory\": \"eeprom\", \"words\": [1,2,3,4,5,6,7,8,9,10,11,0,0,0,0,65535]}",
                  Commands::Write, ResultCode::Ok, ""},
                 {"get", "{\"memory\": \"ram\"", Commands::Read, ResultCode::Malformed, "not JSON"},
                 {"get", "[\"ram\"]", Commands::Read, ResultCode::Malformed, "a JSON object"},
                 {"report", oversized, Commands::Read, ResultCode::Malformed, "4096"},
                 {"get", "{}", Commands::Read, ResultCode::Malformed, "\"memory\" is"},
                 {"get", "{\"memory\": \"flash\"}", Commands::Read, ResultCode::Malformed, "\"memory\" is"},
                 {"get", "{\"memory\": \"ram\", \"colour\": 1}", Commands::Read, ResultCode::Malformed,
                  "\"colour\" is not a member of get"},
                 {"info", "{\"memory\": \"ram\"}", Commands::Read, ResultCode::Malformed, "\"memory\""},
                 {"send", "{\"memory\": \"ram\", \"set\": {\"power\": 70000}}", Commands::Write,
                  ResultCode::Malformed, "0 to 65535"},
                 {"send", "{\"memory\": \"ram\", \"set\": {\"power\": 1.5}}", Commands::Write,
                  ResultCode::Malformed, "0 to 65535"},
                 {"send", "{\"memory\": \"ram\", \"set\": {\"para12\": 1}}", Commands::Write,
                  ResultCode::Malformed, "cannot be set"},
                 {"send", "{\"memory\": \"ram\", \"set\": {\"speed\": 1}}", Commands::Write,
                  ResultCode::Malformed, "no parameter is called 'speed'"},
                 {"send", "{\"memory\": \"ram\", \"words\": [1,2,3]}", Commands::Write,
                  ResultCode::Malformed, "sixteen"},
                 {"send", "{\"memory\": \"ram\", \"set\": {}, \"words\": []}", Commands::Write,
                  ResultCode::Malformed, "one of them"},
                 {"get", "{\"memory\": \"ram\", \"id\": {}}", Commands::Read, ResultCode::Malformed,
                  "\"id\""},
                 {"get", "{\"memory\": \"ram\", \"reply_to\": \"a/+/b\"}", Commands::Read,
                  ResultCode::Malformed, "reply_to"},
                 {"flash", "{}", Commands::Write, ResultCode::UnknownVerb, "no command is called 'flash'"},
                 {"send", "{\"memory\": \"ram\", \"set\": {\"power\": 1}}", Commands::Read,
                  ResultCode::Refused, "read commands only"},
                 {"store", "{}", Commands::Read, ResultCode::Refused, "read commands only"},
                 {"info", "{}", Commands::Off, ResultCode::Refused, "no commands"},
    };
    for (const Case &c : cases) {
        const plant::Checked checked = plant::CheckRequest(c.verb, c.payload, c.commands);
        const ResultCode code        = checked.ok() ? ResultCode::Ok : checked.refusal->code;
        EXPECT_EQ(plant::ResultCodeName(code), plant::ResultCodeName(c.code)) << c.payload;
        if (!checked.ok()) {
            EXPECT_NE(checked.refusal->error.find(c.error), std::string::npos)
                << c.payload << ": " << checked.refusal->error;
        }
    }
    const plant::Checked send = plant::CheckRequest(
        "send", "{\"memory\": \"ram\", \"set\": {\"power\": 600, \"average\": 2}}",
        Commands::Write);
    std::vector<std::pair<int, std::uint16_t>> settings = send.request.settings;
    std::sort(settings.begin(), settings.end());
    EXPECT_EQ(settings, (std::vector<std::pair<int, std::uint16_t>>{{0, 600}, {6, 2}}));
}

TEST(Requests, ARefusalReachesItsSenderWithItsIdAndExitCode2) {
    const plant::Checked checked = plant::CheckRequest(
        "flash", "{\"id\": 17, \"reply_to\": \"engineer/7/reply\"}", plant::Commands::Write);
    EXPECT_EQ(checked.request.replyTo, "engineer/7/reply");
    json::Value response;
    std::string error;
    ASSERT_TRUE(json::Parse(plant::RefusalResponse(checked, "line7"), response, error)) << error;
    EXPECT_EQ(response.Find("command")->text, "flash");
    EXPECT_EQ(response.Find("line")->text, "line7");
    EXPECT_EQ(response.Find("id")->number, 17);
    EXPECT_EQ(response.Find("exit_code")->number, 2);
    EXPECT_EQ(response.Find("result_code")->text, "UnknownVerb");
    EXPECT_TRUE(response.Find("status")->IsNull());
    EXPECT_EQ(
        plant::CheckRequest("info", "{\"id\": \"a\\\"b\"}", plant::Commands::Read).request.idJson,
        "\"a\\\"b\"");
}
