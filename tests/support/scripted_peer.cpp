#include "scripted_peer.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        return;
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    slavePath_ = name;
    int pipeFds[2];
    if (pipe(pipeFds) == 0) {
        wakeRead_  = pipeFds[0];
        wakeWrite_ = pipeFds[1];
    }
    thread_ = std::thread(&ScriptedPeer::Run, this);
}

ScriptedPeer::~ScriptedPeer() {
    if (wakeWrite_ >= 0) {
        const char stop = 's';
        (void)!write(wakeWrite_, &stop, 1);
    }
    if (thread_.joinable())
        thread_.join();
    for (int fd : {master_, slave_, wakeRead_, wakeWrite_})
        if (fd >= 0)
            close(fd);
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
    if (master_ >= 0)
        close(master_);
    master_ = -1;
    if (slave_ >= 0)
        close(slave_);
    slave_ = -1;
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
    for (;;) {
        int master;
        {
            std::lock_guard lock(mutex_);
            master = master_;
        }
        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {master, POLLIN, 0}};
        if (poll(fds, master >= 0 ? 2 : 1, 50) < 0)
            continue;
        if (fds[0].revents & POLLIN)
            return;
        if (master < 0 || !(fds[1].revents & POLLIN))
            continue;
        std::uint8_t chunk[512];
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0)
            continue;
        pending.insert(pending.end(), chunk, chunk + n);

        for (;;) {
            Responder responder;
            Bytes request;
            {
                std::lock_guard lock(mutex_);
                if (static_cast<int>(pending.size()) < requestLength_)
                    break;
                request.assign(pending.begin(), pending.begin() + requestLength_);
                pending.erase(pending.begin(), pending.begin() + requestLength_);
                requests_.push_back(request);
                responder = responder_;
            }
            changed_.notify_all();
            if (!responder)
                continue;
            PeerReply reply = responder(request);
            if (reply.delay > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(reply.delay));
            if (!reply.bytes.empty())
                Send(reply.bytes);
        }
    }
}

Bytes MakeFrame(int command, const std::vector<std::uint16_t> &words) {
    Bytes frame(36, 0);
    frame[1] = 0x55;
    frame[2] = static_cast<std::uint8_t>(command >> 8);
    frame[3] = static_cast<std::uint8_t>(command);
    for (std::size_t i = 0; i < words.size() && i < 16; ++i) {
        frame[4 + 2 * i] = static_cast<std::uint8_t>(words[i] >> 8);
        frame[5 + 2 * i] = static_cast<std::uint8_t>(words[i]);
    }
    return frame;
}

std::uint16_t FrameWord(const Bytes &frame, int index) {
    return static_cast<std::uint16_t>(frame[4 + 2 * index] << 8 | frame[5 + 2 * index]);
}
