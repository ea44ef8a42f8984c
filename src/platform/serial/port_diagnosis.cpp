// Open diagnosis from what the system tells: errno, the device file's group and mode,
// /proc/<pid>/fd and /proc/<pid>/comm, and the UUCP-style lock files in /run/lock.
#include "port_diagnosis.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

namespace {

namespace fs = std::filesystem;

// Where programs that follow the UUCP convention, Qt's serial port among them, leave
// LCK..<device name> with the holder's pid as its first word.
constexpr std::string_view kLockDirectories[] = {"/run/lock", "/var/lock"};
constexpr std::string_view kLockPrefix        = "LCK..";
constexpr std::string_view kDevPrefix         = "/dev/";
constexpr mode_t kGroupReadWrite              = S_IRGRP | S_IWGRP;

bool forCommandLine = false;

// What helps, in the words of the program the user works with.
const char *PickAnother() {
    return forCommandLine ? "choose another with --com N or --device DEVICE (rmx7ctl ports lists "
                            "them)"
                          : "pick another port";
}

const char *PickAgain() {
    return forCommandLine ? "then run the command again" : "then pick the port again in the ring";
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

std::string Busy(const std::string &device) {
    const std::vector<std::string> holders = DeviceHolders(device);
    std::string names;
    for (const std::string &holder : holders)
        names += (names.empty() ? "" : ", ") + holder;
    if (names.empty())
        names = "another program (the system does not say which)";
    return device + " is in use by " + names + ". Close it there, or " + PickAnother() + ".";
}

std::string ProcessName(pid_t pid) {
    if (pid == getpid())
        return "this program (pid " + std::to_string(pid) + ")";
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

// A lock file outlives a program that crashed: only a pid that still runs counts.
void AddLockHolders(const fs::path &device, std::set<pid_t> &pids) {
    for (std::string_view directory : kLockDirectories) {
        for (const std::string &name : LockNames(device)) {
            std::ifstream lock(fs::path(directory) / name);
            long pid = 0;
            if (lock >> pid && pid > 0 && fs::exists("/proc/" + std::to_string(pid)))
                pids.insert(static_cast<pid_t>(pid));
        }
    }
}

} // namespace

std::vector<std::string> DeviceHolders(const std::string &device) {
    std::set<pid_t> pids;
    AddLockHolders(device, pids);
    std::error_code error;
    if (const fs::path real = fs::canonical(device, error); !error) {
        AddOpenHolders(real, pids);
        AddLockHolders(real, pids);
    }
    std::vector<std::string> names;
    for (pid_t pid : pids)
        names.push_back(ProcessName(pid));
    return names;
}

void SetDiagnosisForCommandLine(bool commandLine) {
    forCommandLine = commandLine;
}

std::string DiagnoseLostLine(int portNo, const std::string &device) {
    const std::string port =
        "COM" + std::to_string(portNo) + (device.empty() ? "" : " (" + device + ")");
    return port + " is gone: its device was unplugged or switched off, or its connection closed. " +
           (forCommandLine ? "Run the command again once it is back."
                           : "Once it is back, the next command opens it again; it can also be "
                             "picked again in the ring.");
}

std::string DiagnoseOpenFailure(int errorNumber, const std::string &device) {
    if (device.empty())
        return forCommandLine ? "This COM number has no device. Give one with --device DEVICE or "
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
        return Busy(device);
    case ENOTTY:
        return device + " is not a serial device. " +
               (forCommandLine ? "Give a serial device (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) "
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
    }
    return "Cannot open " + address + ".";
}
