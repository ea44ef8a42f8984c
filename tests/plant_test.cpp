// The plant from one seat: the model of the lines from their agents' topics (pure, table by
// table), the requests and their 5 s, and then against mosquitto on the loopback with
// stand-in agents: rmx7ctl plant as a process of its own, and the plant window driven
// through its controls as an operator would, a line going offline during an action.
#include "app.h"
#include "colours.h"
#include "plant/plant_link.h"
#include "plant/plant_model.h"
#include "plant/plant_report.h"
#include "plant/plant_requests.h"
#include "plant/plant_seat.h"
#include "plant/plant_view.h"
#include "platform/files/textfile.h"
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
#include <QTableView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

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
        plant::CloseWindow();
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
        ASSERT_TRUE(plant::OpenWindow(settings, error)) << error;
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
