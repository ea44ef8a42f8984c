// The MQTT client over libmosquitto, driven from Qt's event loop through the connection's
// socket: the library's read, write and keep-alive steps run when the socket is readable,
// when it can take more, and once a second, never the library's own thread or its
// blocking loop. Each connection attempt gets a fresh library session, so nothing the
// library holds for a lost connection outlives it; the subscriptions are the client's and
// are made again on every connection.
#include "mqtt.h"

#include "mqtt_text.h"
#include "mqtt_tls.h"

#include <QHostInfo>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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
// Packets read in one wake-up at most: a broker that sends without pause still lets the
// event loop serve the line between bursts.
constexpr int kMaxPacketsPerWake          = 1000;
constexpr std::size_t kMaxCorrelationData = 65535; // a binary property's length is 16 bits

void InitLibrary() {
    static const bool initialised = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)initialised;
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
    if (s.clientId.size() > kMaxClientIdBytes ||
        mosquitto_validate_utf8(s.clientId.data(), static_cast<int>(s.clientId.size())) !=
            MOSQ_ERR_SUCCESS)
        return "the client id must be UTF-8 text of at most " + std::to_string(kMaxClientIdBytes) +
               " bytes, without control characters";
    if (s.protocol != 4 && s.protocol != 5)
        return "the MQTT protocol must be 5 or 4 (3.1.1)";
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

bool Readable(int socket) {
    pollfd watch{socket, POLLIN, 0};
    return poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN);
}

// The library takes C strings: a byte 0 inside would cut a topic short.
bool HasNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

bool FilterTaken(std::string_view filter) {
    return !filter.empty() && !HasNul(filter) &&
           mosquitto_sub_topic_check2(filter.data(), filter.size()) == MOSQ_ERR_SUCCESS &&
           mosquitto_validate_utf8(filter.data(), static_cast<int>(filter.size())) ==
               MOSQ_ERR_SUCCESS;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

int AddUserProperties(const Pairs &pairs, mosquitto_property **list) {
    int rc = MOSQ_ERR_SUCCESS;
    for (const auto &[name, value] : pairs)
        if (rc == MOSQ_ERR_SUCCESS)
            rc = HasNul(name) || HasNul(value)
                     ? MOSQ_ERR_INVAL
                     : mosquitto_property_add_string_pair(list, MQTT_PROP_USER_PROPERTY,
                                                          name.c_str(), value.c_str());
    return rc;
}

// The PUBLISH properties of p, into list (null when there are none). A response topic must
// be one to publish to, or the broker would end the connection over it.
int BuildProperties(const Properties &p, mosquitto_property **list) {
    if (!p.responseTopic.empty() &&
        (HasNul(p.responseTopic) ||
         mosquitto_pub_topic_check2(p.responseTopic.data(), p.responseTopic.size()) !=
             MOSQ_ERR_SUCCESS))
        return MOSQ_ERR_INVAL;
    if (p.correlationData.size() > kMaxCorrelationData)
        return MOSQ_ERR_INVAL;
    int rc = MOSQ_ERR_SUCCESS;
    if (!p.responseTopic.empty())
        rc = mosquitto_property_add_string(list, MQTT_PROP_RESPONSE_TOPIC, p.responseTopic.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !p.correlationData.empty())
        rc = mosquitto_property_add_binary(list, MQTT_PROP_CORRELATION_DATA,
                                           p.correlationData.data(),
                                           static_cast<uint16_t>(p.correlationData.size()));
    return rc == MOSQ_ERR_SUCCESS ? AddUserProperties(p.userProperties, list) : rc;
}

// The library hands out copies made with malloc.
std::string TakeCopy(char *text) {
    std::string copy = text ? text : "";
    std::free(text);
    return copy;
}

void ReadProperties(const mosquitto_property *props, Message &message) {
    char *text = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &text, false))
        message.responseTopic = TakeCopy(text);
    void *data      = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
        message.correlationData.assign(static_cast<const char *>(data), length);
        std::free(data);
    }
    char *name = nullptr, *value = nullptr;
    bool skip = false; // from the second on, the search goes on after the pair found
    while ((props = mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name,
                                                        &value, skip))) {
        std::string key = TakeCopy(name);
        message.userProperties.emplace_back(std::move(key), TakeCopy(value));
        skip = true;
    }
}

