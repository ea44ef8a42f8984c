// The MQTT client over libmosquitto, driven from Qt's event loop through the connection's
// socket: the library's read, write and keep-alive steps run when the socket is readable,
// when it can take more, and once a second, never the library's own thread or its
// blocking loop. Each connection attempt gets a fresh library session, so nothing the
// library holds for a lost connection outlives it.
#include "mqtt.h"

#include "mqtt_text.h"

#include <QHostInfo>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <vector>

namespace mqtt {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kHousekeepingMs = 1000;
constexpr int kMinKeepAlive   = 5; // the library's own lower bound
constexpr int kMaxKeepAlive   = 65535;
constexpr int kMaxPort        = 65535;

void InitLibrary() {
    static const bool initialised = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)initialised;
}

// An encrypted key would have OpenSSL ask on the terminal; no answer makes it fail at once.
int NoKeyPassword(char *, int, int, void *) {
    return 0;
}

bool FileReadable(const std::string &what, const std::string &path, std::string &error) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = what + " " + path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

std::string CheckSettings(const Settings &s) {
    std::string error;
    if (s.host.empty())
        return "no broker host given";
    if (s.port < 0 || s.port > kMaxPort)
        return "the broker port must be from 1 to 65535";
    if (s.qos != 0 && s.qos != 1)
        return "the QoS must be 0 or 1";
    if (s.keepAliveSeconds < kMinKeepAlive || s.keepAliveSeconds > kMaxKeepAlive)
        return "the keep-alive must be from 5 to 65535 s";
    if (s.certFile.empty() != s.keyFile.empty())
        return "a client certificate needs its key, and a key its certificate";
    if (!s.tls && !(s.caFile.empty() && s.certFile.empty()))
        return "a CA file or a client certificate needs TLS (mqtts://)";
    if (!s.password.empty() && s.username.empty())
        return "a password needs a user name";
    if (!s.willTopic.empty() && mosquitto_pub_topic_check(s.willTopic.c_str()) != MOSQ_ERR_SUCCESS)
        return "the last will's topic \"" + s.willTopic + "\" is not a topic to publish to";
    if ((!s.caFile.empty() && !FileReadable("the CA file", s.caFile, error)) ||
        (!s.certFile.empty() && !FileReadable("the client certificate", s.certFile, error)) ||
        (!s.keyFile.empty() && !FileReadable("the client key", s.keyFile, error)))
        return error;
    return {};
}

// A TCP connect that fails under TLS leaves the library retrying its handshake on the dead
// socket for ever (it takes the failure for a handshake that wants more bytes): a socket
// the system reports hung up or failed has ended, whatever the library makes of it.
bool HungUp(int socket) {
    pollfd watch{socket, POLLIN, 0};
    return poll(&watch, 1, 0) == 1 && (watch.revents & (POLLHUP | POLLERR));
}

// What OpenSSL said last, without the library's prefix and OpenSSL's error codes.
std::string OpenSslReason(const std::string &logged) {
    const std::size_t colon = logged.rfind(':');
    return colon == std::string::npos ? logged : logged.substr(colon + 1);
}

} // namespace

struct Client::Impl {
    Settings settings;
    mosquitto *session = nullptr;
    std::unique_ptr<QObject> lookups; // receives the host lookups; dropping it cancels them
    QSocketNotifier reader{QSocketNotifier::Read};
    QSocketNotifier writer{QSocketNotifier::Write};
    QTimer housekeeping, retry;

    State state = State::Off;
    std::string lastError;
    std::function<void(State, const std::string &)> callback;
    std::vector<State> changes;      // made during one event, reported at its end
    Clock::time_point awaySince;     // the start, or the loss of the last connection
    int retryMs = 2 * kFirstRetryMs; // the next back-off once the steady retries are over

    std::set<int> outstanding; // message ids handed to the connection and not yet out
    long long published = 0, dropped = 0;
    bool inPublish = false, doneInPublish = false;

    // What the library's callbacks saw during one of its steps.
    bool accepted = false;
    int refusal   = 0; // the broker's refusal code, 0 none
    bool ended    = false;
    int endCode   = 0;
    int endErrno  = 0;
    std::string logged; // the library's latest error line in this attempt
    Clock::time_point attemptStart;

    Impl() {
        housekeeping.setInterval(kHousekeepingMs);
        housekeeping.setTimerType(Qt::VeryCoarseTimer);
        retry.setSingleShot(true);
        QObject::connect(&reader, &QSocketNotifier::activated, [this] { Step(true); });
        QObject::connect(&writer, &QSocketNotifier::activated, [this] { Step(false); });
        QObject::connect(&housekeeping, &QTimer::timeout, [this] { Housekeep(); });
        QObject::connect(&retry, &QTimer::timeout, [this] {
            Attempt();
            Report();
        });
    }
    ~Impl() { End(); }

