// The bench as an MQTT subscriber through libmosquitto: every message on its topic filter,
// its "seq" and the time it was taken on CLOCK_MONOTONIC, the clock of the simulator's log;
// and the connect and the loop that any libmosquitto session of a bench runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct mosquitto;

// A libmosquitto session of the bench, whatever it subscribes to: tries the broker on
// 127.0.0.1:port for up to seconds; false when it never answered.
bool ConnectSession(mosquitto *session, int port, double seconds);
// Takes the broker's packets for seconds or until done() says so, and returns done(); a
// lost connection is tried again at once.
bool PumpSession(mosquitto *session, double seconds, const std::function<bool()> &done);

struct Receipt {
    std::string topic;
    long long seq; // 0 when the payload has none
    double at;
};

class Subscriber {
  public:
    explicit Subscriber(std::string filter);
    ~Subscriber();
    Subscriber(const Subscriber &)            = delete;
    Subscriber &operator=(const Subscriber &) = delete;

    // Tries the broker on 127.0.0.1:port for up to seconds; false when it never answered.
    bool Connect(int port, double seconds);
    // One attempt to connect again on the same port, as after the broker was restarted.
    bool Reconnect();
    // Runs the subscriber's side for seconds or until done() says so, and returns done();
    // a lost connection is tried again at once.
    bool Pump(double seconds, const std::function<bool()> &done);
    void Pump(double seconds);

    const std::vector<Receipt> &Receipts() const { return receipts_; }

  private:
    static void OnConnect(mosquitto *session, void *self, int code);

    std::string filter_;
    mosquitto *session_ = nullptr;
    std::vector<Receipt> receipts_;
};
