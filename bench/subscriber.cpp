// The bench as an MQTT subscriber through libmosquitto.
#include "subscriber.h"

#include "sim_process.h"

#include <mosquitto.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kKeepAliveSeconds = 10;
constexpr int kLoopMs           = 10;
constexpr useconds_t kRetryUs   = 10000;

} // namespace

Subscriber::Subscriber(std::string filter) : filter_(std::move(filter)) {
    mosquitto_lib_init();
    session_ = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(session_, OnConnect);
    mosquitto_message_callback_set(
        session_, [](mosquitto *, void *self, const mosquitto_message *message) {
            const double at = MonotonicNow();
            // The library ends every payload with a zero byte.
            const char *seq = std::strstr(static_cast<const char *>(message->payload), "\"seq\":");
            static_cast<Subscriber *>(self)->receipts_.push_back(
                {message->topic, seq ? std::atoll(seq + 6) : 0, at});
        });
}

Subscriber::~Subscriber() {
    mosquitto_destroy(session_);
    mosquitto_lib_cleanup();
}

void Subscriber::OnConnect(mosquitto *session, void *self, int code) {
    if (code == 0)
        mosquitto_subscribe(session, nullptr, static_cast<Subscriber *>(self)->filter_.c_str(), 0);
}

bool ConnectSession(mosquitto *session, int port, double seconds) {
    for (const double end = MonotonicNow() + seconds; MonotonicNow() < end; usleep(kRetryUs))
        if (mosquitto_connect(session, "127.0.0.1", port, kKeepAliveSeconds) == MOSQ_ERR_SUCCESS)
            return true;
    return false;
}

bool PumpSession(mosquitto *session, double seconds, const std::function<bool()> &done) {
    for (const double end = MonotonicNow() + seconds; MonotonicNow() < end;) {
        if (done())
            return true;
        if (mosquitto_loop(session, kLoopMs, 1) != MOSQ_ERR_SUCCESS &&
            mosquitto_reconnect(session) != MOSQ_ERR_SUCCESS)
            usleep(kRetryUs);
    }
    return done();
}

bool Subscriber::Connect(int port, double seconds) {
    return ConnectSession(session_, port, seconds);
}

bool Subscriber::Reconnect() {
    return mosquitto_reconnect(session_) == MOSQ_ERR_SUCCESS;
}

bool Subscriber::Pump(double seconds, const std::function<bool()> &done) {
    return PumpSession(session_, seconds, done);
}

void Subscriber::Pump(double seconds) {
    Pump(seconds, [] { return false; });
}
