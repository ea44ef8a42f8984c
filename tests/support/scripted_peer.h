// A scripted controller peer on a pseudo-terminal: the program opens path() as its serial
// port; a thread of the peer's own answers each request with exactly the bytes a test needs.
// Frames are the simulator's.
#pragma once

#include "model.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

using Bytes = sim::Bytes;

struct PeerReply {
    Bytes bytes;        // written in one go; empty: no reply
    double delay = 0.0; // seconds between the request and the reply
};

class ScriptedPeer {
  public:
    using Responder = std::function<PeerReply(const Bytes &request)>;

    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &)            = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    const std::string &path() const { return slavePath_; }
    // Answers each complete request of requestLength bytes with responder's reply.
    void SetResponder(Responder responder, int requestLength = 36);
    void Send(const Bytes &bytes); // to the program now, outside any request
    void Close();                  // the device vanishes
    std::vector<Bytes> Requests() const;
    // False when fewer than count requests came within timeoutSeconds.
    bool WaitForRequests(std::size_t count, double timeoutSeconds) const;

  private:
    void Run();

    int master_ = -1, slave_ = -1; // the slave is held so the master never sees a hang-up
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Responder responder_;
    int requestLength_ = 36;
    std::vector<Bytes> requests_;
};

// A frame of the controller's layout with the first words given, the rest zero.
Bytes MakeFrame(int command, const std::vector<std::uint16_t> &words);
std::uint16_t FrameWord(const Bytes &frame, int index);
