// rmx7ctl: the controller from the command line. The program's own panel, loaded without a
// window, does every step; this entry reads the command line and prints the result.
#include "commands.h"

#include "app.h"
#include "com232.h"
#include "platform/serial/ports.h"
#include "program.h"

#include <csignal>
#include <cstdio>

namespace ctl {

namespace {

using Runner = void (*)(const Options &, Report &);

struct Entry {
    const char *name;
    Runner run;
};

constexpr Entry kRunners[] = {
    {"ports", RunPorts},     {"info", RunInfo},     {"get", RunGet},         {"send", RunSend},
    {"diff", RunDiff},       {"teach", RunTeach},   {"reset", RunReset},     {"live", RunLive},
    {"capture", RunCapture}, {"report", RunReport}, {"publish", RunPublish},
};

// Asked for anywhere on the command line, also where it could not be read to the end.
bool JsonAsked(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--json")
            return true;
    return false;
}

int UsageError(const std::string &error, const Options &options, bool json) {
    std::fprintf(stderr, "rmx7ctl: %s\nTry 'rmx7ctl --help'.\n", error.c_str());
    if (json) {
        JsonObject object;
        object.Add("command", options.command.empty() ? "null" : JsonString(options.command));
        object.Add("exit_code", std::to_string(kExitUsage));
        object.Add("result_code", JsonString(status::ResultName(status::Result::Refused)));
        object.Add("status", "null");
        object.Add("error", JsonString(error));
        std::printf("%s\n", object.Text().c_str());
    }
    return kExitUsage;
}

void Print(const Options &options, const Report &report) {
    const Outcome &outcome = report.outcome;
    if (options.json) {
        JsonObject tail;
        tail.Add("exit_code", std::to_string(outcome.exitCode));
        tail.Add("result_code", JsonString(status::ResultName(outcome.result)));
        tail.Add("status", JsonString(report.status.empty() ? LastStatus() : report.status));
        tail.Add("error", outcome.ok() ? "null" : JsonString(outcome.error));
        const std::string members = report.json.Members();
        if (report.streamed)
            std::printf("%s%s, %s}\n", members.empty() ? "" : ", ", members.c_str(),
                        tail.Members().c_str());
        else
            std::printf("{%s, %s%s%s}\n", JsonHead(options).Members().c_str(), members.c_str(),
                        members.empty() ? "" : ", ", tail.Members().c_str());
    } else {
        std::fputs(report.text.c_str(), stdout);
    }
    std::fflush(stdout);
    if (!outcome.ok())
        std::fprintf(stderr, "rmx7ctl: %s\n", outcome.error.c_str());
}

} // namespace

JsonObject JsonHead(const Options &options) {
    JsonObject head;
    head.Add("command", JsonString(options.command));
    head.Add("port", std::to_string(options.com));
    head.Add("device", JsonString(PortDevice(options.com)));
    return head;
}

int Main(int argc, char **argv) {
    // A reader that goes away shows as a failed write, which ends a live run cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    const Options options = ParseOptions(argc, argv);
    const bool json       = JsonAsked(argc, argv);
    if (!options.error.empty())
        return UsageError(options.error, options, json);
    if (options.shared.version) {
        std::printf("rmx7ctl (%s) %s\n", program::kName, program::kVersion);
        return kExitOk;
    }
    const Command *command = FindCommand(options.command);
    if (options.shared.help) {
        std::fputs(command ? CommandHelp(*command).c_str() : UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (options.command.empty())
        return UsageError("no command given", options, json);
    if (!command)
        return UsageError("no command is called '" + options.command + "'", options, json);
    if (const std::string error = CheckCommandLine(*command, options); !error.empty())
        return UsageError(error, options, json);

    Report report;
    if (const std::string error = StartPanel(options); !error.empty()) {
        std::fprintf(stderr, "rmx7ctl: %s\n", error.c_str());
        StopPanel();
        return kExitFailure;
    }
    for (const Entry &entry : kRunners)
        if (options.command == entry.name)
            entry.run(options, report);
    Print(options, report);
    StopPanel();
    return report.outcome.exitCode;
}

} // namespace ctl

int main(int argc, char **argv) {
    return ctl::Main(argc, argv);
}
