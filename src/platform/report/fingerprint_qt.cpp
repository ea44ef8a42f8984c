// The parameter set's fingerprint over Qt's SHA-256.
#include "fingerprint.h"

#include <QByteArray>
#include <QCryptographicHash>

std::string ParameterFingerprint(const std::uint16_t (&words)[kFingerprintWords]) {
    QByteArray bytes;
    bytes.reserve(2 * kFingerprintWords);
    for (const std::uint16_t word : words) {
        bytes.append(static_cast<char>(word >> 8));
        bytes.append(static_cast<char>(word & 0xFF));
    }
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}
