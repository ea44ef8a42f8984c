// rmx7ctl: the controller from the command line. The program's own panel, loaded without a
// window, does every step; this entry reads the command line and prints the result.
#include "commands.h"

#include "app.h"
#include "com232.h"
#include "platform/serial/ports.h"
#include "program.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iterator>

namespace ctl {

namespace {

struct Entry {
    const char *name;
    LineCommand onLine; // a job of the panel's line
    PlainCommand plain; // or a command of lines of its own
};

constexpr Entry kRunners[] = {
    {"ports", nullptr, RunPorts},     {"info", RunInfo, nullptr},
    {"get", RunGet, nullptr},         {"send", RunSend, nullptr},
    {"diff", RunDiff, nullptr},       {"teach", RunTeach, nullptr},
    {"reset", RunReset, nullptr},     {"live", nullptr, RunLive},
    {"capture", RunCapture, nullptr}, {"report", RunReport, nullptr},
    {"publish", nullptr, RunPublish}, {"audit", nullptr, RunAudit},
    {"plant", nullptr, RunPlant},
};

// Asked for anywhere on the command line, also where it could not be read to the end.
bool JsonAsked(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--json")
            return true;
    return false;
}

// The name of a result as result_code: the one a plant's response gives the same result, so
// that a script reads one name from both.
const char *ResultCodeName(status::Result result) {
    return plant::ResultCodeName(plant::ResultCodeOf(result));
}

int UsageError(const std::string &error, const Options &options, bool json) {
    std::fprintf(stderr, "rmx7ctl: %s\nTry 'rmx7ctl --help'.\n", error.c_str());
    if (json) {
        JsonObject object;
        object.Add("command", options.command.empty() ? "null" : JsonString(options.command));
        object.Add("exit_code", std::to_string(kExitUsage));
        object.Add("result_code", JsonString(ResultCodeName(status::Result::Refused)));
        object.Add("status", "null");
        object.Add("error", JsonString(error));
        std::printf("%s\n", object.Text().c_str());
    }
    return kExitUsage;
}

void Print(const Options &options, const Report &report, const std::string &lastStatus) {
    if (report.printed)
        return;
    const Outcome &outcome = report.outcome;
    if (options.json) {
        JsonObject tail;
        tail.Add("exit_code", std::to_string(outcome.exitCode));
        tail.Add("result_code", JsonString(ResultCodeName(outcome.result)));
        tail.Add("status", JsonString(report.status.empty() ? lastStatus : report.status));
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
    Session session;
    const Entry *entry = std::find_if(std::begin(kRunners), std::end(kRunners),
                                      [&](const Entry &e) { return options.command == e.name; });
    // The lines of live and publish, the audit trail, the plant's broker and a line's agent
    // need no panel: none is loaded, less memory and time.
    const bool throughAgent = !options.agent.empty();
    if (const std::string error = session.Start(options, entry->onLine && !throughAgent);
        !error.empty()) {
        std::fprintf(stderr, "rmx7ctl: %s\n", error.c_str());
        return kExitFailure;
    }
    if (throughAgent)
        RunThroughAgent(session, options, report);
    else if (entry->onLine)
        session.Run(entry->onLine(session, options, report));
    else
        entry->plain(session, options, report);
    Print(options, report, session.LastStatus());
    session.Stop();
    return report.outcome.exitCode;
}

} // namespace ctl

int main(int argc, char **argv) {
    return ctl::Main(argc, argv);
}
