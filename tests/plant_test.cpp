// What serves a plant, and the plant from one seat. Without a broker: the audit trail in its
// SQLite file (records of every origin, the chain's check against edits made behind the
// program's back, a file that cannot be written, the dates that choose records), the
// approved set's file, the check of the agent's requests; the model of the lines from their
// agents' topics (pure, table by table), the requests and their 5 s. Then against mosquitto
// on the loopback with stand-in agents: rmx7ctl plant as a process of its own, and the plant
// window driven through its controls as an operator would, a line going offline during an
// action.
#include "app.h"
#include "colours.h"
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "plant/plant_link.h"
#include "plant/plant_model.h"
#include "plant/plant_report.h"
#include "plant/plant_requests.h"
#include "plant/plant_seat.h"
#include "plant/plant_view.h"
#include "plant/requests.h"
#include "plant/utc_time.h"
#include "platform/files/textfile.h"
#include "platform/json/json.h"
#include "platform/report/fingerprint.h"
#include "platform/widgets/strip_chart.h"
#include "support/broker.h"
#include "support/plant_agent.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

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

using plant::Action;
using plant::Model;

namespace {

constexpr double kNow = 1796679200.0;

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::string Info(const std::string &commands, const std::string &instance = "i1") {
    return R"({"firmware":"FW 2.14","port":"COM1","device":"/dev/ttyUSB0","name":"l1",)"
           R"("instance":")" +
           instance + R"(","host":"pc","started":1796679000,"commands":")" + commands + R"("})";
}

std::string Status(const std::string &status, const std::string &instance, const char *time,
                   const std::string &text = "") {
    return R"({"status":")" + status + R"(","text":")" + text + R"(","instance":")" + instance +
           R"(","time":)" + time + "}";
}

std::string Live(long long seq, double time) {
    return R"({"time":)" + std::to_string(time) + R"(,"seq":)" + std::to_string(seq) +
           R"(,"valNORM":512,"adcCHA":1,"adcCHB":2,"Amax":3,"Amin":4,"UPval":5,"LOval":6,)"
           R"("refval":7,"instate":3})";
}

// A model fed one line's messages, in order.
Model Fed(const std::vector<std::pair<std::string, std::string>> &messages) {
    Model model("rmx7");
    for (const auto &[leaf, payload] : messages)
        model.Apply("rmx7/l1/" + leaf, payload, kNow);
    return model;
}

} // namespace

TEST(PlantModel, RowsComeFromTheRetainedTopicsAndTheRestOnlyForLinesTheyNamed) {
    Model model("hall3/rmx7");
    const struct {
        std::string topic, payload, summary;
    } steps[] = {
        {"hall3/rmx7/l1/live", Live(1, kNow), "0 lines"}, // no retained topic names it yet
        {"hall3/rmx7/l1/info", Info("write"),
         "1 line: 0 online, 0 no controller, 0 offline, "
         "1 not known yet; none differs from its approved set"},
        {"hall3/rmx7/l1/status", Status("online", "i1", "1796679100"),
         "1 line: 1 online, 0 no controller, 0 offline; none differs from its approved set"},
        {"hall3/rmx7/l2/status", "no-controller: Timeout < 36 Bytes", // a publisher's plain words
         "2 lines: 1 online, 1 no controller, 0 offline; none differs from its approved set"},
        {"hall3/rmx7/l3/parameters",
         R"({"mode":"restore","approved":{"fingerprint":"f"},)"
         R"("match":false,"differs":["power"]})",
         "3 lines: 1 online, 1 no controller, 0 offline, 1 not known yet; 1 differs from its "
         "approved set"},
        {"hall3/rmx7/l3/status", "{not json",
         "3 lines: 1 online, 1 no controller, 0 offline, "
         "1 not known yet; 1 differs from its approved set"},
        {"hall3/rmx7/l3/parameters", "", // cleared: l3 had nothing else retained
         "2 lines: 1 online, 1 no controller, 0 offline; none differs from its approved set"},
        {"hall3/rmx7/l1/cmd/restore", "{}",
         "2 lines: 1 online, 1 no controller, 0 offline; "
         "none differs from its approved set"},
        {"other/l9/status", Status("online", "x", "1"),
         "2 lines: 1 online, 1 no controller, "
         "0 offline; none differs from its approved set"},
    };
    for (const auto &step : steps) {
        model.Apply(step.topic, step.payload, kNow);
        EXPECT_EQ(plant::Summary(model.Rows()), step.summary) << step.topic;
    }
    EXPECT_EQ(model.Find("l2")->statusText, "Timeout < 36 Bytes");

    // Live values: the trend keeps 30 s, the rate counts replies by their numbers, also those
    // not published, and a number that goes back starts the trend anew.
    for (int i = 0; i <= 40; ++i)
        model.Apply("hall3/rmx7/l1/live", Live(1 + 27 * i, kNow + i), kNow + i);
    const plant::Row &row = *model.Find("l1");
    EXPECT_EQ(row.trend.size(), 31u);
    EXPECT_NEAR(plant::RepliesPerSecond(row, kNow + 40), 27.0, 1e-9);
    EXPECT_EQ(plant::RepliesPerSecond(row, kNow + 45), 0) << "no value lately: no rate";
    model.Apply("hall3/rmx7/l1/live", Live(1, kNow + 41), kNow + 41);
    EXPECT_EQ(model.Find("l1")->trend.size(), 1u);
    const plant::Applied bad =
        model.Apply("hall3/rmx7/l1/live", R"({"seq":2,"valNORM":70000})", kNow);
    EXPECT_FALSE(bad.taken);
    EXPECT_EQ(model.Find("l1")->live.valNORM, 512) << "a value out of range is never half taken";
}

