// The commissioning report.
#include "commands.h"

#include "app.h"
#include "gui.h"
#include "report.h"

#include <filesystem>

namespace ctl {

void RunReport(const Options &options, Report &result) {
    result.json.Add("file", JsonString(options.output));
    result.json.Add("capture", options.capture.empty() ? "null" : JsonString(options.capture));
    result.json.Add("unit_id", JsonString(options.unitId));
    result.json.Add("station", JsonString(options.station));
    // Before the start-up and both reads, which a folder that takes no file makes in vain.
    if (const std::string problem = ::report::FolderProblem(options.output); !problem.empty()) {
        result.outcome = {status::Result::FileFailed,
                          options.output + " cannot be written: " + problem};
        return;
    }
    std::error_code error;
    const bool older = std::filesystem::exists(options.output, error);
    result.outcome   = PortSetUp(options.com);
    if (result.outcome.ok() && !options.capture.empty()) {
        ChooseSource(options.capture == "raw" ? gui::kSourceRaw : gui::kSourceNorm);
        result.outcome = OutcomeOf(app::CaptureCurve());
    }
    if (!result.outcome.ok())
        return;
    ::report::Request request;
    request.path              = options.output;
    request.operatorName      = options.operatorName;
    request.unitId            = options.unitId;
    request.station           = options.station;
    request.note              = options.note;
    const ::report::Made made = ::report::MakeReport(request);
    result.outcome            = OutcomeOf(made.outcome);
    if (made.outcome.result == status::Result::FileFailed)
        result.outcome.error = made.fileProblem;
    if (!result.outcome.ok())
        return;
    // As other tools replace a file they are told to write, and say so.
    if (older)
        Note("replaced the older " + options.output);
    result.json.Add("replaced", older ? "true" : "false");
    result.json.Add("ram", JsonWords(made.ram));
    result.json.Add("eeprom", JsonWords(made.eeprom));
    result.json.Add("fingerprint", JsonString(made.fingerprint));
    result.text = "report       " + options.output + "\nfingerprint  " + made.fingerprint + "\n";
}

} // namespace ctl
