// Remote lines: a controller's RS-232 line on a serial device server or behind ser2net,
// named like a device file:
//
//   tcp://HOST:PORT      the raw byte stream of the line; the server keeps its own settings
//   rfc2217://HOST:PORT  Telnet with COM Port Control (RFC 2217): the open sets the line,
//                        and clearing a queue purges the server's buffer as well
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets.
#pragma once

#include "serial_line.h"

#include <memory>
#include <string>

// True when device names a remote line (by its scheme), well formed or not.
bool IsRemoteAddress(const std::string &device);
// What the port ring shows beside a remote address: "raw TCP", "RFC 2217"; empty for others.
std::string RemoteLineKind(const std::string &device);

// Connects to the address within 2 s and, for rfc2217, has the server set the line and
// purge it; then drops what arrives until the line has been quiet for 25 ms (0.2 s at
// most), so that bytes the line held from before do not meet the first request. On
// success line holds the open line; else the failure says why: a malformed address or a
// name that does not resolve kComErrNoPortFound, a refused, unreachable or silent host
// kComErrCannotOpen, settings the server refuses kComErrInvalidParameter. A server that
// sends a Telnet sub-negotiation longer than any server sends is hung up on, at the open
// (kComErrCannotOpen) or later (the line is lost, and says why). The line holds at most
// 64 KiB of input for the program, as a serial driver's queue does; more is dropped.
OpenFailure OpenRemoteLine(const std::string &address, const LineSettings &settings,
                           std::unique_ptr<SerialLine> &line);