TEST(PlantModel, AStatusKeepsTheTimeItBeganAndAnEarlierAgentsWillIsLeftOut) {
    const struct {
        std::vector<std::pair<std::string, std::string>> messages;
        std::string status; // StatusText at kNow
    } cases[] = {
        {{{"info", Info("write")},
          {"status", Status("online", "i1", "1796679100")},
          {"status", Status("online", "i1", "1796679150")}},
         "online since " + plant::ClockText(1796679100, kNow)},
        {{{"info", Info("write")},
          {"status", Status("online", "i1", "1796679100")},
          {"status", Status("offline", "i1", "null", "connection lost")}},
         "offline since " + plant::ClockText(kNow, kNow) + " or before (connection lost)"},
        // The broker sends the killed agent's will after a new agent took the name over.
        {{{"info", Info("write", "i2")},
          {"status", Status("online", "i2", "1796679100")},
          {"status", Status("offline", "i1", "null", "connection lost")}},
         "online since " + plant::ClockText(1796679100, kNow)},
        {{{"status", Status("online", "i1", "1796679100")},
          {"status", Status("no-controller", "i1", "1796679160", "Timeout < 36 Bytes")}},
         "no controller since " + plant::ClockText(1796679160, kNow) + ": Timeout < 36 Bytes"},
        {{{"status", Status("online", "i1", "1796679100")},
          {"status", R"({"status":"conflict","text":"another agent","instance":"i1",)"
                     R"("other":"i9","time":1796679170})"}},
         "online since " + plant::ClockText(1796679100, kNow)},
    };
    for (const auto &c : cases) {
        const Model model = Fed(c.messages);
        EXPECT_EQ(plant::StatusText(*model.Find("l1"), kNow), c.status);
    }
    EXPECT_EQ(plant::EventText(*Fed(cases[4].messages).Find("l1"), kNow),
              plant::ClockText(1796679170, kNow) + " conflict: another agent (other instance i9)");
}

TEST(PlantModel, TheApprovedSetMatchNamesTheWordsThatDiffer) {
    const std::pair<const char *, const char *> cases[] = {
        {R"({"mode":"restore","approved":{"fingerprint":"a"},"match":true,"differs":[]})", "equal"},
        {R"({"mode":"restore","approved":{"fingerprint":"a"},"match":false,)"
         R"("differs":["power","hold"]})",
         "differs: power, hold"},
        {R"({"mode":"backup","approved":null,"match":null})", "none"},
        {R"({"mode":"restore","approved":{"fingerprint":"a"},"eeprom":null,"match":null})",
         "not known"},
        {R"({"mode":"off","approved":{"fingerprint":"a"},"match":"yes"})", "not known"},
    };
    for (const auto &[payload, shown] : cases)
        EXPECT_EQ(plant::ApprovedText(*Fed({{"parameters", payload}}).Find("l1")), shown)
            << payload;
}

