// The service trace: one line per event, flushed at once, for service work and for
// checking the program from outside.
//
//   <seconds since start, 3 decimals> TX <bytes as two-digit lower-case hex>
//   <seconds since start, 3 decimals> RX <bytes>
//   <seconds since start, 3 decimals> STATUS <text>
//   <seconds since start, 3 decimals> DIAG <text>
//   <seconds since start, 3 decimals> SHOWN <text>
//
// TX is written for every write to a port, RX for every read that returned bytes,
// STATUS for every text written to the status line, DIAG for the cause of every port
// open that failed, SHOWN for what a window drew that a check from outside times (the plant
// window: a row's line, the sequence number and time of the live message it shows, and the
// Unix time it was drawn). Texts go out in their printable form (text.h): a controller's or a
// server's words can neither forge a line nor act on a terminal that shows the trace.
#pragma once

#include <functional>

// Starts tracing to path ("-" for stderr). False when the file cannot be opened.
bool TraceOpen(const char *path);
void TraceClose();
bool TraceEnabled();
// direction is "TX" or "RX".
void TraceBytes(const char *direction, const unsigned char *bytes, int count);
// tell false: the trace only, not the listener below.
void TraceStatus(const char *text, bool tell = true);
void TraceDiagnosis(const char *text);
void TraceShown(const char *text);
// Texts written to this control by SetCtrlVal are traced as STATUS lines.
void TraceSetStatusControl(int panel, int control);
// Also hands every text written to that control to listener, in its printable form, traced
// or not (nullptr: none). A program whose panel is never shown reads its status line this
// way.
using StatusListener = std::function<void(const char *text)>;
void TraceSetStatusListener(StatusListener listener);
bool TraceIsStatusControl(int panel, int control);
