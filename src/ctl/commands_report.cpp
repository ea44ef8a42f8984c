// The commissioning report.
#include "commands.h"

#include "app.h"
#include "gui.h"
#include "report.h"

namespace ctl {

job::Task<void> RunReport(Session &session, const Options &options, Report &result) {
    result.json.Add("file", JsonString(options.output));
    result.json.Add("capture", options.capture.empty() ? "null" : JsonString(options.capture));
    result.outcome = co_await session.PortSetUp(options.com);
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
    result.json.Add("ram", JsonWords(made.ram));
    result.json.Add("eeprom", JsonWords(made.eeprom));
    result.json.Add("fingerprint", JsonString(made.fingerprint));
    result.text = "report       " + options.output + "\nfingerprint  " + made.fingerprint + "\n";
}

} // namespace ctl