TEST(PlantModel, EachActionIsOfferedOnlyWhereTheLineAndItsAgentTakeIt) {
    const std::string online = Status("online", "i1", "1796679100");
    const std::string approved =
        R"({"mode":"restore","approved":{"fingerprint":"a"},"match":true})";
    const struct {
        std::vector<std::pair<std::string, std::string>> messages;
        Action action;
        std::string refusal; // empty: offered
    } cases[] = {
        {{{"info", Info("write")}, {"status", online}, {"parameters", approved}},
         Action::Restore,
         ""},
        {{{"info", Info("read")}, {"status", online}, {"parameters", approved}}, Action::Read, ""},
        {{{"info", Info("read")}, {"status", online}, {"parameters", approved}},
         Action::Store,
         "read commands only"},
        {{{"info", Info("off")}, {"status", online}}, Action::Report, "takes no commands"},
        {{{"status", online}}, Action::Read, "not said which commands"},
        {{{"info", Info("write")}, {"status", online}, {"parameters", R"({"approved":null})"}},
         Action::Restore,
         "no approved set"},
        {{{"info", Info("write")}, {"status", online}}, Action::Restore, "nothing is known"},
        {{{"info", Info("write")}, {"status", Status("no-controller", "i1", "1", "Timeout")}},
         Action::Read,
         "no controller answers on the line (Timeout)"},
        {{{"info", Info("write")}, {"status", Status("offline", "i1", "1")}},
         Action::Chart,
         "the line is offline since"},
        {{{"info", Info("write")}, {"status", Status("offline", "i1", "1")}}, Action::Forget, ""},
        {{{"info", Info("write")}, {"status", online}}, Action::Forget, "only an offline line"},
        {{{"info", Info("write")}, {"status", online}}, Action::Chart, ""},
    };
    for (const auto &c : cases) {
        const plant::Allowed allowed = plant::Allows(*Fed(c.messages).Find("l1"), c.action, kNow);
        EXPECT_EQ(allowed.ok, c.refusal.empty()) << c.refusal << int(c.action);
        EXPECT_TRUE(Has(allowed.why, c.refusal)) << allowed.why;
    }
    Model busy = Fed(cases[0].messages);
    busy.SetResult("l1", {"restore", true, 0, "sent", kNow});
    EXPECT_EQ(plant::Allows(*busy.Find("l1"), Action::Read, kNow).why,
              "waiting for the answer to restore");
}

TEST(PlantModel, NamesSortAsCountedAndFilterByPartOrPatternAndStatus) {
    EXPECT_TRUE(plant::NaturalLess("line2", "line10"));
    EXPECT_TRUE(plant::NaturalLess("line02", "line3"));
    EXPECT_FALSE(plant::NaturalLess("line10", "line9"));
    plant::Row row;
    row.name                                     = "Hall3-line7";
    const std::pair<plant::Filter, bool> cases[] = {
        {{"LINE7", plant::StatusFilter::All}, true},
        {{"hall3-*", plant::StatusFilter::All}, true},
        {{"line*", plant::StatusFilter::All}, false}, // a pattern names the whole name
        {{"", plant::StatusFilter::Offline}, false},
    };
    for (const auto &[filter, matches] : cases)
        EXPECT_EQ(plant::Matches(row, filter), matches) << filter.name;
}

TEST(PlantRequests, AnAnswerEndsItsOwnRequestTheRestEndAfter5sOrWhenTheirLineGoesOffline) {
    plant::Requests requests("rmx7", "rmx7/reply/me");
    plant::LineResult refused;
    const auto a = requests.Prepare("l1", "restore", "", 100.0, refused);
    const auto b = requests.Prepare("l2", "restore", "", 100.0, refused);
    const auto c = requests.Prepare("l3", "diff", "", 102.0, refused);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->topic, "rmx7/l1/cmd/restore");
    EXPECT_NE(a->correlation, b->correlation);
    EXPECT_FALSE(requests.Prepare("l1", "report", "\"note\":\"" + std::string(5000, 'x') + "\"",
                                  100, refused));
    EXPECT_EQ(refused.exitCode, 2);

    const auto answered = requests.TakeResponse(
        b->correlation, R"({"command":"restore","exit_code":0,"status":"Data Transfer Ok!",)"
                        R"("error":null,"line":"l2","result_code":"Ok"})");
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->line, "l2");
    EXPECT_EQ(answered->Text(), "ok (Data Transfer Ok!)");
    EXPECT_FALSE(requests.TakeResponse(b->correlation, "{}")) << "answered once only";

    const std::vector<plant::LineResult> offline = requests.LineWentOffline("l3");
    ASSERT_EQ(offline.size(), 1u);
    EXPECT_TRUE(Has(offline[0].Text(), "went offline before it answered diff"));
    EXPECT_TRUE(requests.Expire(104.9).empty());
    const std::vector<plant::LineResult> late = requests.Expire(105.0);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].line + ": " + late[0].Text(), "l1: no answer within 5 s");
    EXPECT_EQ(late[0].exitCode, 4);
    EXPECT_EQ(requests.Waiting(), 0u);
}

