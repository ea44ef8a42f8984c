// rmx7sim: the simulated controller on a pseudo-terminal, for running the program without
// the device. Prints the pty path first, serves until SIGINT or SIGTERM.
#include "files/textfile.h"
#include "program.h"
#include "pty_host.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExitOk         = 0;
constexpr int kExitFailure    = 1;
constexpr int kExitBadOptions = 2;

constexpr const char *kUsage =
    "usage: rmx7sim [--variant 100|0] [--no-pacing] [--latency MS[:JITTER]] [--drop P]\n"
    "               [--truncate P] [--garbage P] [--silent] [--eeprom FILE] [--ack-writes]\n"
    "               [--seed N] [--log FILE] [--help] [--version]\n"
    "Serves a simulated RMX7 controller on a pseudo-terminal and prints its path.\n"
    "  --variant 100|0        board variant (default 100)\n"
    "  --no-pacing            write replies at once instead of at 19200 baud\n"
    "  --latency MS[:JITTER]  extra delay before each reply, varying by up to JITTER ms\n"
    "  --drop P               leave a reply out with probability P\n"
    "  --truncate P           cut a reply short with probability P\n"
    "  --garbage P            add random bytes before or after a reply with probability P\n"
    "  --silent               never reply\n"
    "  --eeprom FILE          keep the EEPROM parameter set in FILE across runs\n"
    "  --ack-writes           answer the RAM and EEPROM writes with a frame\n"
    "  --seed N               seed of the signal noise and of the faults (default 1)\n"
    "  --log FILE             write every exchange's line times to FILE on exit\n"
    "  --help                 show this text and exit\n"
    "  --version              show the version and exit\n"
    "Exit codes: 0 stopped by a signal, 1 no pseudo-terminal, or the EEPROM file or the log\n"
    "cannot be written, 2 wrong command line.\n";

struct Options {
    sim::HostOptions host;
    std::string logPath;
    bool help    = false;
    bool version = false;
    std::string error;
};

std::optional<double> ParseNumber(std::string_view text) {
    double value            = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<double> ParseProbability(std::string_view text) {
    const std::optional<double> value = ParseNumber(text);
    if (!value || *value > 1)
        return std::nullopt;
    return value;
}

bool ParseLatency(std::string_view text, sim::HostOptions &host) {
    const std::size_t colon             = text.find(':');
    const std::optional<double> latency = ParseNumber(text.substr(0, colon));
    const std::optional<double> jitter =
        colon == std::string_view::npos ? 0.0 : ParseNumber(text.substr(colon + 1));
    if (!latency || !jitter)
        return false;
    host.latencyMs = *latency;
    host.jitterMs  = *jitter;
    return true;
}

bool ParseSeed(std::string_view text, std::uint64_t &seed) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

double *ProbabilityOption(std::string_view name, sim::HostOptions &host) {
    if (name == "--drop")
        return &host.dropProbability;
    if (name == "--truncate")
        return &host.truncateProbability;
    if (name == "--garbage")
        return &host.garbageProbability;
    return nullptr;
}

// Applies an option that takes a value; false when the value is bad.
bool ApplyValueOption(std::string_view name, std::string_view value, Options &options) {
    sim::HostOptions &host = options.host;
    if (name == "--variant") {
        if (value != "100" && value != "0")
            return false;
        host.variant = value == "0" ? sim::kVariant0 : sim::kVariant100;
        return true;
    }
    if (name == "--latency")
        return ParseLatency(value, host);
    if (name == "--seed")
        return ParseSeed(value, host.seed);
    if (name == "--eeprom")
        host.eepromPath = value;
    else if (name == "--log")
        options.logPath = value;
    else if (double *probability = ProbabilityOption(name, host)) {
        const std::optional<double> parsed = ParseProbability(value);
        if (parsed)
            *probability = *parsed;
        return parsed.has_value();
    }
    return !value.empty();
}

bool TakesValue(std::string_view name) {
    for (std::string_view option : {"--variant", "--latency", "--drop", "--truncate", "--garbage",
                                    "--eeprom", "--seed", "--log"})
        if (name == option)
            return true;
    return false;
}

Options ParseCommandLine(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc && options.error.empty(); ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help")
            options.help = true;
        else if (arg == "--version")
            options.version = true;
        else if (arg == "--no-pacing")
            options.host.pacing = false;
        else if (arg == "--silent")
            options.host.silent = true;
        else if (arg == "--ack-writes")
            options.host.ackWrites = true;
        else if (!TakesValue(arg))
            options.error = "unknown option " + std::string(arg);
        else if (i + 1 >= argc)
            options.error = std::string(arg) + " needs a value";
        else if (!ApplyValueOption(arg, argv[i + 1], options))
            options.error = "bad value for " + std::string(arg) + ": " + argv[i + 1];
        else
            ++i;
    }
    options.host.logExchanges = !options.logPath.empty();
    return options;
}

// Why the EEPROM cannot be kept in path, or nothing: the model writes a file beside it and
// renames that over it, so its folder must take new files.
std::optional<std::string> EepromProblem(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return std::string("it is a folder");
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0)
        return std::string(std::strerror(errno));
    return std::nullopt;
}

bool WriteLog(const std::string &path, const std::vector<sim::Exchange> &log) {
    std::string text;
    char line[160];
    for (const sim::Exchange &e : log) {
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f %.6f %d %d\n", e.requestFirst,
                      e.requestLast, e.replyFirst, e.replyLast, e.code, e.replyLength);
        text += line;
    }
    return ReplaceTextFile(path.c_str(), text) == 0;
}

} // namespace

int main(int argc, char **argv) {
    const Options options = ParseCommandLine(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "rmx7sim: %s (see --help)\n", options.error.c_str());
        return kExitBadOptions;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("rmx7sim (%s) %s\n", program::kName, program::kVersion);
        return kExitOk;
    }
    // Refused now rather than losing every EEPROM write of the run without a word.
    if (!options.host.eepromPath.empty()) {
        if (const std::optional<std::string> problem = EepromProblem(options.host.eepromPath)) {
            std::fprintf(stderr, "rmx7sim: cannot keep the EEPROM in %s: %s\n",
                         options.host.eepromPath.c_str(), problem->c_str());
            return kExitFailure;
        }
    }

    // Blocked before the host thread starts, so only sigwait below ever takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::PtyHost host;
    if (!host.Start(options.host)) {
        std::fprintf(stderr, "rmx7sim: cannot open a pseudo-terminal\n");
        return kExitFailure;
    }
    std::printf("%s\n", host.SlavePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    host.Stop();
    if (!options.logPath.empty() && !WriteLog(options.logPath, host.Log())) {
        std::fprintf(stderr, "rmx7sim: cannot write the log to %s\n", options.logPath.c_str());
        return kExitFailure;
    }
    return kExitOk;
}
