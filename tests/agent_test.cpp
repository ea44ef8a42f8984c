// The line's agent: `rmx7ctl publish` with commands, against controller peers and Debian's
// mosquitto on the loopback, asked by a client of the test's own in MQTT 5 form and by
// mosquitto_pub in 3.1.1 form: answers as rmx7ctl --json gives them, the panel steps'
// requests and nothing else on the line, refusals that change nothing, the queue's bound,
// an audit record for each write, one agent to a name; and the parameter server on the
// line in its three modes, a swapped controller restored and one of another firmware refused.
#include "plant/agent.h"
#include "plant/parameter_server.h"
#include "platform/mqtt/mqtt.h"
#include "support/broker.h"
#include "support/panel_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

namespace {

QJsonObject Object(const std::string &json) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

// An object as text with its members sorted, for a comparison that shows what differs.
std::string Sorted(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// The command byte of each request the peer got from index first on, live requests left out.
std::vector<int> CommandsSince(const ScriptedPeer &peer, std::size_t first) {
    std::vector<int> commands;
    const std::vector<Bytes> requests = peer.Requests();
    for (std::size_t i = first; i < requests.size(); ++i)
        if (const int command = sim::FrameCommand(requests[i]); command != kCmdLive)
            commands.push_back(command);
    return commands;
}

// A broker of the test's own, COM1's controller behind a lock the test takes to change it,
// and rmx7ctl publish as the line's agent.
class Agent : public PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder([this, answer = controller.Responder()](const Bytes &request) {
            std::lock_guard<std::mutex> held(lock);
            return answer(request);
        });
        std::string name = testing::TempDir() + "rmx7-agent-XXXXXX";
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder = name;
        broker = std::make_unique<Broker>(folder);
        ASSERT_TRUE(broker->Start());
        mqtt::Settings settings;
        settings.host = "127.0.0.1";
        settings.port = broker->Port();
        asker.OnMessage([this](const mqtt::Message &m) { answers.push_back(m); });
        asker.Subscribe("reply/test", 1);
        std::string error;
        ASSERT_EQ(asker.Start(settings, error), mqtt::kMqttOk) << error;
    }
    void TearDown() override {
        agent.terminate();
        agent.waitForFinished();
        asker.StopSilently();
        broker.reset();
        std::filesystem::remove_all(folder);
        PanelTest::TearDown();
    }
    // Starts the agent of line7 with more options, until its line runs.
    void StartAgent(const QStringList &options) {
        agent.start("./rmx7ctl",
                    QStringList{"--quiet", "publish", "--device",
                                QString::fromStdString(peer.path()), "--broker",
                                QString("mqtt://127.0.0.1:%1").arg(broker->Port()), "--name",
                                "line7", "--state", QString::fromStdString(folder + "/state")} +
                        options);
        ASSERT_TRUE(WaitUntil([&] { return controller.liveReplies > 3; })) << "the run never began";
    }
    // The answer to verb with payload, asked as an MQTT 5 client with operator anna.
    QJsonObject Ask(const std::string &verb, const std::string &payload) {
        const std::string correlation = "c" + std::to_string(++asked);
        asker.Publish("rmx7/line7/cmd/" + verb, payload, 1, false,
                      {"reply/test", correlation, {{"operator", "anna"}}});
        const mqtt::Message *answer = nullptr;
        WaitUntil([&] {
            for (const mqtt::Message &m : answers)
                if (m.correlationData == correlation)
                    answer = &m;
            return answer != nullptr;
        });
        return answer ? Object(answer->payload) : QJsonObject{};
    }

    std::mutex lock;
    std::string folder;
    std::unique_ptr<Broker> broker;
    mqtt::Client asker;
    std::vector<mqtt::Message> answers;
    int asked = 0;
    QProcess agent;
};

} // namespace

