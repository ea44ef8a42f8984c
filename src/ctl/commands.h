// The commands of rmx7ctl, each the panel steps its help names.
#pragma once

#include "options.h"
#include "output.h"
#include "session.h"

#include <string>

namespace ctl {

struct Report {
    Outcome outcome;
    JsonObject json;       // the command's own members
    std::string text;      // standard output without --json
    std::string status;    // the status text of the command's result; empty: the last shown
    bool streamed = false; // the JSON object's head is out already (live)
};

// The members every JSON result begins with: command, port, device.
JsonObject JsonHead(const Options &options);

// --- Parameter commands ---
void RunInfo(const Options &options, Report &report);
void RunGet(const Options &options, Report &report);
void RunSend(const Options &options, Report &report);
void RunDiff(const Options &options, Report &report);
void RunTeach(const Options &options, Report &report);
void RunReset(const Options &options, Report &report);

// --- Ports, live values, data curve ---
void RunPorts(const Options &options, Report &report);
void RunLive(const Options &options, Report &report);
void RunCapture(const Options &options, Report &report);

// --- The plant link ---
void RunPublish(const Options &options, Report &report);

// --- The commissioning report ---
void RunReport(const Options &options, Report &result);

} // namespace ctl
