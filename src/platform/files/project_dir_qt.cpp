// The project folder, from the program's own folder or the user's documents folder.
#include "project_dir.h"

#include "text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace {

constexpr int kErrNoEngine = -1;

// Folders of the system and its packages: a program there is installed, and whatever the
// user may write there (root may write anywhere) is no place for the user's files.
constexpr std::string_view kSystemFolders[] = {"/usr",   "/bin",    "/sbin", "/lib", "/lib32",
                                               "/lib64", "/libx32", "/opt",  "/etc"};

void CopyPath(const QString &path, char *destination) {
    const QByteArray bytes = QFile::encodeName(path);
    CopyText(destination, kPathSize, std::string_view(bytes.constData(), bytes.size()));
}

} // namespace

int IsSystemFolder(const char *path) {
    if (!path)
        return 0;
    const std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
    for (std::string_view folder : kSystemFolders) {
        const std::filesystem::path system(folder);
        if (std::mismatch(system.begin(), system.end(), normal.begin(), normal.end()).first ==
            system.end())
            return 1;
    }
    return 0;
}

int ChooseProjectDir(const char *programDir, int programWritable, const char *documentsDir,
                     char *directory) {
    if (!directory || !programDir || !documentsDir)
        return kErrNoEngine;
    if (programWritable && !IsSystemFolder(programDir)) {
        CopyPath(QFile::decodeName(programDir), directory);
        return 0;
    }
    CopyPath(QDir(QFile::decodeName(documentsDir)).filePath(QStringLiteral("RMX7")), directory);
    return 0;
}

int DirectoryWritable(const char *directory) {
    return directory && access(directory, W_OK | X_OK) == 0 ? 1 : 0;
}

int GetDocumentsDir(char *directory) {
    if (!directory)
        return kErrNoEngine;
    CopyPath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), directory);
    return 0;
}

int GetProjectDir(char *directory) {
    if (!QCoreApplication::instance() || !directory)
        return kErrNoEngine;
    const QByteArray programDir = QFile::encodeName(QCoreApplication::applicationDirPath());
    char documents[kPathSize]   = {};
    GetDocumentsDir(documents);
    return ChooseProjectDir(programDir.constData(), DirectoryWritable(programDir.constData()),
                            documents, directory);
}