TEST_F(Agent, CommandsAnswerAsRmx7ctlDoesWithThePanelStepsRequestsAndRecordTheirWrites) {
    StartAgent({"--commands", "write"});
    QJsonObject got = Ask("get", R"({"memory":"eeprom"})");
    EXPECT_EQ(got["line"].toString(), "line7");
    EXPECT_EQ(got["result_code"].toString(), "Ok");
    EXPECT_EQ(got["parameters"].toObject()["power"].toInt(), controller.eeprom[0]);

    std::size_t before     = peer.Requests().size();
    const QJsonObject sent = Ask("send", R"({"memory":"ram","set":{"power":601,"hold":91}})");
    EXPECT_EQ(sent["exit_code"].toInt(), 0) << sent["error"].toString().toStdString();
    EXPECT_EQ(CommandsSince(peer, before),
              (std::vector<int>{kCmdReadRam, kCmdWriteRam, kCmdReadRam}));
    EXPECT_EQ(sent["changes"].toArray().size(), 2);
    {
        std::lock_guard<std::mutex> held(lock);
        EXPECT_EQ(controller.ram[0], 601);
        EXPECT_EQ(controller.ram[4], 91);
        EXPECT_EQ(controller.ram[1], 300) << "a word not asked for stays";
    }
    before = peer.Requests().size();
    EXPECT_EQ(Ask("teach", "{}")["exit_code"].toInt(), 0);
    EXPECT_EQ(CommandsSince(peer, before), std::vector<int>{kCmdTeach});

    // An MQTT 3.1.1 client names its reply topic and id in the request.
    Subscriber old(broker->Port(), "reply/old");
    ASSERT_EQ(std::system(("mosquitto_pub -V mqttv311 -q 1 -h 127.0.0.1 -p " +
                           std::to_string(broker->Port()) +
                           " -t rmx7/line7/cmd/info -m '{\"reply_to\":\"reply/old\",\"id\":7}'")
                              .c_str()),
              0);
    ASSERT_TRUE(old.WaitFor(1));
    const QJsonObject info = Object(old.Messages()[0].substr(std::string("reply/old ").size()));
    EXPECT_EQ(info["id"].toInt(), 7);
    EXPECT_EQ(info["firmware"].toString().toStdString(), controller.firmware);

    // The same step on the port, once the agent has let it go, prints what rmx7ctl --agent
    // printed through the agent, and answers with the same object but the agent's own members.
    const auto run = [](QStringList arguments) {
        QProcess tool;
        tool.start("./rmx7ctl", QStringList{"--quiet"} + arguments);
        EXPECT_TRUE(tool.waitForFinished());
        return tool.readAllStandardOutput().toStdString();
    };
    const QString through = QString("mqtt://127.0.0.1:%1/rmx7/line7").arg(broker->Port());
    // With the broker's login options beside it, a send that starts from the other memory.
    const std::string copied = run({"--agent", through, "--client-id", "engineer7", "--json",
                                    "send", "eeprom", "--from", "ram"});
    EXPECT_EQ(Object(copied)["base"].toString(), "ram") << copied;
    {
        std::lock_guard<std::mutex> held(lock);
        EXPECT_EQ(controller.eeprom[0], 601);
        EXPECT_EQ(controller.eeprom[4], 91);
    }
    got                          = Ask("get", R"({"memory":"eeprom"})");
    const std::string viaAgent[] = {run({"--agent", through, "--json", "get", "eeprom"}),
                                    run({"--agent", through, "info"})};
    agent.terminate();
    ASSERT_TRUE(agent.waitForFinished());
    const QString device       = QString::fromStdString(peer.path());
    const std::string onPort[] = {run({"--device", device, "--json", "get", "eeprom"}),
                                  run({"--device", device, "info"})};
    EXPECT_EQ(Sorted(Object(viaAgent[0])), Sorted(Object(onPort[0])));
    EXPECT_EQ(viaAgent[1], onPort[1]);
    got.remove("line");
    got.remove("id");
    EXPECT_EQ(Sorted(got), Sorted(Object(onPort[0])));

    QProcess audit;
    audit.start("./rmx7ctl", {"audit", "--state", QString::fromStdString(folder + "/state")});
    ASSERT_TRUE(audit.waitForFinished());
    const QString records = audit.readAllStandardOutput();
    EXPECT_EQ(records.count("plant-command"), 3) << records.toStdString();
    EXPECT_TRUE(records.contains("send ram") && records.contains("teach ram") &&
                records.contains("send eeprom") && records.contains("for anna"))
        << records.toStdString();
}

