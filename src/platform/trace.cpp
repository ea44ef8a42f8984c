// The service trace: TX, RX, STATUS and DIAG lines stamped with the seconds since the process
// started, written to a file or to stderr and flushed line by line.
#include "trace.h"

#include "files/textfile.h"
#include "text.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace {

const auto kProcessStart                 = std::chrono::steady_clock::now();
constexpr char kHexDigits[]              = "0123456789abcdef";
constexpr const char *kStandardErrorPath = "-";

struct TraceState {
    std::FILE *out = nullptr;
    bool ownsFile  = false;
    std::optional<std::pair<int, int>> statusControl; // (panel, control)
    StatusListener statusListener;
};

TraceState trace;

double SecondsSinceStart() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - kProcessStart).count();
}

// Flushed at once: a reader watching the file sees each line as it happens, and a
// crash loses nothing.
void WriteLine(const std::string &body) {
    std::fprintf(trace.out, "%.3f %s\n", SecondsSinceStart(), body.c_str());
    std::fflush(trace.out);
}

std::string HexBytes(const unsigned char *bytes, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += ' ';
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0f];
    }
    return text;
}

} // namespace

bool TraceOpen(const char *path) {
    TraceClose();
    // A trace that outgrows the file-size limit stops growing; the program goes on.
    TreatFileSizeLimitAsError();
    if (std::string(path) == kStandardErrorPath) {
        trace.out = stderr;
        return true;
    }
    trace.out      = std::fopen(path, "w");
    trace.ownsFile = trace.out != nullptr;
    return trace.out != nullptr;
}

void TraceClose() {
    if (trace.ownsFile)
        std::fclose(trace.out);
    trace.out      = nullptr;
    trace.ownsFile = false;
}

bool TraceEnabled() {
    return trace.out != nullptr;
}

void TraceBytes(const char *direction, const unsigned char *bytes, int count) {
    if (!trace.out || !bytes || count <= 0)
        return;
    WriteLine(direction + HexBytes(bytes, count));
}

void TraceStatus(const char *text, bool tell) {
    const std::string printable = PrintableText(text);
    if (tell && trace.statusListener)
        trace.statusListener(printable.c_str());
    if (trace.out)
        WriteLine("STATUS " + printable);
}

void TraceDiagnosis(const char *text) {
    if (trace.out)
        WriteLine("DIAG " + PrintableText(text));
}

void TraceShown(const char *text) {
    if (trace.out)
        WriteLine("SHOWN " + PrintableText(text));
}

void TraceSetStatusControl(int panel, int control) {
    trace.statusControl = std::make_pair(panel, control);
}

void TraceSetStatusListener(StatusListener listener) {
    trace.statusListener = std::move(listener);
}

bool TraceIsStatusControl(int panel, int control) {
    return trace.statusControl == std::make_pair(panel, control);
}