TEST(PlantView, ARowSaysItsStateInWordsBesideItsColourAndThePanelsReference) {
    const std::string info = R"({"commands":"write","ram":{"power":500,"reference":512,)"
                             R"("hysteresis":10,"polarity":1,"hold":100,"hwmode":HW,"average":0,)"
                             R"("evalmode":0,"mmtime":20,"mmthd":50,"sdelay":1,"para12":0,)"
                             R"("para13":0,"para14":0,"para15":0,"para16":0}})";
    const struct {
        std::string status, hwmode;
        unsigned colour;
        double reference; // the live chart's: the parameter's at hwmode 0 and 2, else refval
    } cases[] = {
        {Status("online", "i1", "1796679100"), "0", colour::kOnlineBack, 512},
        {Status("no-controller", "i1", "1796679100", "Timeout"), "2", colour::kAttentionBack, 512},
        {Status("offline", "i1", "1796679100"), "1", colour::kOfflineBack, 7},
    };
    for (const auto &c : cases) {
        std::string withMode = info;
        withMode.replace(withMode.find("HW"), 2, c.hwmode);
        Model model = Fed({{"info", withMode}, {"status", c.status}, {"live", Live(1, kNow)}});
        const plantview::RowCells cells = plant::CellsOf(*model.Find("l1"), kNow);
        EXPECT_EQ(cells.cells[1].background, c.colour) << cells.cells[1].text;
        EXPECT_TRUE(Has(cells.cells[1].accessible, "Status: " + cells.cells[1].text));
        EXPECT_EQ(plant::SampleOf(*model.Find("l1")).valREF, c.reference) << c.hwmode;
    }
    Model model = Fed({{"status", cases[0].status}});
    model.SetResult("l1", {"restore", false, 4, "no answer within 5 s", kNow});
    for (int i = 0; i < 810; ++i) // 30 s of a line at its limit
        model.Apply("rmx7/l1/live", Live(i + 1, kNow + i / 27.0), kNow + i / 27.0);
    const plantview::RowCells cells = plant::CellsOf(*model.Find("l1"), kNow + 30);
    EXPECT_EQ(cells.cells[8].text, "restore: no answer within 5 s");
    EXPECT_EQ(cells.cells[8].background, colour::kFailedBack);
    EXPECT_TRUE(Has(cells.cells[8].accessible, "exit code 4: no controller, or a time-out"));
    EXPECT_LE(cells.trend.values.size(), 121u) << "no more points than a cell is wide";
    EXPECT_EQ(cells.trend.leds, 3);
}