TEST_F(Agent, ARefusedOrBadRequestChangesNothingAndTheQueueHasItsBound) {
    StartAgent({"--commands", "read"});
    const std::pair<std::string, std::string> refused[] = {
        {"send", R"({"memory":"ram","set":{"power":1}})"},
        {"restore", "{}"},
        {"get", "{"},
        {"get", R"({"memory":"ram","extra":1})"},
        {"get", R"({"memory":"ram")" + std::string(plant::kMaxPayload, ' ') + "}"},
        {"erase", "{}"},
    };
    const std::size_t before = peer.Requests().size();
    std::vector<std::string> codes;
    for (const auto &[verb, payload] : refused) {
        const QJsonObject answer = Ask(verb, payload);
        EXPECT_EQ(answer["exit_code"].toInt(), 2) << verb;
        codes.push_back(answer["result_code"].toString().toStdString());
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"Refused", "Refused", "Malformed", "Malformed",
                                               "Malformed", "UnknownVerb"}));
    EXPECT_TRUE(CommandsSince(peer, before).empty()) << "a refused request reached the line";

    // Each read waits a while on the controller: one runs, sixteen wait, the rest are busy.
    {
        std::lock_guard<std::mutex> held(lock);
        controller.delay[kCmdReadRam] = 0.15;
    }
    const int burst = 20;
    for (int i = 0; i < burst; ++i)
        asker.Publish("rmx7/line7/cmd/get", R"({"memory":"ram"})", 1, false,
                      {"reply/test", "q" + std::to_string(i), {}});
    ASSERT_TRUE(WaitUntil([&] { return answers.size() >= std::size(refused) + burst; }, 30));
    int ok = 0, busy = 0;
    for (const mqtt::Message &m : answers) {
        const std::string code = Object(m.payload)["result_code"].toString().toStdString();
        ok += m.correlationData.starts_with("q") && code == "Ok";
        busy += code == "Busy";
    }
    EXPECT_EQ(ok + busy, burst);
    EXPECT_GE(busy, 1);
    EXPECT_GE(ok, 1 + plant::kMaxWaiting - 1);
}

// The server on the panel's line, set up as at start-up: backup keeps the first EEPROM set,
// restore writes it into a controller that holds another and reads it back, a controller
// of other firmware is never written, and off sends nothing.
TEST_F(ControllerTest, TheParameterServerKeepsRestoresAndRefusesAsItsModeSays) {
    const std::string state = testing::TempDir() + "rmx7-server-" + std::to_string(getpid());
    std::filesystem::remove_all(state);
    std::vector<std::string> events;
    std::vector<audit::Record> records;
    std::string refusal, parameters;
    const plant::ServerHooks hooks{
        [&](const std::string &json) { parameters = json; },
        [&](const std::string &json) {
            events.push_back(Object(json)["event"].toString().toStdString());
        },
        [&](audit::Record record) { records.push_back(std::move(record)); },
        [&](const std::string &text) { refusal = text; },
    };
    const auto server = [&](plant::ServerMode mode) {
        auto made = std::make_unique<plant::ParameterServer>(mode, state, "line7", "i1", hooks);
        std::string error;
        EXPECT_TRUE(made->Load(error)) << error;
        return made;
    };
    const auto startUp = [&](plant::ParameterServer &on) {
        EXPECT_TRUE(InitRS232(1).ok());
        const std::size_t before = peer.Requests().size();
        Finish([](plant::ParameterServer &s, com232::Line &l) -> job::Task<int> {
            co_await s.AtStartUp(l);
            co_return 0;
        }(on, line()));
        return CommandsSince(peer, before);
    };
    const sim::Words approved = controller.eeprom;

    auto backup = server(plant::ServerMode::Backup);
    EXPECT_EQ(startUp(*backup), std::vector<int>{kCmdReadEeprom});
    ASSERT_TRUE(backup->Approved());
    EXPECT_EQ(backup->Approved()->words, approved);
    EXPECT_EQ(events, std::vector<std::string>{"store"});

    // A swapped controller of the same firmware holds another set.
    controller.eeprom[0] = 999;
    controller.ram[0]    = 998;
    auto restore         = server(plant::ServerMode::Restore);
    EXPECT_EQ(startUp(*restore), (std::vector<int>{kCmdReadEeprom, kCmdWriteEeprom, kCmdWriteRam,
                                                   kCmdReadEeprom, kCmdReadRam}));
    EXPECT_EQ(controller.eeprom, approved);
    EXPECT_EQ(controller.ram, approved);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].target + " " + records[1].target, "eeprom ram");
    EXPECT_EQ(records[0].origin, audit::Origin::ParameterServer);
    EXPECT_EQ(records[0].replaced->at(0), 999);
    EXPECT_EQ(Object(parameters)["match"].toBool(), true);
    EXPECT_EQ(Object(parameters)["last_restore"].toObject()["result"].toString(), "restored");

    // One of another firmware is refused and said why; its set stays.
    controller.firmware  = "RMX7 other controller FW 1.0";
    controller.eeprom[0] = 777;
    EXPECT_EQ(startUp(*restore), std::vector<int>{kCmdReadEeprom});
    EXPECT_EQ(controller.eeprom[0], 777);
    EXPECT_EQ(records.size(), 2u);
    EXPECT_NE(refusal.find("RMX7 other controller FW 1.0"), std::string::npos) << refusal;
    EXPECT_EQ(events.back(), "refused");

    // A set a command wrote and read back is the one the parameters and a restore go by.
    EXPECT_EQ(Object(parameters)["match"].toBool(), false);
    restore->SeenEeprom(approved);
    EXPECT_EQ(Object(parameters)["match"].toBool(), true);

    // Off: nothing on the line, and no approved set kept.
    auto off = server(plant::ServerMode::Off);
    EXPECT_TRUE(startUp(*off).empty());
    const auto store = [](plant::ParameterServer &s, com232::Line &l) -> job::Task<int> {
        co_return static_cast<int>((co_await s.Store(l, "anna")).code);
    };
    EXPECT_EQ(Finish(store(*off, line())), static_cast<int>(plant::ResultCode::Refused));
    EXPECT_FALSE(off->Approved());
    std::filesystem::remove_all(state);
}

