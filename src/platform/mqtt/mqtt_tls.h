// TLS for the MQTT client: the OpenSSL context every connection of a started client
// shakes hands with, and what it found wrong with a certificate a broker showed.
//
//   MakeTlsContext    trust (a CA file, or the system's certificate store), the broker's
//                     name or address checked against its certificate, a client certificate
//   RefusedCertificate  what the last refused handshake saw, in words for the operator
//
// Internal to the client (mqtt_client.cpp); the OpenSSL types stay out of this header.
#pragma once

#include "mqtt.h"

#include <memory>
#include <string>

namespace mqtt {

// Why the certificate a broker showed was refused; error 0 while none was.
struct CertificateRefusal {
    int error = 0;       // OpenSSL's verify error
    std::string subject; // the broker's certificate, as its subject and issuer name it
    std::string issuer;
    std::string date; // for an expired certificate the end of its validity, else its start
};

struct TlsContextFree {
    void operator()(void *context) const;
};
// An OpenSSL SSL_CTX, for the library's MOSQ_OPT_SSL_CTX.
using TlsContext = std::unique_ptr<void, TlsContextFree>;

// The context for settings (tls set): the CA file's certificates or, when none is given,
// the system's store; the host checked as a name or an address; the client certificate and
// key. A refused chain is written into refusal, which must outlive the context. Null, with
// error naming the file and what is wrong with it, when a file cannot be used.
TlsContext MakeTlsContext(const Settings &settings, CertificateRefusal *refusal,
                          std::string &error);

// "the broker at HOST:PORT showed a certificate for "CN=…" (issued by "CN=…") that the CA
// file … does not vouch for", or that does not name the host, that expired, ...
std::string RefusedCertificate(const CertificateRefusal &refusal, const Settings &settings,
                               const std::string &broker);

} // namespace mqtt