TEST(PlantReports, AReportIsWrittenWholeOnlyWhenItsDigestHoldsAndNeverOverAnotherFile) {
    const std::string folder = testing::TempDir() + "rmx7-reports-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const std::string pdf = "%PDF-1.4\n% a report\n%%EOF\n";
    const auto answer     = [&](const std::string &base64, const std::string &digest) {
        return plant::ReadAnswer(R"({"command":"report","exit_code":0,"line":"hall 3",)"
                                         R"("pdf":")" +
                                     base64 + R"(","sha256":")" + digest + R"("})");
    };
    const std::string good = QByteArray::fromStdString(pdf).toBase64().toStdString();
    const std::string name = plant::ReportFileName("hall 3", kNow);
    EXPECT_TRUE(name.starts_with("hall_3-") && name.ends_with(".pdf")) << name;
    // A link planted where the first report goes is not followed.
    std::filesystem::create_symlink(folder + "/victim", folder + "/" + name);
    const struct {
        std::string base64, digest, made; // made: the file's name, or "" for exit code 6
    } cases[] = {
        {good, Sha256Hex(pdf), name.substr(0, name.size() - 4) + "-2.pdf"},
        {good, Sha256Hex(pdf), name.substr(0, name.size() - 4) + "-3.pdf"},
        {good, Sha256Hex("another"), ""},
        {"not base64 at all!", Sha256Hex(pdf), ""},
    };
    for (const auto &c : cases) {
        const plant::SavedReport saved =
            plant::SaveReport(answer(c.base64, c.digest), folder, kNow);
        EXPECT_EQ(saved.exitCode, c.made.empty() ? 6 : 0) << saved.error;
        EXPECT_EQ(std::filesystem::path(saved.path).filename(), c.made);
    }
    std::string written;
    EXPECT_EQ(ReadTextFile((folder + "/" + cases[0].made).c_str(), written), 0);
    EXPECT_EQ(written, pdf);
    EXPECT_FALSE(std::filesystem::exists(folder + "/victim"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3)
        << "nothing half written is left";
    std::filesystem::remove_all(folder);
}

TEST(PlantCommandLine, PlantTakesThePublishersLoginAndTlsButNeverAConfigsClientId) {
    const std::string config = testing::TempDir() + "rmx7-plant-" + std::to_string(getpid());
    std::ofstream(config) << "device = /dev/ttyUSB0\nbroker = mqtt://other\nclient-id = line7\n"
                          << "username = eng\n";
    const auto parse = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "rmx7scope");
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        return app::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    };
    const struct {
        std::vector<std::string> args;
        std::string read; // "broker prefix username client-id", or the error
    } cases[] = {
        {{"--plant", "mqtt://plant:1884", "--config", config, "--topic", "hall3"},
         "mqtt://plant:1884 hall3 eng "},
        {{"--plant", "mqtt://plant", "--config", config, "--client-id", "seat1"},
         "mqtt://plant rmx7 eng seat1"},
        {{"--plant", "mqtt://plant", "--port", "1=/dev/ttyS0"}, "opens no port"},
        {{"--plant", "http://plant"}, "--plant: broker address \"http://plant\""},
        {{"--plant", "mqtt://plant", "--every", "2"}, "--every is the publisher's"},
    };
    for (const auto &c : cases) {
        const app::Options options   = parse(c.args);
        const publish::Settings read = plant::ReaderSettings(options.publisher, options.publishing);
        const std::string got = options.error.empty() ? read.broker + " " + read.prefix + " " +
                                                            read.username + " " + read.clientId
                                                      : options.error;
        EXPECT_TRUE(Has(got, c.read)) << got;
    }
    std::remove(config.c_str());
}

// A broker of the test's own and three stand-in agents: line1 and line2 take every command,
// line2's set differs from its approved set, line3 takes read commands only.
class PlantOnBroker : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = testing::TempDir() + "rmx7-plant-XXXXXX";
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder = name;
        broker = std::make_unique<Broker>(folder);
        ASSERT_TRUE(broker->Start());
        url = "mqtt://127.0.0.1:" + std::to_string(broker->Port());
        for (const StandInAgent::Setup &setup :
             {StandInAgent::Setup{"line1"}, StandInAgent::Setup{"line2", "write", true},
              StandInAgent::Setup{"line3", "read", false, false}}) {
            agents.push_back(std::make_unique<StandInAgent>(broker->Port(), setup));
            ASSERT_TRUE(agents.back()->Start()) << setup.name;
        }
    }
    void TearDown() override {
        seat.Close();
        agents.clear();
        broker.reset();
        std::filesystem::remove_all(folder);
    }
    // rmx7ctl --json plant ARGS while the agents answer on this event loop: its exit code and
    // its object.
    std::pair<int, QJsonObject> Tool(const QStringList &args) {
        QProcess tool;
        tool.start("./rmx7ctl", QStringList{"--json", "--quiet", "plant"} + args +
                                    QStringList{"--broker", QString::fromStdString(url)});
        EXPECT_TRUE(WaitUntil([&] { return tool.state() == QProcess::NotRunning; }, 20));
        return {tool.exitCode(), QJsonDocument::fromJson(tool.readAllStandardOutput()).object()};
    }
    static std::map<std::string, int> ExitCodes(const QJsonObject &result) {
        std::map<std::string, int> codes;
        for (const QJsonValue &line : result["lines"].toArray())
            codes[line["line"].toString().toStdString()] = line["exit_code"].toInt();
        return codes;
    }

    std::string folder, url;
    plant::PlantSeat seat; // the window of the tests that open one
    std::unique_ptr<Broker> broker;
    std::vector<std::unique_ptr<StandInAgent>> agents;
};

