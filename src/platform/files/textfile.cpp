// Text files over POSIX calls, so that every failure of the disk is seen and reported, and
// no name that another account can reach is followed as a link.
#include "textfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode            = 0644;
constexpr int kTemporaryTries         = 16;
constexpr std::size_t kKeptNameLength = 64; // of the target's name in its temporary's

// Writes all of text; 0 or -errno.
int WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? -errno : -EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Closes fd; the first error of result and the close.
int CloseKeepingError(int fd, int result) {
    if (close(fd) != 0 && result == 0)
        return -errno;
    return result;
}

// A name beside path that no other account can foresee and so plant beforehand:
// ".<name>.<64 random bits>.part", hidden like an editor's.
std::string TemporaryName(const std::string &path) {
    const std::filesystem::path target(path);
    std::random_device entropy;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x%08x.part", entropy(), entropy());
    const std::string name = "." + target.filename().string().substr(0, kKeptNameLength) + suffix;
    return (target.parent_path() / name).string();
}

// A new file beside path, made by this call alone (O_EXCL never follows a link); its
// descriptor or -errno.
int OpenTemporary(const std::string &path, std::string &temporary) {
    for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
        temporary    = TemporaryName(path);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        if (fd >= 0 || errno != EEXIST)
            return fd >= 0 ? fd : -errno;
    }
    return -EEXIST;
}

// A plain file that is replaced lends its permissions: a file made private stays so.
int KeepPermissions(int fd, const char *path) {
    struct stat old {};
    if (lstat(path, &old) != 0 || !S_ISREG(old.st_mode))
        return 0;
    return fchmod(fd, old.st_mode & 0777) == 0 ? 0 : -errno;
}

} // namespace

void TreatFileSizeLimitAsError() {
    static const bool ignored = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)ignored;
}

int CreateTextFile(const char *path, const std::string &text) {
    TreatFileSizeLimitAsError();
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0)
        return -errno;
    const int result = CloseKeepingError(fd, WriteAll(fd, text));
    // The file is this call's own: a part of it would pass for a whole one.
    if (result != 0)
        unlink(path);
    return result;
}

int AppendTextFile(const char *path, const std::string &text) {
    TreatFileSizeLimitAsError();
    // O_NONBLOCK: a pipe put in the file's place fails here instead of waiting for a reader.
    const int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    struct stat before {};
    if (fstat(fd, &before) != 0)
        return CloseKeepingError(fd, -errno);
    if (!S_ISREG(before.st_mode))
        return CloseKeepingError(fd, -EINVAL);
    const int result = WriteAll(fd, text);
    if (result != 0 && ftruncate(fd, before.st_size) != 0)
        std::perror("rmx7scope: cannot cut back a failed append");
    return CloseKeepingError(fd, result);
}

int ReplaceTextFile(const char *path, const std::string &text) {
    TreatFileSizeLimitAsError();
    std::string temporary;
    const int fd = OpenTemporary(path, temporary);
    if (fd < 0)
        return fd;
    int result = KeepPermissions(fd, path);
    if (result == 0)
        result = WriteAll(fd, text);
    if (result == 0 && fsync(fd) != 0)
        result = -errno;
    result = CloseKeepingError(fd, result);
    if (result == 0 && std::rename(temporary.c_str(), path) != 0)
        result = -errno;
    if (result != 0)
        unlink(temporary.c_str());
    return result;
}

int CreateFileWhole(const char *path, const std::string &bytes) {
    TreatFileSizeLimitAsError();
    std::string temporary;
    const int fd = OpenTemporary(path, temporary);
    if (fd < 0)
        return fd;
    int result = WriteAll(fd, bytes);
    if (result == 0 && fsync(fd) != 0)
        result = -errno;
    result = CloseKeepingError(fd, result);
    // link, unlike rename, never replaces what stands at path.
    if (result == 0 && link(temporary.c_str(), path) != 0)
        result = -errno;
    unlink(temporary.c_str());
    return result;
}

int ReadTextFile(const char *path, std::string &text, std::size_t limit) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    text.clear();
    char block[4096];
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return CloseKeepingError(fd, -errno);
        if (n == 0)
            return CloseKeepingError(fd, 0);
        if (text.size() + static_cast<std::size_t>(n) > limit)
            return CloseKeepingError(fd, -EFBIG);
        text.append(block, static_cast<std::size_t>(n));
    }
}

int MakeFolder(const char *path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return error ? -error.value() : 0;
}
