// The commissioning report.
#include "commands.h"

#include "app.h"
#include "gui.h"
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
    request.capture           = program.Exports().LastCapture();
    request.captureTime       = program.Exports().LastCaptureTime();
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
