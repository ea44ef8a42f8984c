// Debian's mosquitto on the loopback for a test, on a free port, with a config file the test
// writes; and mosquitto_sub as the subscriber that sees what was published. Both run as
// child processes that end with their objects.
#pragma once

#include <QProcess>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Processes events until done() or seconds passed; done().
bool WaitUntil(const std::function<bool()> &done, double seconds = 10);
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
    // Starts, always on the same port, and waits until it listens (10 s at most).
    bool Start(const Options &options = {});
    void Stop() { process_.reset(); }
    // From the next Start on, the ACL in aclFile says who may read and write where.
    void SetAcl(const std::string &aclFile) { acl_ = aclFile; }
    int Port() const { return port_; }

  private:
    std::string folder_, acl_;
    int port_;
    std::unique_ptr<QProcess> process_;
};

// mosquitto_sub on one topic filter; extra: more of its options, e.g. {"--cafile", file}.
class Subscriber {
  public:
    // Waits until the broker acknowledged the subscription (10 s at most): ready().
    Subscriber(int port, const std::string &filter, const std::vector<std::string> &extra = {});
    bool ready() const { return ready_; }
    // The messages received so far, as "topic payload", in order.
    std::vector<std::string> Messages();
    // Processes events until count messages are in or 10 s passed.
    bool WaitFor(std::size_t count) {
        return WaitUntil([&] { return Messages().size() >= count; });
    }

  private:
    QProcess process_;
    std::string pending_;
    std::vector<std::string> messages_;
    bool ready_ = false;
};
