// The commands of rmx7ctl, each the panel steps its help names.
#pragma once

#include "job.h"
#include "options.h"
#include "output.h"
#include "session.h"

#include <string>

namespace ctl {

struct Report {
    Outcome outcome;
    JsonObject json;       // the command's own members
    std::string text;      // standard output without --json
    bool streamed = false; // the JSON object's head is out already (live)
};

// The members every JSON result begins with: command, port, device.
JsonObject JsonHead(const Options &options);

// Each command either is one job of the panel's line (a LineCommand, run with
// Session::Run), or serves lines of its own without the panel (ports, live, publish).
using LineCommand  = job::Task<void> (*)(Session &, const Options &, Report &);
using PlainCommand = void (*)(Session &, const Options &, Report &);

// --- Parameter commands ---
job::Task<void> RunInfo(Session &session, const Options &options, Report &report);
job::Task<void> RunGet(Session &session, const Options &options, Report &report);
job::Task<void> RunSend(Session &session, const Options &options, Report &report);
job::Task<void> RunDiff(Session &session, const Options &options, Report &report);
job::Task<void> RunTeach(Session &session, const Options &options, Report &report);
job::Task<void> RunReset(Session &session, const Options &options, Report &report);

// --- Ports, live values, data curve ---
void RunPorts(Session &session, const Options &options, Report &report);
void RunLive(Session &session, const Options &options, Report &report);
job::Task<void> RunCapture(Session &session, const Options &options, Report &report);

// --- The plant link ---
void RunPublish(Session &session, const Options &options, Report &report);

// --- The commissioning report ---
job::Task<void> RunReport(Session &session, const Options &options, Report &result);

} // namespace ctl
