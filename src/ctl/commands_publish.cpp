// rmx7ctl publish: the line's live values to an MQTT broker for as long as it runs.
#include "commands.h"

#include "app.h"
#include "com232.h"
#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "publish.h"

#include <cstdio>

namespace ctl {

namespace {

// A controller that does not answer has its start-up tried again this often.
constexpr double kRetrySeconds = 5.0;
// The first run waits this long at most for the first connection attempt to end, so that a
// broker that is up gets the replies from the first; one that is down costs no wait.
constexpr double kFirstAttemptSeconds = 2.0;

struct PublishState {
    bool ending = false;
    std::string failure; // the failure told last; empty while the controller answers
};

PublishState state;

void OnInterrupt() {
    state.ending = true;
    if (app::RunGoing())
        app::StopRun();
}

void Tell(const char *text) {
    std::fprintf(stderr, "rmx7ctl: %s\n", text);
}

// Processes events until the clock reaches until, or Ctrl+C or SIGTERM came.
void WaitUntil(double until) {
    while (!state.ending && Timer() < until)
        ProcessSystemEvents();
}

std::string LineOf(int com) {
    const std::string device = PortDevice(com);
    return "COM" + std::to_string(com) + (device.empty() ? "" : " (" + device + ")");
}

// A failure is told once, with what the open's diagnosis found, not at every attempt.
void TellFailure(int com, const status::Outcome &outcome) {
    if (outcome.text == state.failure)
        return;
    state.failure = outcome.text;
    std::string text =
        LineOf(com) + ": no controller: " + outcome.text + "; its start-up is " + "tried every 5 s";
    if (outcome.result == status::Result::PortFailed && *GetOpenDiagnosis())
        text += "\n" + std::string(GetOpenDiagnosis());
    Tell(text.c_str());
}

} // namespace

void RunPublish(const Options &options, Report &report) {
    const int com = options.com;
    std::string error;
    publish::TellBrokerChanges(Tell);
    if (!publish::Start(options.shared.publisher, com, error)) {
        report.outcome = {status::Result::Refused, error};
        return;
    }
    if (const std::string warning = publish::PasswordWarning(options.shared.publisher);
        !warning.empty())
        Tell(("warning: " + warning).c_str());
    state = PublishState{};
    // The publisher tries the port again by itself: no advice to run the command again.
    SetDiagnosisForProgram(kDiagnosisService);
    app::AddLiveListener(publish::PublishReply);
    CallOnInterrupt(OnInterrupt);
    for (double tried = -1; !state.ending;) {
        if (tried >= 0) {
            WaitUntil(tried + kRetrySeconds);
            CloseCom(com);
        }
        if (state.ending)
            break;
        tried = Timer();
        // The status texts of an attempt that fails as the one before say nothing new.
        SetQuiet(options.quiet || !state.failure.empty());
        com232::SelectPort(com);
        status::Outcome outcome = com232::InitRS232(com);
        SetQuiet(options.quiet);
        for (const double until = Timer() + kFirstAttemptSeconds;
             outcome.ok() && !publish::BrokerTried() && !state.ending && Timer() < until;)
            ProcessSystemEvents();
        if (outcome.ok() && !state.ending) {
            publish::NoteOutcome(outcome);
            state.failure.clear();
            Tell((LineOf(com) + ": the controller answers (" + com232::Firmware() +
                  "); publishing its live values")
                     .c_str());
            outcome = app::RunLive();
        }
        if (state.ending)
            break;
        publish::NoteOutcome(outcome);
        TellFailure(com, outcome);
    }
    CallOnInterrupt(nullptr);
    app::RemoveLiveListener(publish::PublishReply);
    report.json.Add("replies", std::to_string(publish::Replies()));
    report.json.Add("unpublished", std::to_string(publish::Unpublished()));
    publish::Stop();
    publish::TellBrokerChanges(nullptr);
}

} // namespace ctl
