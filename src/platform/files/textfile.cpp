// Text files over POSIX calls, so that every failure of the disk is seen and reported.
#include "textfile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode = 0644;

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

int WriteNew(const char *path, const std::string &text, int flags) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | flags, kFileMode);
    if (fd < 0)
        return -errno;
    return CloseKeepingError(fd, WriteAll(fd, text));
}

} // namespace

int CreateTextFile(const char *path, const std::string &text) {
    return WriteNew(path, text, O_EXCL);
}

int AppendTextFile(const char *path, const std::string &text) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    struct stat before {};
    if (fstat(fd, &before) != 0)
        return CloseKeepingError(fd, -errno);
    const int result = WriteAll(fd, text);
    if (result != 0 && ftruncate(fd, before.st_size) != 0)
        std::perror("rmx7scope: cannot cut back a failed append");
    return CloseKeepingError(fd, result);
}

int ReplaceTextFile(const char *path, const std::string &text) {
    const std::string temporary = std::string(path) + ".part";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
    if (fd < 0)
        return -errno;
    int result = WriteAll(fd, text);
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
    const std::string target(path);
    const std::size_t slash = target.rfind('/');
    std::string temporary =
        (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".rmx7-XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return -errno;
    int result = WriteAll(fd, bytes);
    if (result == 0 && (fchmod(fd, kFileMode) != 0 || fsync(fd) != 0))
        result = -errno;
    result = CloseKeepingError(fd, result);
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