    std::chrono::seconds KeepAlive() const {
        return std::chrono::seconds(settings.keepAliveSeconds);
    }
    std::string Where() const {
        const bool v6 = settings.host.find(':') != std::string::npos;
        return (v6 ? "[" + settings.host + "]" : settings.host) + ":" +
               std::to_string(settings.port);
    }

    mosquitto *NewSession(std::string &error);
    void Attempt();
    void Connect();
    void Step(bool read);
    void Housekeep();
    void AfterStep(int stepErrno);
    void Fail(const std::string &reason);
    void End();
    std::string EndReason(bool wasConnected) const;
    std::string TlsReason() const;

    void Arm(int socket) {
        Disarm();
        reader.setSocket(socket);
        writer.setSocket(socket);
        reader.setEnabled(true);
        SyncWriter();
    }
    void Disarm() {
        reader.setEnabled(false);
        writer.setEnabled(false);
    }
    // The write notifier wakes only while the library holds bytes the socket did not take.
    void SyncWriter() {
        writer.setEnabled(session && mosquitto_socket(session) >= 0 &&
                          mosquitto_want_write(session));
    }
    void Change(State to) {
        state = to;
        changes.push_back(to);
    }
    // Last in every event handler: the callback may publish, which touches nothing here.
    void Report() {
        std::vector<State> made;
        made.swap(changes);
        for (State to : made)
            if (callback)
                callback(to, to == State::Connecting ? lastError : std::string());
    }

    static void OnConnect(mosquitto *, void *self, int code) {
        auto *impl     = static_cast<Impl *>(self);
        impl->accepted = code == 0;
        impl->refusal  = code;
    }
    static void OnDisconnect(mosquitto *, void *self, int code) {
        auto *impl     = static_cast<Impl *>(self);
        impl->ended    = true;
        impl->endCode  = code;
        impl->endErrno = errno;
    }
    static void OnPublish(mosquitto *, void *self, int mid) {
        auto *impl = static_cast<Impl *>(self);
        if (impl->outstanding.erase(mid) > 0)
            ++impl->published;
        else if (impl->inPublish)
            impl->doneInPublish = true;
    }
    static void OnLog(mosquitto *, void *self, int level, const char *text) {
        if (level == MOSQ_LOG_ERR)
            static_cast<Impl *>(self)->logged = text;
    }
};

mosquitto *Client::Impl::NewSession(std::string &error) {
    const Settings &s = settings;
    mosquitto *m = mosquitto_new(s.clientId.empty() ? nullptr : s.clientId.c_str(), true, this);
    if (!m) {
        error = errno == EINVAL ? "the client id is not one MQTT takes"
                                : "no memory for an MQTT session";
        return nullptr;
    }
    mosquitto_connect_callback_set(m, OnConnect);
    mosquitto_disconnect_callback_set(m, OnDisconnect);
    mosquitto_publish_callback_set(m, OnPublish);
    mosquitto_log_callback_set(m, OnLog);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Each reply is one small message: Nagle's wait would be all latency.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s.username.empty())
        rc = mosquitto_username_pw_set(m, s.username.c_str(),
                                       s.password.empty() ? nullptr : s.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !s.willTopic.empty())
        rc = mosquitto_will_set(m, s.willTopic.c_str(), static_cast<int>(s.willPayload.size()),
                                s.willPayload.data(), s.qos, s.willRetain);
    if (rc == MOSQ_ERR_SUCCESS && s.tls) {
        if (s.caFile.empty())
            mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        rc = mosquitto_tls_set(m, s.caFile.empty() ? nullptr : s.caFile.c_str(), nullptr,
                               s.certFile.empty() ? nullptr : s.certFile.c_str(),
                               s.keyFile.empty() ? nullptr : s.keyFile.c_str(), NoKeyPassword);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("the MQTT settings are not accepted: ") + mosquitto_strerror(rc);
        mosquitto_destroy(m);
        return nullptr;
    }
    return m;
}

// Looks the name up in the background first: the library's own lookup would stop the
// program for as long as the name server takes.
void Client::Impl::Attempt() {
    logged.clear();
    lookups = std::make_unique<QObject>();
    QHostInfo::lookupHost(
        QString::fromStdString(settings.host), lookups.get(), [this](const QHostInfo &host) {
            if (host.error() != QHostInfo::NoError || host.addresses().empty())
                Fail("the broker's host name \"" + settings.host + "\" does not resolve");
            else
                Connect();
            Report();
        });
}