// A second agent of the same name, on another controller, yields at once: it says so, the
// first keeps the status and an unbroken count of replies, and the second's last will is
// dropped with its connection. Once the first ends, the second takes the name up.
TEST_F(Agent, ASecondAgentOfTheSameNameYieldsAndTakesTheNameUpOnceItIsFree) {
    Subscriber all(broker->Port(), "rmx7/line7/#");
    StartAgent({});
    FakeController otherController;
    ScriptedPeer otherPeer;
    otherPeer.SetResponder(otherController.Responder());
    QProcess second;
    second.start("./rmx7ctl",
                 {"--quiet", "publish", "--device", QString::fromStdString(otherPeer.path()),
                  "--broker", QString("mqtt://127.0.0.1:%1").arg(broker->Port()), "--name", "line7",
                  "--state", QString::fromStdString(folder + "/second")});
    QString said;
    ASSERT_TRUE(WaitUntil([&] {
        said += second.readAllStandardError();
        return said.contains("conflict");
    })) << said.toStdString();
    // The second's start-up is over and a few of the first's replies went out since.
    ASSERT_TRUE(WaitUntil([&] { return otherController.liveReplies > 3; }));
    const int seen = controller.liveReplies;
    ASSERT_TRUE(WaitUntil([&] { return controller.liveReplies > seen + 5; }));

    const auto statuses = [&](const char *state) {
        std::vector<QJsonObject> found;
        for (const std::string &message : all.Messages())
            if (message.starts_with("rmx7/line7/status ")) {
                const QJsonObject status = Object(message.substr(18));
                if (status["status"].toString() == state)
                    found.push_back(status);
            }
        return found;
    };
    long long last = 0;
    for (const std::string &message : all.Messages())
        if (message.starts_with("rmx7/line7/live ")) {
            const long long seq = Object(message.substr(16))["seq"].toInteger();
            EXPECT_EQ(seq, last + 1) << "one count of replies, the first agent's";
            last = seq;
        }
    // The conflict went out before the line on standard error, but through the broker.
    ASSERT_TRUE(WaitUntil([&] { return !statuses("conflict").empty(); }));
    ASSERT_FALSE(statuses("online").empty());
    const QString first = statuses("online").front()["instance"].toString();
    for (const QJsonObject &online : statuses("online"))
        EXPECT_EQ(online["instance"].toString(), first);
    ASSERT_EQ(statuses("conflict").size(), 1u);
    EXPECT_EQ(statuses("conflict")[0]["other"].toString(), first);

    agent.terminate();
    ASSERT_TRUE(agent.waitForFinished());
    ASSERT_TRUE(WaitUntil([&] {
        const auto online = statuses("online");
        return !online.empty() && online.back()["instance"].toString() != first;
    })) << "the second agent never took the name up";
    second.kill();
    second.waitForFinished();
    ASSERT_TRUE(WaitUntil([&] { return statuses("offline").size() >= 2; }));
    EXPECT_EQ(statuses("offline").back()["text"].toString(), "connection lost");
    EXPECT_NE(statuses("offline").back()["instance"].toString(), first);
}
