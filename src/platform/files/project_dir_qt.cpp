// The project folder, from the program's own folder or the user's documents folder.
#include "project_dir.h"

#include "text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace {

constexpr int kErrNoEngine = -1;

void CopyPath(const QString &path, char *destination) {
    const QByteArray bytes = QFile::encodeName(path);
    CopyText(destination, kPathSize, std::string_view(bytes.constData(), bytes.size()));
}

} // namespace

int ChooseProjectDir(const char *programDir, int programWritable, char *directory) {
    if (!directory || !programDir)
        return kErrNoEngine;
    if (programWritable) {
        CopyPath(QFile::decodeName(programDir), directory);
        return 0;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    CopyPath(QDir(documents).filePath(QStringLiteral("RMX7")), directory);
    return 0;
}

int DirectoryWritable(const char *directory) {
    return directory && access(directory, W_OK | X_OK) == 0 ? 1 : 0;
}

int GetProjectDir(char *directory) {
    if (!QCoreApplication::instance() || !directory)
        return kErrNoEngine;
    const QByteArray programDir = QFile::encodeName(QCoreApplication::applicationDirPath());
    return ChooseProjectDir(programDir.constData(), DirectoryWritable(programDir.constData()),
                            directory);
}
