// The parameter set's fingerprint and the hash of a text, over Qt's SHA-256.
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

std::string Sha256Hex(std::string_view text) {
    return QCryptographicHash::hash(
               QByteArrayView(text.data(), static_cast<qsizetype>(text.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}