TEST_F(PlantOnBroker, RmxctlPlantReadsTheLinesAndCommandsExactlyThoseNamed) {
    auto [code, status] = Tool({"status"});
    EXPECT_EQ(code, 5) << "the worst line: line2 differs";
    EXPECT_EQ(ExitCodes(status),
              (std::map<std::string, int>{{"line1", 0}, {"line2", 5}, {"line3", 0}}));
    EXPECT_EQ(status["summary"].toString(),
              "3 lines: 3 online, 0 no controller, 0 offline; 1 differs from its approved set");

    std::tie(code, status) = Tool({"restore", "--lines", "line2,line3", "--operator", "J. Novak"});
    EXPECT_EQ(code, 2) << "line3 takes read commands only and is not sent it";
    EXPECT_EQ(ExitCodes(status), (std::map<std::string, int>{{"line2", 0}, {"line3", 2}}));
    EXPECT_EQ(agents[1]->Requests(), std::vector<std::string>{"restore J. Novak"});
    EXPECT_TRUE(agents[0]->Requests().empty() && agents[2]->Requests().empty());

    std::tie(code, status) =
        Tool({"report", "-o", QString::fromStdString(folder), "--lines", "line1"});
    ASSERT_EQ(code, 0);
    const std::string file = status["lines"][0]["file"].toString().toStdString();
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(folder));
    EXPECT_TRUE(std::filesystem::path(file).filename().string().starts_with("line1-"));
    std::string pdf;
    EXPECT_EQ(ReadTextFile(file.c_str(), pdf), 0);
    EXPECT_EQ(pdf, "%PDF-1.4\n% the report of line1\n%%EOF\n") << "the PDF the agent sent, whole";

    std::tie(code, status) = Tool({"forget", "--lines", "line3"});
    EXPECT_EQ(code, 2) << "line3 is online";
    agents[2]->GoOffline();
    std::tie(code, status) = Tool({"forget", "--lines", "line3"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ExitCodes(Tool({"status"}).second),
              (std::map<std::string, int>{{"line1", 0}, {"line2", 0}}));

    // A line whose agent stays silent is said so after 5 s; the other's answer stands.
    agents[0] = std::make_unique<StandInAgent>(broker->Port(),
                                               StandInAgent::Setup{"line1", "write", false, false});
    ASSERT_TRUE(agents[0]->Start());
    std::tie(code, status) = Tool({"diff", "--lines", "line*"});
    EXPECT_EQ(code, 4);
    EXPECT_EQ(ExitCodes(status), (std::map<std::string, int>{{"line1", 4}, {"line2", 0}}));
    EXPECT_EQ(status["lines"][0]["error"].toString(), "no answer within 5 s");
}

// The broker's ACL as the README advises it: an engineer reads the plant and commands it,
// and a forget the broker does not let through is said so, not taken for done.
TEST_F(PlantOnBroker, ThroughTheAdvisedAclCommandsGoAndARefusedForgetIsNoSuccess) {
    const std::string passwords = folder + "/passwords", acl = folder + "/acl";
    ASSERT_EQ(std::system(("mosquitto_passwd -c -b " + passwords + " agent a-secret && " +
                           "mosquitto_passwd -b " + passwords + " eng e-secret")
                              .c_str()),
              0);
    std::ofstream(acl) << "user agent\ntopic readwrite rmx7/#\n"
                       << "user eng\ntopic read rmx7/#\ntopic write rmx7/+/cmd/#\n"
                       << "pattern readwrite rmx7/reply/%c\n";
    std::ofstream(folder + "/eng") << "e-secret\n";
    std::filesystem::permissions(folder + "/eng", std::filesystem::perms::owner_read);
    agents.clear();
    broker->SetAcl(acl);
    ASSERT_TRUE(broker->Start({"", "", "", passwords}));
    for (const char *name : {"line1", "line2"}) {
        agents.push_back(std::make_unique<StandInAgent>(
            broker->Port(), StandInAgent::Setup{.name = name}, "agent", "a-secret"));
        ASSERT_TRUE(agents.back()->Start());
    }
    agents[1]->GoOffline();
    const QStringList login = {"--username", "eng", "--password-file",
                               QString::fromStdString(folder + "/eng")};
    auto [code, result]     = Tool(QStringList{"diff", "--lines", "line1"} + login);
    EXPECT_EQ(code, 0) << QJsonDocument(result).toJson().toStdString();
    std::tie(code, result) = Tool(QStringList{"forget", "--lines", "line2"} + login);
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(result["lines"][0]["error"].toString().contains("the broker kept"));
    EXPECT_EQ(ExitCodes(Tool(QStringList{"status"} + login).second),
              (std::map<std::string, int>{{"line1", 0}, {"line2", 4}}));
}

