// Remembered values over QSettings, in an INI file of the program's own.
#include "remembered.h"

#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr int kErrCannotWrite = -1;

QString RememberedFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/rmx7scope/remembered.conf");
}

QString Key(const char *group, const char *key) {
    return QString::fromUtf8(group) + QLatin1Char('/') + QString::fromUtf8(key);
}

} // namespace

std::string RememberedValue(const char *group, const char *key) {
    const QSettings settings(RememberedFile(), QSettings::IniFormat);
    return settings.value(Key(group, key)).toString().toStdString();
}

int RememberValue(const char *group, const char *key, const std::string &value) {
    QSettings settings(RememberedFile(), QSettings::IniFormat);
    settings.setValue(Key(group, key), QString::fromStdString(value));
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : kErrCannotWrite;
}
