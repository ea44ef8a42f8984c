// The stand-in agent: the agreed topics and answers, nothing behind them.
#include "plant_agent.h"

#include "broker.h"
#include "platform/report/fingerprint.h"

#include <QByteArray>

namespace {

constexpr const char *kWords      = "[500,512,10,1,100,1,0,0,20,50,1,0,0,0,0,0]";
constexpr const char *kOtherWords = "[640,512,10,1,100,1,0,0,20,50,1,0,0,0,0,0]";

std::string AnswerOf(const std::string &verb, const std::string &line, int exitCode,
                     const std::string &resultCode, const std::string &error,
                     const std::string &members = {}) {
    return "{\"command\":\"" + verb + "\",\"port\":1,\"device\":\"/dev/ttyUSB0\"," + members +
           "\"exit_code\":" + std::to_string(exitCode) +
           ",\"status\":" + (exitCode == 0 ? "\"Data Transfer Ok!\"" : "null") +
           ",\"error\":" + (error.empty() ? "null" : "\"" + error + "\"") + ",\"line\":\"" + line +
           "\",\"id\":null,\"result_code\":\"" + resultCode + "\"}";
}

} // namespace

bool StandInAgent::Start() {
    mqtt::Settings settings;
    settings.host     = "127.0.0.1";
    settings.port     = port_;
    settings.qos      = 1;
    settings.username = username_;
    settings.password = password_;
    std::string error;
    client_.OnMessage([this](const mqtt::Message &message) { Answer(message); });
    if (client_.Start(settings, error) != mqtt::kMqttOk ||
        !WaitUntil([&] { return client_.GetState() == mqtt::State::Connected; }))
        return false;
    client_.Subscribe(Topic("cmd/+"), 1);
    const long long before     = client_.Published();
    const std::string instance = "\"instance\":\"a9e1" + std::to_string(port_) + "\"";
    client_.Publish(Topic("info"),
                    "{\"program\":\"K-VEX-RMX7-PIRA-Scope\",\"version\":\"V2.0\",\"firmware\":"
                    "\"RMX7 FW 2.14\",\"board\":100,\"port\":\"COM1\",\"device\":\"/dev/"
                    "ttyUSB0\",\"unit\":\"ADC units\",\"time\":1796679100.5,\"name\":\"" +
                        setup_.name + "\"," + instance +
                        ",\"host\":\"cabinet-pc\",\"started\":1796679000,\"commands\":\"" +
                        setup_.commands + "\",\"parameter_server\":\"backup\"}",
                    1, true);
    client_.Publish(Topic("status"),
                    "{\"status\":\"online\",\"text\":\"\"," + instance + ",\"time\":1796679101.25}",
                    1, true);
    client_.Publish(Topic("parameters"), Parameters(), 1, true);
    return WaitUntil([&] { return client_.Published() >= before + 3; });
}

std::string StandInAgent::Parameters() const {
    return std::string("{\"mode\":\"backup\",\"approved\":{\"words\":") + kWords +
           ",\"fingerprint\":\"" + std::string(64, 'a') +
           "\",\"firmware\":\"RMX7 FW 2.14\",\"stored\":1796600000,\"by\":\"commissioning\"}," +
           "\"eeprom\":{\"words\":" + (setup_.differs ? kOtherWords : kWords) +
           ",\"fingerprint\":\"" + std::string(64, setup_.differs ? 'b' : 'a') +
           "\",\"time\":1796679101},\"match\":" + (setup_.differs ? "false" : "true") +
           ",\"differs\":" + (setup_.differs ? "[\"power\"]" : "[]") +
           ",\"last_restore\":null,\"instance\":\"a9e1\"}";
}

void StandInAgent::PublishLive(int count) {
    for (int i = 0; i < count; ++i) {
        ++seq_;
        client_.Publish(Topic("live"),
                        "{\"time\":" + std::to_string(1796679102 + seq_ * 0.0375) +
                            ",\"seq\":" + std::to_string(seq_) +
                            ",\"valNORM\":" + std::to_string(400 + seq_ % 200) +
                            ",\"adcCHA\":300,\"adcCHB\":700,\"Amax\":860,\"Amin\":140,"
                            "\"UPval\":600,\"LOval\":400,\"refval\":512,\"instate\":1}",
                        0, false);
    }
}

void StandInAgent::GoOffline() {
    setup_.answers = false;
    client_.Publish(Topic("status"),
                    "{\"status\":\"offline\",\"text\":\"connection lost\",\"instance\":\"a9e1" +
                        std::to_string(port_) + "\",\"time\":null}",
                    1, true);
}

// The agreed answers: a write refused without write, a diff with the word that differs,
// a report with its PDF and that PDF's SHA-256.
void StandInAgent::Answer(const mqtt::Message &message) {
    const std::string verb = message.topic.substr(message.topic.rfind('/') + 1);
    std::string by;
    for (const auto &[key, value] : message.userProperties)
        if (key == "operator")
            by = value;
    requests_.push_back(verb + " " + by);
    if (!setup_.answers || message.responseTopic.empty())
        return;
    const std::string &line = setup_.name;
    std::string answer;
    const bool writes = verb == "restore" || verb == "store";
    if (setup_.commands == "off" || (writes && setup_.commands != "write")) {
        answer = AnswerOf(verb, line, 2, "Refused", "the agent takes no such command");
    } else if (verb == "diff") {
        answer = setup_.differs
                     ? AnswerOf(verb, line, 5, "Differs", "1 word differs",
                                "\"differences\":[{\"word\":0,\"name\":\"power\",\"eeprom\":640,"
                                "\"approved\":500}],")
                     : AnswerOf(verb, line, 0, "Ok", "", "\"differences\":[],");
    } else if (verb == "report") {
        const std::string pdf = "%PDF-1.4\n% the report of " + line + "\n%%EOF\n";
        answer                = AnswerOf(verb, line, 0, "Ok", "",
                                         "\"pdf\":\"" + QByteArray::fromStdString(pdf).toBase64().toStdString() +
                                             "\",\"sha256\":\"" + Sha256Hex(pdf) + "\",");
    } else {
        answer = AnswerOf(verb, line, 0, "Ok", "");
        if (verb == "restore")
            setup_.differs = false;
        client_.Publish(Topic("parameters"), Parameters(), 1, true);
    }
    mqtt::Properties properties;
    properties.correlationData = message.correlationData;
    client_.Publish(message.responseTopic, answer, message.qos, false, properties);
}
