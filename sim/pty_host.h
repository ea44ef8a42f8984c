// Serves the simulated controller on a pseudo-terminal from a thread of its own: the program
// opens SlavePath() as its serial port. The host paces the replies like a 19200-baud line,
// injects the faults asked for and can log every exchange with its line-side times.
//
// Threads: Start, Stop and Disconnect belong to the thread that owns the host; Log may be
// called from any thread. The model runs only on the host's own thread.
#pragma once

#include "model.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct HostOptions {
    int variant                = kVariant100;
    bool pacing                = true; // off: replies are written at once
    double latencyMs           = 0;    // extra delay before every reply
    double jitterMs            = 0;    // the latency varies uniformly by up to this much either way
    double dropProbability     = 0;    // no reply
    double truncateProbability = 0;    // the reply cut at a random length
    double garbageProbability  = 0;    // random bytes before or after the reply
    bool silent                = false;
    bool ackWrites             = false;
    std::string eepromPath;
    std::uint64_t seed = 1;
    bool logExchanges  = false;
};

// One request and its reply. Seconds on CLOCK_MONOTONIC; the reply times are 0 when there
// was no reply.
struct Exchange {
    double requestFirst = 0; // the request's first byte read from the master
    double requestLast  = 0; // its last byte read
    double replyFirst   = 0; // the reply's first byte written
    double replyLast    = 0; // its last byte written
    int code            = 0;
    int replyLength     = 0;
};

class PtyHost {
  public:
    PtyHost() = default;
    ~PtyHost();
    PtyHost(const PtyHost &)            = delete;
    PtyHost &operator=(const PtyHost &) = delete;

    // Opens the pseudo-terminal and starts serving; false when it cannot or already serves.
    bool Start(const HostOptions &options);
    const std::string &SlavePath() const { return slavePath_; }
    // Ends serving at once, a reply in flight included, and closes the line.
    void Stop();
    // The cable pulled: the master closes and the program's port sees the hang-up. Serving
    // ends as with Stop.
    void Disconnect();
    std::vector<Exchange> Log() const;

  private:
    void Serve(const HostOptions &options);
    void Record(const Exchange &exchange);
    void CloseAll();

    int master_    = -1;
    int slave_     = -1; // held open so the master never sees a hang-up while the port reopens
    int wakeRead_  = -1;
    int wakeWrite_ = -1;
    int timer_     = -1;
    std::string slavePath_;
    std::thread thread_;

    mutable std::mutex logMutex_;
    bool logging_ = false;
    std::vector<Exchange> log_;
};

} // namespace sim
