// Why a serial device would not open, in plain words with the remedy: the text behind
// the short open-error text of the status line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Where programs that follow the UUCP convention, Qt's serial port among them, leave
// LCK..<device name> with the holder's pid as its first word (Qt's: the program's name on
// the second line).
inline const std::vector<std::string> kSystemLockDirectories = {"/run/lock", "/var/lock"};

// Whom the diagnoses advise: the operator of the panel (pick a port in the COM-port ring),
// the user of a command line (give the port with its options, run the command again), or
// a service's log, whose program tries the port again by itself; the panel by default.
enum class DiagnosisAudience { Panel, CommandLine, RetryingService };
void SetDiagnosisAudience(DiagnosisAudience who);

// errorNumber is the errno of the step that failed (EACCES, EBUSY, ENOENT, ENOTTY, ...);
// device is the path that was opened, empty when the COM number has no device. Looks at
// the device's owner and mode, and for a busy device at who holds it: the processes that
// have it open or lock it, or else a lock file in lockDirectories whose process has ended,
// named with the command that removes it.
std::string
DiagnoseOpenFailure(int errorNumber, const std::string &device,
                    const std::vector<std::string> &lockDirectories = kSystemLockDirectories);

// The line of COM portNo, on device, was lost while it was open: the device was unplugged
// or switched off, or the connection closed; or cause, when the line knows why.
std::string DiagnoseLostLine(int portNo, const std::string &device, const std::string &cause = {});

// The processes that hold device, "name (pid N)": the other processes that have it open,
// and whoever a lock file in lockDirectories names while it runs, this process as "this
// program (pid N)", a system service's process as "the service rmx7-publish@line7 (pid N)".
std::vector<std::string>
DeviceHolders(const std::string &device,
              const std::vector<std::string> &lockDirectories = kSystemLockDirectories);

// The system service a process runs as ("rmx7-publish@line7"), from the text of its
// /proc/PID/cgroup; empty for a process of a login session or a user's own services.
std::string ServiceOfControlGroup(std::string_view cgroup);

// The lock files of device in lockDirectories whose program has ended, each as "<file>, a
// lock file that <program> (pid N) left when it ended". Qt's serial port removes such a
// file at the next open where the system lets it; the open names each one it removed.
std::vector<std::string>
StaleLockFiles(const std::string &device,
               const std::vector<std::string> &lockDirectories = kSystemLockDirectories);

// Why a remote line (tcp://, rfc2217://) would not open.
enum class RemoteFault {
    BadAddress,       // not of the form SCHEME://HOST:PORT
    HostNotFound,     // the name does not resolve
    Refused,          // nothing listens at that port
    Unreachable,      // no route to the host
    NoAnswer,         // no connection within the connect time
    Closed,           // the server closed the connection while it was set up
    NoComPortControl, // the server does not do RFC 2217, or did not answer in time
    SettingsRefused,  // the server answered other settings than those asked for
    Overrun,          // the server sent a Telnet command longer than any server sends
};

// address as given (tcp://HOST:PORT); host and port as parsed, empty for a bad address;
// detail is what the system or the server said, in its own words.
std::string DiagnoseRemoteOpenFailure(RemoteFault fault, const std::string &address,
                                      const std::string &host, int port, const std::string &detail);