// A message's payload and properties: what the bound on messages in counts.
std::size_t BytesOf(const Message &m) {
    std::size_t bytes = m.payload.size() + m.responseTopic.size() + m.correlationData.size();
    for (const auto &[name, value] : m.userProperties)
        bytes += name.size() + value.size();
    return bytes;
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
    QTimer housekeeping, retry, readPause;
    bool armed = false; // the notifiers watch the connection's socket

    State state = State::Off;
    std::string lastError;
    std::function<void(State, const std::string &)> callback;
    std::vector<State> changes;                // made during one event, reported at its end
    Clock::time_point awaySince;               // the start, or the loss of the last connection
    int retryMs           = 2 * kFirstRetryMs; // the next back-off once the steady retries are over
    bool takenOver        = false;             // the last connection was ended for another client's
    bool closedBefore     = false; // the broker closed the last connection without a word
    int attemptsSinceLoss = 0;     // connection attempts since the last connection ended
    Clock::time_point connectedAt;

    std::set<int> outstanding; // message ids handed to the connection and not yet out
    std::vector<std::pair<std::string, int>> subscriptions; // filter and QoS, in their order
    std::function<void(const Message &)> onMessage;
    std::vector<Message> arrived;           // read during one event, handed on at its end
    std::map<int, std::string> subscribing; // filters by the message id of their SUBSCRIBE
    std::vector<std::string> acknowledged;  // subscriptions acknowledged during one event
    std::function<void(const std::string &)> onSubscribed;
    bool handingOn      = false; // a message callback runs
    long long published = 0, dropped = 0, droppedIn = 0;
    bool inPublish = false, doneInPublish = false;
    int unsubscribing = 0; // unsubscriptions of Stop not yet acknowledged

    // What the library's callbacks saw during one of its steps.
    bool accepted = false;
    int refusal   = 0; // the broker's refusal code, 0 none
    bool ended    = false;
    int endCode   = 0;
    int endErrno  = 0;
    std::string logged;                    // the library's latest error line in this attempt
    TlsContext tls;                        // with settings.tls, for every connection of this start
    CertificateRefusal certificateRefusal; // what the handshake of this attempt refused
    Clock::time_point attemptStart;

    Impl() {
        housekeeping.setInterval(kHousekeepingMs);
        housekeeping.setTimerType(Qt::VeryCoarseTimer);
        retry.setSingleShot(true);
        readPause.setSingleShot(true);
        readPause.setTimerType(Qt::PreciseTimer);
        QObject::connect(&reader, &QSocketNotifier::activated, [this] {
            if (settings.readPauseMs <= 0)
                return Step(true);
            reader.setEnabled(false);
            readPause.start(settings.readPauseMs);
        });
        QObject::connect(&readPause, &QTimer::timeout, [this] {
            Step(true);
            reader.setEnabled(armed);
        });
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
    bool PumpUntil(Clock::time_point deadline, const std::function<bool()> &done);
    void AfterStep(int stepErrno);
    void Fail(const std::string &reason, bool takeover = false);
    void End();
    std::string EndReason(bool wasConnected) const;
    std::string RefusalReason() const;
    bool ThrownOut();
    std::string ThrownOutReason() const;
    std::string TlsReason() const;

    void Arm(int socket) {
        Disarm();
        reader.setSocket(socket);
        writer.setSocket(socket);
        reader.setEnabled(true);
        armed = true;
        SyncWriter();
    }
    void Disarm() {
        armed = false;
        readPause.stop();
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
    // A callback that processes events (a wait for the line) lets more messages arrive:
    // they join the end of the list that the outer call is handing on, so all go in order,
    // and each is moved out before its callback, where the list may grow.
    void HandOn() {
        if (handingOn)
            return;
        handingOn = true;
        for (std::size_t i = 0; i < arrived.size(); ++i) {
            const Message message = std::move(arrived[i]);
            if (onMessage)
                onMessage(message);
        }
        arrived.clear(); // keeps the capacity for the next burst
        handingOn = false;
    }
    bool V5() const { return settings.protocol == 5; }
    int SendSubscribe(const std::string &filter, int qos) {
        int mid      = 0;
        const int rc = V5() ? mosquitto_subscribe_v5(session, &mid, filter.c_str(), qos, 0, nullptr)
                            : mosquitto_subscribe(session, &mid, filter.c_str(), qos);
        if (rc == MOSQ_ERR_SUCCESS)
            subscribing[mid] = filter;
        return rc;
    }
    int SendUnsubscribe(const std::string &filter) {
        return V5() ? mosquitto_unsubscribe_v5(session, nullptr, filter.c_str(), nullptr)
                    : mosquitto_unsubscribe(session, nullptr, filter.c_str());
    }
    // Last in every event handler: the callbacks may publish and subscribe, which touches
    // nothing here. Messages first: they came before any end of the connection seen with them.
    void Report() {
        HandOn();
        // After every message read before them, which a callback that processes events is
        // still handing on.
        std::vector<std::string> subscribed;
        if (!handingOn)
            subscribed.swap(acknowledged);
        for (const std::string &filter : subscribed)
            if (onSubscribed)
                onSubscribed(filter);
        std::vector<State> made;
        made.swap(changes);
        for (State to : made)
            if (callback)
                callback(to, to == State::Connecting ? lastError : std::string());
    }

    static void OnConnect(mosquitto *, void *self, int code, int, const mosquitto_property *) {
        auto *impl     = static_cast<Impl *>(self);
        impl->accepted = code == 0;
        impl->refusal  = code;
    }
    static void OnDisconnect(mosquitto *, void *self, int code, const mosquitto_property *) {
        auto *impl     = static_cast<Impl *>(self);
        impl->ended    = true;
        impl->endCode  = code;
        impl->endErrno = errno;
    }
    // A QoS 1 message the broker refused in its acknowledgement (MQTT 5) is not out.
    static void OnPublish(mosquitto *, void *self, int mid, int reason,
                          const mosquitto_property *) {
        auto *impl      = static_cast<Impl *>(self);
        const bool kept = reason < MQTT_RC_UNSPECIFIED;
        if (impl->outstanding.erase(mid) > 0)
            ++(kept ? impl->published : impl->dropped);
        else if (impl->inPublish)
            impl->doneInPublish = true;
    }
    static void OnSubscribe(mosquitto *, void *self, int mid, int, const int *,
                            const mosquitto_property *) {
        auto *impl = static_cast<Impl *>(self);
        if (auto known = impl->subscribing.find(mid); known != impl->subscribing.end()) {
            impl->acknowledged.push_back(std::move(known->second));
            impl->subscribing.erase(known);
        }
    }
    static void OnUnsubscribe(mosquitto *, void *self, int, const mosquitto_property *) {
        --static_cast<Impl *>(self)->unsubscribing;
    }
    static void OnArrival(mosquitto *, void *self, const mosquitto_message *in,
                          const mosquitto_property *props) {
        auto *impl = static_cast<Impl *>(self);
        if (static_cast<std::size_t>(in->payloadlen) > kMaxMessageInBytes) {
            ++impl->droppedIn;
            return;
        }
        Message &message = impl->arrived.emplace_back();
        message.topic    = in->topic;
        message.payload.assign(static_cast<const char *>(in->payload),
                               static_cast<std::size_t>(in->payloadlen));
        message.qos      = in->qos;
        message.retained = in->retain;
        if (props)
            ReadProperties(props, message);
        if (BytesOf(message) > kMaxMessageInBytes) {
            impl->arrived.pop_back();
            ++impl->droppedIn;
        }
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
    mosquitto_connect_v5_callback_set(m, OnConnect);
    mosquitto_disconnect_v5_callback_set(m, OnDisconnect);
    mosquitto_publish_v5_callback_set(m, OnPublish);
    mosquitto_message_v5_callback_set(m, OnArrival);
    mosquitto_subscribe_v5_callback_set(m, OnSubscribe);
    mosquitto_unsubscribe_v5_callback_set(m, OnUnsubscribe);
    mosquitto_log_callback_set(m, OnLog);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION,
                         V5() ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // Each reply is one small message: Nagle's wait would be all latency.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s.username.empty())
        rc = mosquitto_username_pw_set(m, s.username.c_str(),
                                       s.password.empty() ? nullptr : s.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !s.willTopic.empty()) {
        mosquitto_property *props = nullptr;
        if (V5())
            rc = AddUserProperties(s.willUserProperties, &props);
        // The library owns the properties once the will is set, the caller before.
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_will_set_v5(m, s.willTopic.c_str(),
                                       static_cast<int>(s.willPayload.size()), s.willPayload.data(),
                                       s.qos, s.willRetain, props);
        if (rc != MOSQ_ERR_SUCCESS)
            mosquitto_property_free_all(&props);
    }
    // The context is complete: the library adds nothing to it.
    if (rc == MOSQ_ERR_SUCCESS && tls) {
        mosquitto_int_option(m, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        rc = mosquitto_void_option(m, MOSQ_OPT_SSL_CTX, tls.get());
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
    certificateRefusal = {};
    lookups            = std::make_unique<QObject>();
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
    ++attemptsSinceLoss;
    Arm(mosquitto_socket(session));
    // Under TLS a connect the system refused at once still counts as under way.
    AfterStep(cause);
}

// A read takes every packet the socket holds (the library reads one a call), up to a bound.
void Client::Impl::Step(bool read) {
    if (!session)
        return;
    int stepErrno = 0;
    if (read) {
        for (int packets = 0; packets < kMaxPacketsPerWake; ++packets) {
            errno            = 0;
            const int rc     = mosquitto_loop_read(session, 1);
            stepErrno        = errno;
            const int socket = mosquitto_socket(session);
            if (rc != MOSQ_ERR_SUCCESS || ended || socket < 0 || !Readable(socket))
                break;
        }
    } else {
        errno = 0;
        mosquitto_loop_write(session, 1);
        stepErrno = errno;
    }
    AfterStep(stepErrno);
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
        accepted    = false;
        connectedAt = Clock::now();
        lastError.clear();
        for (const auto &[filter, qos] : subscriptions)
            SendSubscribe(filter, qos);
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
        const bool connected = wasConnected || state == State::Connected;
        const bool thrownOut = connected && ThrownOut();
        Fail(thrownOut ? ThrownOutReason() : EndReason(connected), thrownOut);
        return;
    }
    SyncWriter();
}

// Whether the connection that ended was thrown out for another client of the same id. An
// MQTT 5 broker may say so; others (mosquitto 2.0 among them) just close it, as they do
// when they shut down. So a connection closed without a word soon after it was taken, at
// the first attempt after one that ended so too, is taken for one thrown out: a broker that
// went down would have refused the attempts in between.
bool Client::Impl::ThrownOut() {
    if (endCode == MQTT_RC_SESSION_TAKEN_OVER)
        return true;
    const bool closed = endCode == MOSQ_ERR_CONN_LOST;
    const bool again  = closed && closedBefore && attemptsSinceLoss == 1 &&
                       !settings.clientId.empty() &&
                       Clock::now() - connectedAt < std::chrono::milliseconds(2 * kLastRetryMs);
    closedBefore = closed;
    return again;
}

std::string Client::Impl::ThrownOutReason() const {
    const std::string id = " (\"" + settings.clientId + "\")";
    if (endCode == MQTT_RC_SESSION_TAKEN_OVER)
        return "the broker at " + Where() + " ended the connection: another client uses this " +
               "client id" + (settings.clientId.empty() ? std::string() : id);
    return "the broker at " + Where() + " closes each connection soon after taking it: " +
           "most likely another client uses this client id" + id;
}

// The broker's refusal of a connection: MQTT 3.1.1's return codes and MQTT 5's reason codes.
std::string Client::Impl::RefusalReason() const {
    const std::string broker = "the broker at " + Where();
    switch (refusal) {
    case 1:
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return broker + " does not take MQTT " + (V5() ? "5" : "3.1.1");
    case 2:
    case MQTT_RC_CLIENTID_NOT_VALID:
        return broker + " refused the client id \"" + settings.clientId + "\"";
    case 3:
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY:
        return broker + " is not available (it refused the connection)";
    case 4:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return broker + " refused the user name or password";
    case 5:
    case MQTT_RC_NOT_AUTHORIZED:
        return broker + " did not let this client in: a wrong user name or password, or " +
               "no access for it";
    default:
        return broker + " refused the connection (" +
               (refusal >= MQTT_RC_UNSPECIFIED
                    ? std::string(mosquitto_reason_string(refusal)) + ", "
                    : std::string()) +
               "code " + std::to_string(refusal) + ")";
    }
}

std::string Client::Impl::EndReason(bool wasConnected) const {
    const std::string broker = "the broker at " + Where();
    if (refusal != 0)
        return RefusalReason();
    const std::string keepAlive = std::to_string(settings.keepAliveSeconds) + " s";
    if (endCode == MOSQ_ERR_TLS || (!wasConnected && settings.tls && !logged.empty()))
        return TlsReason();
    if (endCode == MOSQ_ERR_KEEPALIVE)
        return wasConnected ? broker + " stopped answering (nothing within the keep-alive of " +
                                  keepAlive + ")"
                            : broker + " did not answer within " + keepAlive;
    if (endCode == MOSQ_ERR_ERRNO && endErrno == ECONNREFUSED)
        return broker + " refused the connection";
    // The library's own codes are small; MQTT 5's reasons for a DISCONNECT are 128 and up.
    if (endCode >= MQTT_RC_UNSPECIFIED)
        return "the connection to " + broker + " was ended by the broker (" +
               mosquitto_reason_string(endCode) + ")";
    const std::string why = endCode == MOSQ_ERR_ERRNO       ? std::strerror(endErrno)
                            : endCode == MOSQ_ERR_CONN_LOST ? "the broker closed it"
                            : endCode != 0                  ? mosquitto_strerror(endCode)
                                                            : "it was closed";
    return wasConnected ? "the connection to " + broker + " was lost (" + why + ")"
                        : "cannot connect to " + broker + ": " + why;
}

std::string Client::Impl::TlsReason() const {
    const std::string broker = "the broker at " + Where();
    if (const std::string refused = RefusedCertificate(certificateRefusal, settings, broker);
        !refused.empty())
        return refused;
    return "TLS with " + broker + " failed" +
           (logged.empty() ? std::string() : " (" + OpenSslReason(logged) + ")");
}

// Ends the attempt or the connection and schedules the next with back-off. A new reason
// while connecting is reported as well, so the caller can say why it is still connecting.
// Two clients of one id throw each other out in turn: each such loss after the first goes
// on with the back-off of the first, as an outage does, instead of starting it afresh.
void Client::Impl::Fail(const std::string &reason, bool takeover) {
    Disarm();
    if (session) {
        mosquitto_destroy(session);
        session = nullptr;
    }
    dropped += static_cast<long long>(outstanding.size());
    outstanding.clear();
    if (state == State::Connected) {
        if (!(takeover && takenOver)) {
            awaySince = Clock::now();
            retryMs   = 2 * kFirstRetryMs;
        }
        takenOver         = takeover;
        attemptsSinceLoss = 0;
    }
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
    tls.reset();
    outstanding.clear();
    arrived.clear();
    subscribing.clear();
    acknowledged.clear();
    changes.clear();
    state = State::Off;
}

Client::Client() : impl_(std::make_unique<Impl>()) {}

Client::~Client() = default;

int Client::Start(const Settings &settings, std::string &error) {
    impl_->End();
    InitLibrary();
    Impl &d    = *impl_;
    d.settings = settings;
    if (d.settings.port == 0)
        d.settings.port = settings.tls ? kDefaultTlsPort : kDefaultPort;
    if (const std::string wrong = CheckSettings(d.settings); !wrong.empty()) {
        error = wrong;
        return kMqttErrSettings;
    }
    if (d.settings.tls && !(d.tls = MakeTlsContext(d.settings, &d.certificateRefusal, error)))
        return kMqttErrSettings;
    if (!(d.session = d.NewSession(error)))
        return kMqttErrSettings;
    std::signal(SIGPIPE, SIG_IGN);
    d.published = d.dropped = d.droppedIn = 0;
    d.lastError.clear();
    d.retryMs   = 2 * kFirstRetryMs;
    d.awaySince = Clock::now();
    d.takenOver = d.closedBefore = false;
    d.attemptsSinceLoss          = 0;
    d.state                      = State::Connecting;
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
        // Unsubscribing is the barrier: the broker answers a connection's packets in order, so
        // with every acknowledgement in it has taken the final message and sends no more. A
        // socket closed with bytes unread is reset, and the broker may then drop what it had
        // not read yet, the final message among them.
        d.unsubscribing = 0;
        for (const auto &subscription : d.subscriptions)
            if (d.SendUnsubscribe(subscription.first) == MOSQ_ERR_SUCCESS)
                ++d.unsubscribing;
        const bool drained = d.PumpUntil(deadline, [&d] { return d.unsubscribing <= 0; });
        // The library closes the socket once its DISCONNECT is written, after every message
        // before it.
        if (drained)
            mosquitto_disconnect(d.session);
        if (!drained || !d.PumpUntil(deadline, [&d] { return mosquitto_socket(d.session) < 0; }))
            result = kMqttErrNotConnected;
    }
    d.End();
    d.subscriptions.clear();
    return result;
}

// Stop's own loop, outside the event loop: it ends with the client. False when the deadline
// came first, or the connection ended before done().
bool Client::Impl::PumpUntil(Clock::time_point deadline, const std::function<bool()> &done) {
    while (!done()) {
        const int socket = mosquitto_socket(session);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (socket < 0 || left <= 0)
            return false;
        pollfd watch{socket,
                     static_cast<short>(POLLIN | (mosquitto_want_write(session) ? POLLOUT : 0)), 0};
        if (poll(&watch, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return false;
        if (watch.revents & POLLOUT)
            mosquitto_loop_write(session, 1);
        if (mosquitto_socket(session) >= 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)))
            mosquitto_loop_read(session, 1);
    }
    return true;
}

void Client::StopSilently() {
    impl_->End();
    impl_->subscriptions.clear();
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

int Client::Publish(std::string_view topic, std::string_view payload, int qos, bool retain,
                    const Properties &properties) {
    Impl &d    = *impl_;
    int result = kMqttOk;
    if (d.state != State::Connected || !d.session)
        result = kMqttErrNotConnected;
    else if (static_cast<int>(d.outstanding.size()) >= kMaxOutstanding)
        result = kMqttErrBacklog;
    else if ((qos != 0 && qos != 1) || payload.size() > static_cast<std::size_t>(INT_MAX) ||
             HasNul(topic))
        result = kMqttErrRefused;
    mosquitto_property *props = nullptr;
    if (result == kMqttOk && d.V5() && BuildProperties(properties, &props) != MOSQ_ERR_SUCCESS)
        result = kMqttErrRefused;
    if (result != kMqttOk) {
        mosquitto_property_free_all(&props);
        ++d.dropped;
        return result;
    }
    const std::string name(topic);
    int mid         = 0;
    d.inPublish     = true;
    d.doneInPublish = false;
    const int rc =
        mosquitto_publish_v5(d.session, &mid, name.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, retain, props);
    d.inPublish = false;
    mosquitto_property_free_all(&props);
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

int Client::Subscribe(std::string_view filter, int qos) {
    Impl &d = *impl_;
    if ((qos != 0 && qos != 1) || !FilterTaken(filter))
        return kMqttErrRefused;
    auto known = std::find_if(d.subscriptions.begin(), d.subscriptions.end(),
                              [&](const auto &s) { return s.first == filter; });
    if (known == d.subscriptions.end())
        known = d.subscriptions.insert(known, {std::string(filter), qos});
    known->second = qos;
    // Not connected now: the next connection makes it.
    if (d.state == State::Connected && d.session) {
        d.SendSubscribe(known->first, qos);
        d.SyncWriter();
    }
    return kMqttOk;
}

int Client::Unsubscribe(std::string_view filter) {
    Impl &d = *impl_;
    std::erase_if(d.subscriptions, [&](const auto &s) { return s.first == filter; });
    if (d.state == State::Connected && d.session && FilterTaken(filter)) {
        const std::string name(filter);
        if (d.V5())
            mosquitto_unsubscribe_v5(d.session, nullptr, name.c_str(), nullptr);
        else
            mosquitto_unsubscribe(d.session, nullptr, name.c_str());
        d.SyncWriter();
    }
    return kMqttOk;
}

void Client::OnMessage(std::function<void(const Message &)> callback) {
    impl_->onMessage = std::move(callback);
}

void Client::OnSubscribed(std::function<void(const std::string &)> callback) {
    impl_->onSubscribed = std::move(callback);
}

long long Client::DroppedIn() const {
    return impl_->droppedIn;
}

} // namespace mqtt
