// Serial-port services: ports named by COM number, one program thread.
//
// Thread rule: every call comes from the program thread. The receive callback runs
// only inside event processing (RunUserInterface, ProcessSystemEvents), never inside
// one of the calls below, so code between two event-processing points is never
// interrupted by it. The built-in simulator runs in its own thread and talks to the
// program only through its pseudo-terminal.
//
// Results: a count or 0 on success, one of the kComErr codes on failure.
#pragma once

#include "line_results.h"

// Event bits of the receive callback. Only kComEventReceive is ever raised; the other
// two are accepted in a mask so that callers can pass the mask they always pass.
constexpr int kComEventRxChar  = 0x0002; // the event character arrived
constexpr int kComEventTxEmpty = 0x0004; // the output queue ran empty
constexpr int kComEventReceive = 0x8000; // at least the notify count of bytes is waiting

using ComCallbackPtr = void (*)(int portNo, int eventMask, void *callbackData);

// --- Port ---
// Opens COM portNo (device from the port table, or deviceName when not empty) with
// the given line settings (parity 0 none, 1 odd, 2 even). >= 0 open, else kComErr*.
int OpenComConfig(int portNo, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
// Why the last OpenComConfig failed, in plain words with the remedy (also written to the
// trace as a DIAG line); empty after one that succeeded.
const char *GetOpenDiagnosis();
// Why the port was closed under its user: its line was lost while it was open (device
// unplugged or switched off, connection closed), in plain words with what helps; empty
// when it was not, and again once the port is opened or closed.
const char *GetLostDiagnosis(int portNo);
// The diagnoses advise the panel's operator (kDiagnosisPanel, the default: pick a port in
// the COM-port ring), the user of a command line (kDiagnosisCommandLine: give the port with
// the options, run the command again), or the log of a service that tries the port again
// by itself (kDiagnosisService).
constexpr int kDiagnosisPanel       = 0;
constexpr int kDiagnosisCommandLine = 1;
constexpr int kDiagnosisService     = 2;
void SetDiagnosisForProgram(int audience);
// Closes the port; harmless on a port that never opened. 0, or kComErrPortNotOpen.
int CloseCom(int portNo);
// Read and write time-out of later ComRd and ComWrt calls, in seconds.
int SetComTime(int portNo, double timeoutSeconds);
// 0 switches hardware handshake (RTS/CTS) off, 1 on.
int SetCTSMode(int portNo, int mode);

// --- Queues ---
// Drop everything waiting for input, or queued for output.
int FlushInQ(int portNo);
int FlushOutQ(int portNo);
// Writes count bytes; the count written, fewer or negative when the port is closed or gone.
int ComWrt(int portNo, const unsigned char *buffer, int count);
// Reads until count bytes are in or the port's time-out expires; the count read.
// Processes no events.
int ComRd(int portNo, unsigned char *buffer, int count);
// Bytes waiting in the input queue, including bytes that arrived while no events were
// processed; nothing is read and nothing waited for. Negative when not open or gone.
int GetInQLen(int portNo);
// Sleeps until bytes come beyond those GetInQLen last reported, or timeoutSeconds pass
// (1 ms at least), so that a poll of the input queue costs nothing while it waits. Reads
// nothing and processes no events. The bytes waiting; negative when not open or gone,
// after sleeping the whole time.
int WaitForInQ(int portNo, double timeoutSeconds);

// --- Callback ---
// Replaces the port's one receive callback. It is called with kComEventReceive once
// notifyCount bytes are waiting (and again while they keep waiting after it returned).
// eventMask 0 with no callback detaches it.
int InstallComCallback(int portNo, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData);