// The window's controls, found as an operator or a screen reader finds them.
class PlantWindowOnBroker : public PlantOnBroker {
  protected:
    void Open() {
        publish::Settings settings;
        settings.broker = url;
        std::string error;
        ASSERT_TRUE(seat.Open(settings, error)) << error;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *found = widget->findChild<QTableView *>())
                table = found;
        ASSERT_TRUE(table);
        window = table->window();
        ASSERT_TRUE(WaitUntil([&] { return table->model()->rowCount() == 3; }));
    }
    template <class Widget> Widget *Control(const QString &name) const {
        for (Widget *control : window->findChildren<Widget *>())
            if (control->accessibleName() == name)
                return control;
        return nullptr;
    }
    QPushButton *Button(const QString &name) const { return Control<QPushButton>(name); }
    std::string Cell(int row, int column) const {
        return table->model()->index(row, column).data().toString().toStdString();
    }
    void Select(std::initializer_list<int> rows) {
        table->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
    }
    // Answers the question the window asks; its text.
    std::string Answer(QMessageBox::StandardButton button) {
        QMessageBox *box = nullptr;
        EXPECT_TRUE(WaitUntil([&] { return (box = window->findChild<QMessageBox *>()); }));
        if (!box)
            return {};
        const std::string text = box->text().toStdString();
        box->button(button)->click();
        return text;
    }
    std::string Log() const {
        return window->findChild<QPlainTextEdit *>()->toPlainText().toStdString();
    }

    QTableView *table = nullptr;
    QWidget *window   = nullptr;
};

