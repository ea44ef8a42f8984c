// A publisher for the last-will test, in a process of its own so the test can kill it:
// mqtt_will_peer PORT TOPIC WILL connects to the loopback broker with WILL as its retained
// last will on TOPIC, publishes "online" there (again on every connect), says "connected"
// on standard output and runs until it is killed.
#include "platform/mqtt/mqtt.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    if (argc != 4)
        return 2;
    mqtt::Settings settings;
    settings.host        = "127.0.0.1";
    settings.port        = std::stoi(argv[1]);
    settings.willTopic   = argv[2];
    settings.willPayload = argv[3];
    mqtt::Client client;
    client.OnStateChange([&](mqtt::State state, const std::string &) {
        if (state != mqtt::State::Connected)
            return;
        client.Publish(argv[2], "online", 1, true);
        std::puts("connected");
        std::fflush(stdout);
    });
    std::string error;
    if (client.Start(settings, error) != mqtt::kMqttOk) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return application.exec();
}
