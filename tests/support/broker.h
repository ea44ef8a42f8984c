// Debian's mosquitto on the loopback for a test, on a free port, with a config file the test
// writes; and mosquitto_sub as the subscriber that sees what was published. Both run as
// child processes that the fixture ends.
#pragma once

#include <QProcess>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A TCP port on the loopback that nothing listens on.
int FreeLoopbackPort();

class Broker {
  public:
    struct Options {
        std::string caFile, certFile, keyFile; // all three: the listener speaks TLS
        std::string passwordFile;              // not empty: logins from it, no anonymous
    };

    explicit Broker(const std::string &folder) : folder_(folder), port_(FreeLoopbackPort()) {}
    ~Broker() { Stop(); }

    // Starts on the loopback, always on the same port, and waits until it listens; false
    // when it did not within 10 s.
    bool Start(const Options &options = {});
    void Stop();
    int Port() const { return port_; }

  private:
    std::string folder_;
    int port_;
    std::unique_ptr<QProcess> process_;
};

// mosquitto_sub on one topic filter, printing "topic payload" a line.
class Subscriber {
  public:
    // Waits until the broker acknowledged the subscription; extra: more options, e.g.
    // {"--cafile", file}. ready() is false when it was not acknowledged within 10 s.
    Subscriber(int port, const std::string &filter, const std::vector<std::string> &extra = {});
    ~Subscriber() {
        process_.kill();
        process_.waitForFinished();
    }
    bool ready() const { return ready_; }
    // The messages received so far, in order.
    std::vector<std::string> Messages();
    // Processes events until count messages are in or 10 s passed.
    bool WaitFor(std::size_t count);

  private:
    QProcess process_;
    std::string pending_;
    std::vector<std::string> messages_;
    bool ready_ = false;
    void Take();
};

// Processes events until done() or seconds passed; done().
bool WaitUntil(const std::function<bool()> &done, double seconds = 10);
// Runs program with args to its end (at most 30 s); its exit code, -1 when it failed to run.
int RunTool(const std::string &program, const std::vector<std::string> &args);
