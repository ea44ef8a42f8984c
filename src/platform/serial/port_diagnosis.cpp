// Open diagnosis from what the system tells: errno, the device file's group and mode,
// /proc/<pid>/fd and /proc/<pid>/comm, and the UUCP-style lock files in /run/lock, of
// running programs and of ended ones.
#include "port_diagnosis.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>

namespace {

namespace fs = std::filesystem;

using Directories = std::vector<std::string>;

constexpr std::string_view kLockPrefix = "LCK..";
constexpr std::string_view kDevPrefix  = "/dev/";
constexpr mode_t kGroupReadWrite       = S_IRGRP | S_IWGRP;

// A lock file as its holder left it.
struct LockFile {
    fs::path path;
    pid_t pid = 0;
    std::string program; // Qt's lock files name it; empty for the others
};

DiagnosisAudience audience = DiagnosisAudience::Panel;

bool CommandLine() {
    return audience != DiagnosisAudience::Panel;
}

// What helps, in the words of the program the user works with.
const char *PickAnother() {
    switch (audience) {
    case DiagnosisAudience::Panel:
        return "pick another port";
    case DiagnosisAudience::CommandLine:
        return "choose another with --com N or --device DEVICE (rmx7ctl ports lists them)";
    case DiagnosisAudience::RetryingService:
        break;
    }
    return "give another with --device DEVICE (device = in the config); meanwhile the port is "
           "tried again by itself";
}

const char *PickAgain() {
    switch (audience) {
    case DiagnosisAudience::Panel:
        return "then pick the port again in the ring";
    case DiagnosisAudience::CommandLine:
        return "then run the command again";
    case DiagnosisAudience::RetryingService:
        break;
    }
    return "and it is opened again by itself";
}

std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

std::string GroupName(gid_t gid) {
    const group *entry = getgrgid(gid);
    return entry ? std::string(entry->gr_name) : std::to_string(gid);
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string PermissionDenied(const std::string &device) {
    struct stat info {};
    if (stat(device.c_str(), &info) != 0)
        return "No permission to open " + device + ".";
    const std::string group = GroupName(info.st_gid);
    std::string text        = "No permission to open " + device + ": it belongs to the group " +
                       Quoted(group) + " (mode " + ModeText(info.st_mode) +
                       "), and this user is not in that group in this login.";
    if ((info.st_mode & kGroupReadWrite) != kGroupReadWrite)
        text += " The group may not read and write it either: sudo chmod g+rw " + device + ".";
    return text + " Add the user to the group with: sudo usermod -aG " + group +
           " $USER, then log out and in again.";
}

std::string ProcessName(pid_t pid) {
    if (pid == getpid())
        return "this program (pid " + std::to_string(pid) + ")";
    std::ifstream cgroup("/proc/" + std::to_string(pid) + "/cgroup");
    const std::string service = ServiceOfControlGroup(
        std::string(std::istreambuf_iterator<char>(cgroup), std::istreambuf_iterator<char>()));
    if (!service.empty())
        return "the service " + service + " (pid " + std::to_string(pid) + ")";
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return (name.empty() ? "another program" : name) + " (pid " + std::to_string(pid) + ")";
}

bool IsNumber(const std::string &text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool HoldsOpen(const fs::path &process, const fs::path &device) {
    std::error_code error;
    for (const auto &fd : fs::directory_iterator(process / "fd", error)) {
        std::error_code linkError;
        if (fs::read_symlink(fd.path(), linkError) == device)
            return true;
    }
    return false;
}

// This process is left out: the simulator holds its own pty open, and a port of this
// program shows in its lock file.
void AddOpenHolders(const fs::path &device, std::set<pid_t> &pids) {
    std::error_code error;
    for (const auto &process : fs::directory_iterator("/proc", error)) {
        const std::string name = process.path().filename().string();
        if (!IsNumber(name))
            continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (pid != getpid() && HoldsOpen(process.path(), device))
            pids.insert(pid);
    }
}

// Qt names the lock after the path below /dev with '/' made '_' (LCK..pts_3); other
// programs after the device's file name (LCK..ttyUSB0).
std::set<std::string> LockNames(const fs::path &device) {
    std::string belowDev = device.string();
    if (belowDev.starts_with(kDevPrefix))
        belowDev.erase(0, kDevPrefix.size());
    std::replace(belowDev.begin(), belowDev.end(), '/', '_');
    return {std::string(kLockPrefix) + belowDev,
            std::string(kLockPrefix) + device.filename().string()};
}

// A lock file outlives a program that crashed or was killed: only a pid that still runs
// holds the device.
bool IsRunning(pid_t pid) {
    return fs::exists("/proc/" + std::to_string(pid));
}

std::optional<LockFile> ReadLockFile(const fs::path &path) {
    std::ifstream file(path);
    long pid = 0;
    if (!(file >> pid) || pid <= 0)
        return std::nullopt;
    LockFile lock{path, static_cast<pid_t>(pid), {}};
    std::string restOfPidLine;
    std::getline(file, restOfPidLine);
    std::getline(file, lock.program);
    return lock;
}

// The lock files of device, under its own name and the name of what it links to, each
// once: /var/lock is /run/lock on most systems.
std::vector<LockFile> LockFiles(const std::string &device, const Directories &directories) {
    std::vector<fs::path> names = {device};
    std::error_code error;
    if (const fs::path real = fs::canonical(device, error); !error)
        names.push_back(real);
    std::set<fs::path> seen;
    std::vector<LockFile> locks;
    for (const std::string &directory : directories) {
        for (const fs::path &name : names) {
            for (const std::string &lockName : LockNames(name)) {
                const fs::path path = fs::path(directory) / lockName;
                std::error_code unresolved;
                const fs::path real = fs::weakly_canonical(path, unresolved);
                if (!seen.insert(unresolved ? path : real).second)
                    continue;
                if (std::optional<LockFile> lock = ReadLockFile(path))
                    locks.push_back(*lock);
            }
        }
    }
    return locks;
}

std::vector<LockFile> EndedLocks(const std::string &device, const Directories &directories) {
    std::vector<LockFile> ended = LockFiles(device, directories);
    std::erase_if(ended, [](const LockFile &lock) { return IsRunning(lock.pid); });
    return ended;
}

std::string Described(const LockFile &lock) {
    return lock.path.string() + ", a lock file that " +
           (lock.program.empty() ? "a program" : lock.program) + " (pid " +
           std::to_string(lock.pid) + ") left when it ended";
}

// A program that ended without removing its lock file leaves the device locked for every
// program that honours the file. Qt's serial port removes such a file itself where the
// system lets it, so one that is left is another user's.
std::string LockedByEndedPrograms(const std::string &device, const Directories &directories) {
    std::string locks, files;
    const std::vector<LockFile> ended = EndedLocks(device, directories);
    for (const LockFile &lock : ended) {
        locks += (locks.empty() ? "" : " and by ") + Described(lock);
        files += " " + lock.path.string();
    }
    const std::size_t count = ended.size();
    if (count == 0)
        return {};
    const std::string them = count == 1 ? "it" : "them";
    return device + " is locked by " + locks + ". The system does not let this program remove " +
           them + ": remove " + them + " with sudo rm" + files + ", " + PickAgain() + ".";
}

std::string Busy(const std::string &device, const Directories &lockDirectories) {
    const std::vector<std::string> holders = DeviceHolders(device, lockDirectories);
    if (!holders.empty()) {
        std::string names;
        for (const std::string &holder : holders)
            names += (names.empty() ? "" : ", ") + holder;
        // A line's agent holds its port for good: the way in is through the agent.
        const bool agent = names.find("the service rmx7-publish@") != std::string::npos;
        return device + " is in use by " + names + ". " +
               (agent ? "Run the command through that line's agent instead: rmx7ctl --agent "
                        "mqtt[s]://BROKER/PREFIX/NAME COMMAND (the agent's commands must be on)"
                      : "Close it there, or " + std::string(PickAnother())) +
               ".";
    }
    if (std::string stale = LockedByEndedPrograms(device, lockDirectories); !stale.empty())
        return stale;
    return device + " is in use by another program (the system does not say which). Close it " +
           "there, or " + PickAnother() + ".";
}

} // namespace

std::string ServiceOfControlGroup(std::string_view cgroup) {
    // Unified hierarchy:
    // "0::/system.slice/system-rmx7\x2dpublish.slice/rmx7-publish@line7.service".
    const std::size_t line = cgroup.find("0::/");
    if (line == std::string_view::npos)
        return {};
    std::string_view path               = cgroup.substr(line + 4);
    path                                = path.substr(0, path.find('\n'));
    const std::string_view unit         = path.substr(path.rfind('/') + 1);
    constexpr std::string_view kService = ".service";
    if (unit.size() <= kService.size() || !unit.ends_with(kService) ||
        path.find("user@") != std::string_view::npos)
        return {};
    return std::string(unit.substr(0, unit.size() - kService.size()));
}

std::vector<std::string> DeviceHolders(const std::string &device,
                                       const Directories &lockDirectories) {
    std::set<pid_t> pids;
    for (const LockFile &lock : LockFiles(device, lockDirectories))
        if (IsRunning(lock.pid))
            pids.insert(lock.pid);
    std::error_code error;
    if (const fs::path real = fs::canonical(device, error); !error)
        AddOpenHolders(real, pids);
    std::vector<std::string> names;
    for (pid_t pid : pids)
        names.push_back(ProcessName(pid));
    return names;
}

std::vector<std::string> StaleLockFiles(const std::string &device,
                                        const Directories &lockDirectories) {
    std::vector<std::string> stale;
    for (const LockFile &lock : EndedLocks(device, lockDirectories))
        stale.push_back(Described(lock));
    return stale;
}

void SetDiagnosisAudience(DiagnosisAudience who) {
    audience = who;
}

std::string DiagnoseLostLine(int portNo, const std::string &device, const std::string &cause) {
    const std::string port =
        "COM" + std::to_string(portNo) + (device.empty() ? "" : " (" + device + ")");
    if (!cause.empty())
        return port + " is gone: " + cause;
    const char *back =
        audience == DiagnosisAudience::Panel
            ? "Once it is back, the next command opens it again; it can also be picked again in "
              "the ring."
        : audience == DiagnosisAudience::CommandLine
            ? "Run the command again once it is back."
            : "It is opened again by itself once it is back.";
    return port + " is gone: its device was unplugged or switched off, or its connection closed. " +
           back;
}

std::string DiagnoseOpenFailure(int errorNumber, const std::string &device,
                                const Directories &lockDirectories) {
    if (device.empty())
        return CommandLine() ? "This COM number has no device. Give one with --device DEVICE or "
                               "--port N=DEVICE, or choose another with --com N (rmx7ctl ports "
                               "lists them)."
                             : "This COM number has no device. Pick a port in the ring, or map "
                               "one with --port N=DEVICE.";
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
        return device +
               " is gone: the device does not exist (any more), as when an adapter is "
               "unplugged. Plug it in again, " +
               PickAgain() + ".";
    case EACCES:
    case EPERM:
        return PermissionDenied(device);
    case EBUSY:
    case EWOULDBLOCK:
        return Busy(device, lockDirectories);
    case ENOTTY:
        return device + " is not a serial device. " +
               (CommandLine() ? "Give a serial device (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) "
                                "with --device DEVICE or --port N=DEVICE."
                              : "Pick a serial port (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) or "
                                "map one with --port N=DEVICE.");
    case EINVAL:
        return device + " refuses the line settings asked for: it may not be a serial port "
                        "that can run them.";
    default:
        return "Cannot open " + device + ": " + std::strerror(errorNumber) + ".";
    }
}

std::string DiagnoseRemoteOpenFailure(RemoteFault fault, const std::string &address,
                                      const std::string &host, int port,
                                      const std::string &detail) {
    const std::string where = host + " port " + std::to_string(port);
    const std::string said  = detail.empty() ? std::string() : " (" + detail + ")";
    switch (fault) {
    case RemoteFault::BadAddress:
        return address + " is not a remote port address: write tcp://HOST:PORT or "
                         "rfc2217://HOST:PORT, with PORT from 1 to 65535.";
    case RemoteFault::HostNotFound:
        return "The host name " + Quoted(host) + " of " + address + " does not resolve" + said +
               ". Check its spelling, or give the server's IP address.";
    case RemoteFault::Refused:
        return where + " refused the connection: nothing listens there. Check that the device "
                       "server or ser2net runs and serves this port number.";
    case RemoteFault::Unreachable:
        return where + " cannot be reached" + said +
               ". Check the network cable and the address of the device server.";
    case RemoteFault::NoAnswer:
        return where + " did not answer within 2 s: the host may be off or a firewall drops "
                       "the connection.";
    case RemoteFault::Closed:
        return where + " closed the connection while it was set up" + said +
               ". Another client may hold the line there.";
    case RemoteFault::NoComPortControl:
        return where + " does not set the line by RFC 2217" + said +
               ". For a raw TCP port of a device server write tcp://" + host + ":" +
               std::to_string(port) + ".";
    case RemoteFault::SettingsRefused:
        return where + " refused the line settings asked for: " + detail + ".";
    case RemoteFault::Overrun:
        return where + " sent " + detail +
               ", which no RFC 2217 server does, and was disconnected. Check what serves that "
               "port; a raw TCP port is written tcp://" +
               host + ":" + std::to_string(port) + ".";
    }
    return "Cannot open " + address + ".";
}
