// The commissioning report.
#include "commands.h"

#include "app.h"
#include "gui.h"
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "publish.h"
#include "report.h"

#include <filesystem>

namespace ctl {

job::Task<void> RunReport(Session &session, const Options &options, Report &result) {
    result.json.Add("file", JsonString(options.output));
    result.json.Add("capture", options.capture.empty() ? "null" : JsonString(options.capture));
    result.json.Add("unit_id", JsonString(options.unitId));
    result.json.Add("station", JsonString(options.station));
    // Before the start-up and both reads, which a folder that takes no file makes in vain.
    if (const std::string problem = ::report::FolderProblem(options.output); !problem.empty()) {
        result.outcome = {status::Result::FileFailed,
                          options.output + " cannot be written: " + problem};
        co_return;
    }
    std::error_code error;
    const bool older = std::filesystem::exists(options.output, error);
    result.outcome   = co_await session.PortSetUp(options.com);
    if (result.outcome.ok() && !options.capture.empty()) {
        session.ChooseSource(options.capture == "raw" ? com232::GraphSource::Raw
                                                      : com232::GraphSource::Norm);
        result.outcome = OutcomeOf(co_await session.Program().CaptureCurve());
    }
    if (!result.outcome.ok())
        co_return;
    app::Program &program = session.Program();
    ::report::Request request;
    request.path         = options.output;
    request.operatorName = options.operatorName;
    request.unitId       = options.unitId;
    request.station      = options.station;
    request.note         = options.note;
    for (int word = 0; word < com232::PNUM; ++word)
        request.panel.push_back(program.Panel().PanelWordOf(word));
    request.capture     = program.Exports().LastCapture();
    request.captureTime = program.Exports().LastCaptureTime();
    // The line's newest audit records: those of its name in the data folder's trail, or all
    // of the trail in a line's state directory, whose approved set then stands beside them.
    const bool state = !options.state.empty();
    request.audit    = {
           true,
           audit::LastRecords(
               plant::FileIn(state ? options.state : program.Panel().ProjectDir(), plant::kAuditFile),
            state ? "" : publish::LineName(options.shared.publisher, options.com),
               ::report::kAuditRecords)};
    if (!options.state.empty()) {
        std::optional<plant::ApprovedSet> approved;
        std::string error;
        if (!plant::ReadApprovedSet(plant::FileIn(options.state, plant::kApprovedSetFile), approved,
                                    error)) {
            result.outcome = {status::Result::FileFailed, error};
            co_return;
        }
        request.approved.shown = true;
        if (approved) {
            request.approved.words = approved->words;
            request.approved.note  = plant::Described(*approved);
        }
    }
    const ::report::Made made = co_await ::report::MakeReport(session.Line(), std::move(request));
    result.outcome            = OutcomeOf(made.outcome);
    if (made.outcome.result == status::Result::FileFailed)
        result.outcome.error = made.fileProblem;
    if (!result.outcome.ok())
        co_return;
    // As other tools replace a file they are told to write, and say so.
    if (older)
        session.Note("replaced the older " + options.output);
    result.json.Add("replaced", older ? "true" : "false");
    result.json.Add("ram", JsonWords(made.ram));
    result.json.Add("eeprom", JsonWords(made.eeprom));
    result.json.Add("fingerprint", JsonString(made.fingerprint));
    result.text = "report       " + options.output + "\nfingerprint  " + made.fingerprint + "\n";
}

} // namespace ctl
