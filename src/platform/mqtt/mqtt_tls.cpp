// The client's own OpenSSL context: the library's would trust only a CA file (none given
// fails at once) and would not tell which certificate it refused, or why.
#include "mqtt_tls.h"

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <ctime>

namespace mqtt {

namespace {

// A certificate's names come from the broker: bounded, and its control bytes escaped.
constexpr int kMaxNameLength = 200;

// An encrypted key would have OpenSSL ask on the terminal; no answer makes it fail at once.
int NoKeyPassword(char *, int, int, void *) {
    return 0;
}

std::string NameText(const X509_NAME *name) {
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253);
    char *data       = nullptr;
    const long bytes = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(bytes > 0 ? bytes : 0));
    BIO_free(bio);
    if (text.size() > kMaxNameLength)
        text = text.substr(0, kMaxNameLength) + "...";
    return text;
}

std::string DateText(const ASN1_TIME *time) {
    std::tm when{};
    char text[32] = {};
    if (time && ASN1_TIME_to_tm(time, &when) == 1)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &when);
    return text;
}

// Verifies the chain as OpenSSL would, and keeps what a refusal needs to be said plainly.
int VerifyChain(X509_STORE_CTX *store, void *sink) {
    const int verified = X509_verify_cert(store);
    if (verified > 0)
        return verified;
    auto *refusal  = static_cast<CertificateRefusal *>(sink);
    refusal->error = X509_STORE_CTX_get_error(store);
    X509 *shown    = X509_STORE_CTX_get0_cert(store);
    X509 *failing  = X509_STORE_CTX_get_current_cert(store);
    if (!failing)
        failing = shown;
    if (shown) {
        refusal->subject = NameText(X509_get_subject_name(shown));
        refusal->issuer  = NameText(X509_get_issuer_name(shown));
    }
    if (failing)
        refusal->date =
            DateText(refusal->error == X509_V_ERR_CERT_HAS_EXPIRED ? X509_get0_notAfter(failing)
                                                                   : X509_get0_notBefore(failing));
    return verified;
}

bool CheckHost(SSL_CTX *context, const std::string &host) {
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // An address is checked against the certificate's IP addresses, a name against its names.
    return X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1 ||
           X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
}

std::string LoadFiles(SSL_CTX *context, const Settings &s) {
    if (s.caFile.empty() ? SSL_CTX_set_default_verify_paths(context) != 1
                         : SSL_CTX_load_verify_locations(context, s.caFile.c_str(), nullptr) != 1)
        return s.caFile.empty() ? "the system's certificate store cannot be read"
                                : "the CA file " + s.caFile + " holds no certificate (PEM)";
    if (s.certFile.empty())
        return {};
    // The key first: a certificate that does not match it is then taken, and the check
    // below can say so, where the other order only says the key cannot be used.
    SSL_CTX_set_default_passwd_cb(context, NoKeyPassword);
    if (SSL_CTX_use_PrivateKey_file(context, s.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        return "the client key " + s.keyFile + " is not a key (PEM, not encrypted)";
    if (SSL_CTX_use_certificate_chain_file(context, s.certFile.c_str()) != 1)
        return "the client certificate " + s.certFile + " is not a certificate (PEM)";
    if (SSL_CTX_check_private_key(context) != 1)
        return "the client key " + s.keyFile + " does not belong to the certificate " + s.certFile;
    return {};
}

bool NotVouchedFor(int error) {
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return true;
    default:
        return false;
    }
}

} // namespace

void TlsContextFree::operator()(void *context) const {
    SSL_CTX_free(static_cast<SSL_CTX *>(context));
}

TlsContext MakeTlsContext(const Settings &settings, CertificateRefusal *refusal,
                          std::string &error) {
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = "no memory for TLS";
        return nullptr;
    }
    TlsContext made(context);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, VerifyChain, refusal);
    if (!CheckHost(context, settings.host)) {
        error =
            "the broker's host \"" + settings.host + "\" cannot be checked against a certificate";
        return nullptr;
    }
    if (error = LoadFiles(context, settings); !error.empty())
        return nullptr;
    return made;
}

std::string RefusedCertificate(const CertificateRefusal &refusal, const Settings &settings,
                               const std::string &broker) {
    if (refusal.error == X509_V_OK)
        return {};
    const std::string shown = broker + " showed a certificate for \"" + refusal.subject +
                              "\" (issued by \"" + refusal.issuer + "\") that ";
    if (NotVouchedFor(refusal.error))
        return shown + (settings.caFile.empty()
                            ? "no CA in the system's certificate store vouches for"
                            : "the CA file " + settings.caFile + " does not vouch for");
    switch (refusal.error) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return shown + "does not name \"" + settings.host + "\"";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return shown + "expired on " + refusal.date;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return shown + "is valid only from " + refusal.date;
    default:
        return shown + "cannot be trusted (" + X509_verify_cert_error_string(refusal.error) + ")";
    }
}

} // namespace mqtt