void Client::Impl::Connect() {
    std::string error;
    if (!session && !(session = NewSession(error))) {
        Fail(error);
        return;
    }
    accepted = ended = false;
    refusal          = 0;
    const int rc     = mosquitto_connect_async(session, settings.host.c_str(), settings.port,
                                               settings.keepAliveSeconds);
    const int cause  = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        if (rc == MOSQ_ERR_ERRNO && cause == ECONNREFUSED)
            Fail("the broker at " + Where() + " refused the connection");
        else if (rc == MOSQ_ERR_ERRNO)
            Fail("cannot connect to the broker at " + Where() + ": " + std::strerror(cause));
        else if (rc == MOSQ_ERR_EAI)
            Fail("the broker's host name \"" + settings.host + "\" does not resolve");
        else if (rc == MOSQ_ERR_TLS)
            Fail(TlsReason());
        else
            Fail("cannot connect to the broker at " + Where() + ": " + mosquitto_strerror(rc));
        return;
    }
    attemptStart = Clock::now();
    Arm(mosquitto_socket(session));
    // Under TLS a connect the system refused at once still counts as under way.
    AfterStep(cause);
}

void Client::Impl::Step(bool read) {
    if (!session)
        return;
    errno = 0;
    if (read)
        mosquitto_loop_read(session, 1);
    else
        mosquitto_loop_write(session, 1);
    AfterStep(errno);
    Report();
}

// The library gives up a connect only once the broker stays silent after the CONNECT, not
// while a TLS handshake waits, so the attempt's own clock ends it.
void Client::Impl::Housekeep() {
    if (session && mosquitto_socket(session) >= 0) {
        if (state == State::Connecting && Clock::now() - attemptStart >= KeepAlive()) {
            Fail("the broker at " + Where() + " did not answer within " +
                 std::to_string(settings.keepAliveSeconds) + " s");
        } else {
            errno = 0;
            mosquitto_loop_misc(session);
            AfterStep(errno);
        }
    }
    Report();
}

// The library closes the socket inside the step that found the connection's end, so the
// notifiers let go of it before the event loop could watch a closed descriptor.
void Client::Impl::AfterStep(int stepErrno) {
    const bool wasConnected = state == State::Connected;
    if (accepted) {
        accepted = false;
        retryMs  = 2 * kFirstRetryMs;
        lastError.clear();
        Change(State::Connected);
    }
    if (const int socket = mosquitto_socket(session); !ended && socket >= 0 && HungUp(socket)) {
        int cause        = 0;
        socklen_t length = sizeof cause;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, &cause, &length);
        ended    = true;
        endCode  = MOSQ_ERR_ERRNO;
        endErrno = cause != 0 ? cause : stepErrno != 0 ? stepErrno : ECONNRESET;
    }
    if (ended || mosquitto_socket(session) < 0) {
        Disarm();
        Fail(EndReason(wasConnected || state == State::Connected));
        return;
    }
    SyncWriter();
}

std::string Client::Impl::EndReason(bool wasConnected) const {
    const std::string broker = "the broker at " + Where();
    switch (refusal) {
    case 0:
        break;
    case 1:
        return broker + " does not take MQTT 3.1.1";
    case 2:
        return broker + " refused the client id \"" + settings.clientId + "\"";
    case 3:
        return broker + " is not available (it refused the connection)";
    case 4:
        return broker + " refused the user name or password";
    case 5:
        return broker + " did not let this client in: a wrong user name or password, or " +
               "no access for it";
    default:
        return broker + " refused the connection (code " + std::to_string(refusal) + ")";
    }
    const std::string keepAlive = std::to_string(settings.keepAliveSeconds) + " s";
    if (endCode == MOSQ_ERR_TLS || (!wasConnected && settings.tls && !logged.empty()))
        return TlsReason();
    if (endCode == MOSQ_ERR_KEEPALIVE)
        return wasConnected ? broker + " stopped answering (nothing within the keep-alive of " +
                                  keepAlive + ")"
                            : broker + " did not answer within " + keepAlive;
    if (endCode == MOSQ_ERR_ERRNO && endErrno == ECONNREFUSED)
        return broker + " refused the connection";
    const std::string why = endCode == MOSQ_ERR_ERRNO ? std::strerror(endErrno)
                            : endCode != 0            ? mosquitto_strerror(endCode)
                                                      : "it was closed";
    return wasConnected ? "the connection to " + broker + " was lost (" + why + ")"
                        : "cannot connect to " + broker + ": " + why;
}

std::string Client::Impl::TlsReason() const {
    const std::string broker = "the broker at " + Where();
    if (logged.find("certificate verify failed") != std::string::npos)
        return broker + " showed a certificate that " +
               (settings.caFile.empty() ? "no CA of the system"
                                        : "the CA file " + settings.caFile) +
               " vouches for, or one that does not name \"" + settings.host +
               "\" (certificate verify failed)";
    return "TLS with " + broker + " failed" +
           (logged.empty() ? std::string() : " (" + OpenSslReason(logged) + ")");
}

