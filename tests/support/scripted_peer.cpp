#include "scripted_peer.h"

#include <algorithm>
#include <chrono>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

ScriptedPeer::ScriptedPeer() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        return;
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    slavePath_ = name;
    thread_    = std::thread(&ScriptedPeer::Run, this);
}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    Close();
}

void ScriptedPeer::SetResponder(Responder responder, int requestLength) {
    std::lock_guard lock(mutex_);
    responder_     = std::move(responder);
    requestLength_ = requestLength;
}

void ScriptedPeer::Send(const Bytes &bytes) {
    std::lock_guard lock(mutex_);
    if (master_ >= 0)
        (void)!write(master_, bytes.data(), bytes.size());
}

void ScriptedPeer::Close() {
    std::lock_guard lock(mutex_);
    for (int *fd : {&master_, &slave_})
        if (*fd >= 0)
            close(std::exchange(*fd, -1));
}

std::vector<Bytes> ScriptedPeer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ScriptedPeer::WaitForRequests(std::size_t count, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return requests_.size() >= count; });
}

void ScriptedPeer::Run() {
    Bytes pending;
    while (!stop_) {
        int master;
        {
            std::lock_guard lock(mutex_);
            master = master_;
        }
        pollfd fd = {master, POLLIN, 0};
        if (poll(&fd, 1, 20) <= 0 || !(fd.revents & POLLIN))
            continue;
        std::uint8_t chunk[512];
        const ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0)
            continue;
        pending.insert(pending.end(), chunk, chunk + n);
        for (;;) {
            std::unique_lock lock(mutex_);
            if (static_cast<int>(pending.size()) < requestLength_)
                break;
            const Bytes request(pending.begin(), pending.begin() + requestLength_);
            pending.erase(pending.begin(), pending.begin() + requestLength_);
            requests_.push_back(request);
            const Responder responder = responder_;
            lock.unlock();
            changed_.notify_all();
            const PeerReply reply = responder ? responder(request) : PeerReply{};
            if (reply.delay > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(reply.delay));
            if (!reply.bytes.empty())
                Send(reply.bytes);
        }
    }
}

Bytes MakeFrame(int command, const std::vector<std::uint16_t> &words) {
    sim::Words first{};
    std::copy_n(words.begin(), std::min(words.size(), first.size()), first.begin());
    return sim::MakeFrame(static_cast<std::uint16_t>(command), first);
}

std::uint16_t FrameWord(const Bytes &frame, int index) {
    return sim::FrameWords(frame)[static_cast<std::size_t>(index)];
}