TEST_F(PlantWindowOnBroker, EveryLineShowsAndARestoreReachesTheTwoSelectedAfterAsking) {
    Open();
    agents[0]->PublishLive(30);
    ASSERT_TRUE(WaitUntil([&] { return Cell(0, 4) != "-"; }));
    EXPECT_TRUE(Has(Cell(0, 1), "online since"));
    EXPECT_EQ(Cell(1, 6), "differs: power");
    // Every control and cell is named for a screen reader.
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (control->focusPolicy() != Qt::NoFocus && control->isVisible()) {
            EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
        }
    }
    for (int column = 0; column < table->model()->columnCount(); ++column)
        EXPECT_FALSE(
            table->model()->index(0, column).data(Qt::AccessibleTextRole).toString().isEmpty());

    // Every action has its Alt letter and is in the Tab order.
    for (const char *action : {"Read", "Restore", "Store", "Report", "Live chart", "Forget"}) {
        EXPECT_TRUE(Button(action)->text().contains('&')) << action;
        EXPECT_TRUE(Button(action)->focusPolicy() & Qt::TabFocus) << action;
    }
    // 1024x600 shows it whole; a smaller window scrolls.
    auto *area = window->findChild<QScrollArea *>();
    for (const auto &[size, scrolls] :
         {std::pair(QSize(1024, 600), false), {QSize(800, 480), true}}) {
        window->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(area->verticalScrollBar()->isVisible(), scrolls) << size.width();
    }

    // A line that comes keeps the operator's selection on the line chosen.
    Select({1});
    StandInAgent newcomer(broker->Port(), {"line0"});
    ASSERT_TRUE(newcomer.Start());
    ASSERT_TRUE(WaitUntil([&] { return table->model()->rowCount() == 4; }));
    const QModelIndexList chosen = table->selectionModel()->selectedRows();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(Cell(chosen[0].row(), 0), "line2");
    newcomer.GoOffline();
    ASSERT_TRUE(WaitUntil([&] { return Has(Cell(0, 1), "offline"); }));

    // Restore is dimmed for line3 alone, whose agent takes read commands only.
    Select({3});
    ASSERT_TRUE(WaitUntil([&] { return !Button("Restore")->isEnabled(); }));
    EXPECT_TRUE(Button("Restore")->toolTip().contains("line3: its agent takes read commands only"));
    Select({1, 2});
    ASSERT_TRUE(WaitUntil([&] { return Button("Restore")->isEnabled(); }));
    Button("Restore")->click();
    const std::string question = Answer(QMessageBox::Yes);
    EXPECT_TRUE(Has(question, "line1: approved set aaaaaaaaaaaa...")) << question;
    EXPECT_TRUE(Has(question, "line2: approved set") && Has(question, "EEPROM: power 640 -> 500"))
        << question;
    ASSERT_TRUE(WaitUntil([&] { return Has(Cell(2, 8), "restore: ok"); }));
    EXPECT_TRUE(Has(Cell(1, 8), "restore: ok (Data Transfer Ok!)"));
    EXPECT_EQ(agents[0]->Requests().size() + agents[1]->Requests().size(), 2u);
    EXPECT_TRUE(agents[2]->Requests().empty());
    EXPECT_TRUE(WaitUntil([&] { return Cell(2, 6) == "equal"; })) << "its set now equals";
    EXPECT_TRUE(Has(Log(), "line2 restore: ok (Data Transfer Ok!) (exit code 0: ok)")) << Log();

    // Filtered to the lines that differ: none now; sorted by name downwards.
    Control<QComboBox>("Status filter")->setCurrentIndex(4);
    EXPECT_TRUE(WaitUntil([&] { return table->model()->rowCount() == 0; }));
    Control<QComboBox>("Status filter")->setCurrentIndex(0);
    Control<QCheckBox>("Descending")->setChecked(true);
    EXPECT_TRUE(
        WaitUntil([&] { return table->model()->rowCount() == 4 && Cell(0, 0) == "line3"; }));
}

TEST_F(PlantWindowOnBroker, ALiveChartShowsItsLinesValuesAsThePanelDrawsThem) {
    Open();
    Select({0});
    ASSERT_TRUE(WaitUntil([&] { return Button("Live chart")->isEnabled(); }));
    Button("Live chart")->click();
    StripChart *norm = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->accessibleName() == "line1 - live values" && top->isVisible())
                for (StripChart *chart : top->findChildren<StripChart *>())
                    if (chart->accessibleName() == "NORM chart")
                        norm = chart;
        return norm != nullptr;
    }));
    agents[0]->PublishLive(5);
    agents[1]->PublishLive(5);
    ASSERT_TRUE(WaitUntil([&] { return norm->TraceValues(4).size() >= 5; }));
    EXPECT_EQ(norm->TraceValues(4).size(), 5u) << "line1's values, not line2's";
    EXPECT_EQ(norm->TraceValues(1).back(), 600) << "the upper level in the thresholds' green";
    EXPECT_EQ(norm->TraceValues(3).back(), 512) << "hwmode unknown: the controller's refval";
    EXPECT_EQ(norm->TraceValues(4).back(), 405);
}

TEST_F(PlantWindowOnBroker, ALineGoingOfflineDuringAnActionIsSaidForThatLineOnly) {
    agents[0] = std::make_unique<StandInAgent>(broker->Port(),
                                               StandInAgent::Setup{"line1", "write", false, false});
    ASSERT_TRUE(agents[0]->Start());
    Open();
    Select({0, 1});
    ASSERT_TRUE(WaitUntil([&] { return Button("Read")->isEnabled(); }));
    Button("Read")->click();
    ASSERT_TRUE(WaitUntil([&] { return !agents[0]->Requests().empty(); }));
    agents[0]->GoOffline();
    ASSERT_TRUE(WaitUntil([&] { return Has(Cell(0, 8), "went offline"); }, 4));
    EXPECT_TRUE(Has(Cell(0, 1), "offline since"));
    EXPECT_EQ(Cell(1, 8), "diff: differs: power");
    EXPECT_TRUE(Has(Log(), "line1 diff: the line went offline before it answered diff")) << Log();
}