// Ends the attempt or the connection and schedules the next with back-off. A new reason
// while connecting is reported as well, so the caller can say why it is still connecting.
void Client::Impl::Fail(const std::string &reason) {
    Disarm();
    if (session) {
        mosquitto_destroy(session);
        session = nullptr;
    }
    dropped += static_cast<long long>(outstanding.size());
    outstanding.clear();
    if (state == State::Connected)
        awaySince = Clock::now();
    if (state != State::Connecting || reason != lastError) {
        lastError = reason;
        Change(State::Connecting);
    }
    if (Clock::now() - awaySince < std::chrono::milliseconds(kSteadyRetryMs)) {
        retry.start(kFirstRetryMs);
    } else {
        retry.start(retryMs);
        retryMs = std::min(2 * retryMs, kLastRetryMs);
    }
}

void Client::Impl::End() {
    Disarm();
    housekeeping.stop();
    retry.stop();
    lookups.reset();
    if (session) {
        mosquitto_destroy(session);
        session = nullptr;
    }
    outstanding.clear();
    changes.clear();
    state = State::Off;
}

Client::Client() : impl_(std::make_unique<Impl>()) {}

Client::~Client() = default;

int Client::Start(const Settings &settings, std::string &error) {
    StopSilently();
    InitLibrary();
    Impl &d    = *impl_;
    d.settings = settings;
    if (d.settings.port == 0)
        d.settings.port = settings.tls ? kDefaultTlsPort : kDefaultPort;
    if (const std::string wrong = CheckSettings(d.settings); !wrong.empty()) {
        error = wrong;
        return kMqttErrSettings;
    }
    if (!(d.session = d.NewSession(error)))
        return kMqttErrSettings;
    std::signal(SIGPIPE, SIG_IGN);
    d.published = d.dropped = 0;
    d.lastError.clear();
    d.retryMs   = 2 * kFirstRetryMs;
    d.awaySince = Clock::now();
    d.state     = State::Connecting;
    d.housekeeping.start();
    d.Attempt();
    return kMqttOk;
}

int Client::Stop(std::string_view topic, std::string_view payload, bool retain, int timeoutMs) {
    Impl &d    = *impl_;
    int result = kMqttErrNotConnected;
    if (d.state == State::Connected &&
        (result = Publish(topic, payload, d.settings.qos, retain)) == kMqttOk) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        // The library closes the socket once its DISCONNECT is written, after every message
        // before it.
        mosquitto_disconnect(d.session);
        for (int socket; (socket = mosquitto_socket(d.session)) >= 0;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                result = kMqttErrNotConnected;
                break;
            }
            pollfd watch{
                socket,
                static_cast<short>(POLLIN | (mosquitto_want_write(d.session) ? POLLOUT : 0)), 0};
            if (poll(&watch, 1, static_cast<int>(left)) < 0 && errno != EINTR)
                break;
            if (watch.revents & POLLOUT)
                mosquitto_loop_write(d.session, 1);
            if (mosquitto_socket(d.session) >= 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)))
                mosquitto_loop_read(d.session, 1);
        }
    }
    d.End();
    return result;
}

void Client::StopSilently() {
    impl_->End();
}

State Client::GetState() const {
    return impl_->state;
}

const std::string &Client::LastError() const {
    return impl_->lastError;
}

void Client::OnStateChange(std::function<void(State, const std::string &)> callback) {
    impl_->callback = std::move(callback);
}

int Client::Publish(std::string_view topic, std::string_view payload, int qos, bool retain) {
    Impl &d    = *impl_;
    int result = kMqttOk;
    if (d.state != State::Connected || !d.session)
        result = kMqttErrNotConnected;
    else if (static_cast<int>(d.outstanding.size()) >= kMaxOutstanding)
        result = kMqttErrBacklog;
    else if ((qos != 0 && qos != 1) || payload.size() > static_cast<std::size_t>(INT_MAX))
        result = kMqttErrRefused;
    if (result != kMqttOk) {
        ++d.dropped;
        return result;
    }
    const std::string name(topic);
    int mid         = 0;
    d.inPublish     = true;
    d.doneInPublish = false;
    const int rc    = mosquitto_publish(d.session, &mid, name.c_str(),
                                        static_cast<int>(payload.size()), payload.data(), qos, retain);
    d.inPublish     = false;
    if (rc != MOSQ_ERR_SUCCESS) {
        ++d.dropped;
        const bool connection = rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ||
                                rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_NOMEM;
        return connection ? kMqttErrNotConnected : kMqttErrRefused;
    }
    if (d.doneInPublish)
        ++d.published;
    else
        d.outstanding.insert(mid);
    d.SyncWriter();
    return kMqttOk;
}

long long Client::Published() const {
    return impl_->published;
}

long long Client::Dropped() const {
    return impl_->dropped;
}

} // namespace mqtt
