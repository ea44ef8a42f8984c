// The commands of rmx7ctl, each the panel steps its help names.
#pragma once

#include "options.h"
#include "output.h"
#include "plant/requests.h"
#include "session.h"

#include <optional>
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

// --- The audit trail ---
void RunAudit(const Options &options, Report &report);
// A write this run made to the controller, as its audit record tells it.
struct Write {
    const char *verb;              // send, teach, reset
    const char *target;            // ram or eeprom
    Words words;                   // what the request carried
    std::optional<Words> replaced; // the words they replaced, where the run had read them
    plant::ResultCode result;      // how the command ended
};
// Appends the record of write to the data folder's audit trail, after the write's
// exchanges. A trail that cannot be written is said on standard error, with the record.
void RecordWrite(const Options &options, const Write &write);

// --- The commissioning report ---
void RunReport(const Options &options, Report &result);

} // namespace ctl
