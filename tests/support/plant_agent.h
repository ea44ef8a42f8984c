// A stand-in for a line's agent on the broker, for the plant's tests: it publishes what an
// agent publishes (info, status and parameters retained; live values when told) and answers
// the commands it is sent (MQTT 5 response topic and correlation data) with the members the
// agents' answers carry. It runs on the test's event loop; the real agents take its place.
#pragma once

#include "platform/mqtt/mqtt.h"

#include <string>
#include <vector>

class StandInAgent {
  public:
    struct Setup {
        std::string name;
        std::string commands = "write"; // off, read or write
        bool differs         = false;   // its EEPROM set differs from its approved set
        bool answers         = true;    // false: takes commands and says nothing
    };

    // username and password: its login, where the broker wants one.
    StandInAgent(int port, Setup setup, std::string username = {}, std::string password = {})
        : port_(port), setup_(std::move(setup)), username_(std::move(username)),
          password_(std::move(password)) {}
    // Connects, publishes its retained topics and subscribes to its commands; true once the
    // broker has them all (10 s at most).
    bool Start();
    void PublishLive(int count);
    // What a killed agent leaves: the broker's last will, offline with no time.
    void GoOffline();
    // The commands that reached it, as "VERB operator", in order.
    const std::vector<std::string> &Requests() const { return requests_; }

  private:
    void Answer(const mqtt::Message &message);
    std::string Parameters() const;
    std::string Topic(const char *leaf) const { return "rmx7/" + setup_.name + "/" + leaf; }

    int port_;
    Setup setup_;
    std::string username_, password_;
    mqtt::Client client_;
    std::vector<std::string> requests_;
    long long seq_ = 0;
};
