// Reading JSON through Qt's strict parser, into the plain tree of json.h.
#include "json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>

namespace json {

namespace {

Value FromQt(const QJsonValue &qt) {
    Value value;
    switch (qt.type()) {
    case QJsonValue::Bool:
        value.kind    = Kind::Bool;
        value.boolean = qt.toBool();
        break;
    case QJsonValue::Double:
        value.kind   = Kind::Number;
        value.number = qt.toDouble();
        break;
    case QJsonValue::String:
        value.kind = Kind::String;
        value.text = qt.toString().toStdString();
        break;
    case QJsonValue::Array: {
        value.kind             = Kind::Array;
        const QJsonArray array = qt.toArray();
        value.items.reserve(static_cast<std::size_t>(array.size()));
        for (const QJsonValue &item : array)
            value.items.push_back(FromQt(item));
        break;
    }
    case QJsonValue::Object: {
        value.kind               = Kind::Object;
        const QJsonObject object = qt.toObject();
        value.members.reserve(static_cast<std::size_t>(object.size()));
        for (auto it = object.begin(); it != object.end(); ++it)
            value.members.emplace_back(it.key().toStdString(), FromQt(it.value()));
        break;
    }
    default:
        break;
    }
    return value;
}

} // namespace

const Value *Value::Find(std::string_view key) const {
    for (const auto &[name, member] : members)
        if (name == key)
            return &member;
    return nullptr;
}

bool Value::WholeNumber(long long low, long long high, long long &whole) const {
    if (kind != Kind::Number || !std::isfinite(number) || number != std::floor(number) ||
        number < static_cast<double>(low) || number > static_cast<double>(high))
        return false;
    whole = static_cast<long long>(number);
    return true;
}

bool Parse(std::string_view text, Value &value, std::string &error) {
    QJsonParseError parseError;
    // Read in place: the parser copies what it keeps.
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = "not JSON at offset " + std::to_string(parseError.offset) + ": " +
                parseError.errorString().toStdString();
        return false;
    }
    value = document.isArray() ? FromQt(document.array()) : FromQt(document.object());
    return true;
}

std::string EncodeBase64(std::string_view bytes) {
    return QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))
        .toBase64()
        .toStdString();
}

bool DecodeBase64(std::string_view text, std::string &bytes) {
    const auto decoded =
        QByteArray::fromBase64Encoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    bytes.assign(decoded.decoded.constData(), static_cast<std::size_t>(decoded.decoded.size()));
    return true;
}

} // namespace json
