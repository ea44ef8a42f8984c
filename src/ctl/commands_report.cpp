// The commissioning report.
#include "commands.h"

#include "app.h"
#include "gui.h"
#include "report.h"

namespace ctl {

void RunReport(const Options &options, Report &result) {
    result.json.Add("file", JsonString(options.output));
    result.json.Add("capture", options.capture.empty() ? "null" : JsonString(options.capture));
    result.outcome = PortSetUp(options.com);
    if (result.outcome.ok() && !options.capture.empty()) {
        ChooseSource(options.capture == "raw" ? gui::kSourceRaw : gui::kSourceNorm);
        result.outcome = OutcomeOf(app::CaptureCurve());
    }
    if (!result.outcome.ok())
        return;
    ::report::Request request;
    request.path              = options.output;
    request.operatorName      = options.operatorName;
    request.note              = options.note;
    const ::report::Made made = ::report::MakeReport(request);
    result.outcome            = OutcomeOf(made.outcome);
    if (made.outcome.result == status::Result::FileFailed)
        result.outcome.error = made.fileProblem;
    if (!result.outcome.ok())
        return;
    result.json.Add("ram", JsonWords(made.ram));
    result.json.Add("eeprom", JsonWords(made.eeprom));
    result.json.Add("fingerprint", JsonString(made.fingerprint));
    result.text = "report       " + options.output + "\nfingerprint  " + made.fingerprint + "\n";
}

} // namespace ctl
