// The commands of rmx7ctl, each the panel steps its help names.
#pragma once

#include "job.h"
#include "options.h"
#include "output.h"
#include "plant/requests.h"
#include "session.h"

#include <optional>
#include <string>

namespace ctl {

using output::AddCsv;
using output::JsonArray;
using output::JsonObject;
using output::JsonRow;
using output::JsonText;
using output::JsonWords;
using output::NameOf;
using output::Words;
using output::WordTable;

struct Report {
    Outcome outcome;
    JsonObject json;       // the command's own members
    std::string text;      // standard output without --json
    std::string status;    // the status text of the command's result; empty: the last shown
    bool streamed = false; // the JSON object's head is out already (live)
    bool printed  = false; // the whole result is out already, a line's part each (plant)
};

// The members every JSON result begins with: command, port, device.
JsonObject JsonHead(const Options &options);

// Each command either is one job of the panel's line (a LineCommand, run with
// Session::Run), or serves lines of its own without the panel (ports, live, publish), or
// none (audit, plant).
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

// --- Through a line's agent ---
// The command (info, get, diff, send, teach, reset, capture, report) run by the agent of
// --agent mqtt[s]://BROKER/PREFIX/NAME, printed and ended as on a port.
void RunThroughAgent(Session &session, const Options &options, Report &report);

// --- The plant link ---
void RunPublish(Session &session, const Options &options, Report &report);

// --- The audit trail ---
void RunAudit(Session &session, const Options &options, Report &report);
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
void RecordWrite(Session &session, const Options &options, const Write &write);

// --- The plant, from its broker alone ---
// `rmx7ctl plant VERB`, without a panel: it prints its own table or object, and its exit
// code is the highest of the lines'.
void RunPlant(Session &session, const Options &options, Report &report);

// --- The commissioning report ---
job::Task<void> RunReport(Session &session, const Options &options, Report &result);

} // namespace ctl
