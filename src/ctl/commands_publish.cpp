// rmx7ctl publish: the live values of one line or several to an MQTT broker for as long as
// it runs, each line with its own connection, topics, status and last will.
#include "commands.h"

#include "com232.h"
#include "lines.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/text.h"
#include "publish.h"

#include <cstdio>
#include <memory>

namespace ctl {

namespace {

// A controller that does not answer has its start-up tried again this often.
constexpr double kRetrySeconds = 5.0;
// The first run waits this long at most for the first connection attempt to end, so that a
// broker that is up gets the replies from the first; one that is down costs no wait.
constexpr double kFirstAttemptSeconds = 2.0;
// How often that wait looks.
constexpr double kAttemptLookSeconds = 0.02;

struct PublishedLine {
    ServedLine served;
    std::unique_ptr<publish::Publisher> publisher;
    std::string failure; // the failure told last; empty while the controller answers
    std::string label;   // "NAME: " where there are several, else empty
};

void Tell(const std::string &text) {
    std::fprintf(stderr, "rmx7ctl: %s\n", text.c_str());
}

std::string LineOf(int com) {
    const std::string device = PortDevice(com);
    return "COM" + std::to_string(com) + (device.empty() ? "" : " (" + device + ")");
}

// The lines' agents: each line's start-up and run, its start-up tried again every 5 s while
// its controller does not answer, until Ctrl+C or SIGTERM.
class Agents {
  public:
    explicit Agents(const Options &options) : options_(options) {}

    bool Start(std::vector<ServedLine> served, Report &report) {
        const bool several = served.size() > 1;
        for (ServedLine &line : served) {
            auto agent              = std::make_unique<PublishedLine>();
            agent->label            = several ? line.name + ": " : "";
            const std::string label = agent->label;
            agent->publisher        = std::make_unique<publish::Publisher>(
                *line.line,
                publish::Sinks{.showBrokerState = {},
                                      .tell = [label](const char *text) { Tell(label + text); }});
            std::string error;
            if (!agent->publisher->Start(options_.shared.publisher, line.name, error)) {
                report.outcome = {kExitUsage, error};
                return false;
            }
            agent->served = std::move(line);
            agents_.push_back(std::move(agent));
        }
        return true;
    }

    void Run() {
        running_ = static_cast<int>(agents_.size());
        for (const auto &agent : agents_)
            agent->served.line->Queue(Serve(*agent));
        CallOnInterrupt([this] {
            ending_ = true;
            for (const auto &agent : agents_)
                agent->served.line->RequestStopAfterExchange();
        });
        if (running_ > 0)
            RunUserInterface();
        CallOnInterrupt(nullptr);
    }

    void Stop(Report &report) {
        long long replies = 0, unpublished = 0;
        std::vector<std::string> each;
        for (const auto &agent : agents_) {
            replies += agent->publisher->Replies();
            unpublished += agent->publisher->Unpublished();
            JsonObject entry;
            entry.Add("name", JsonString(agent->publisher->Name()));
            entry.Add("replies", std::to_string(agent->publisher->Replies()));
            entry.Add("unpublished", std::to_string(agent->publisher->Unpublished()));
            each.push_back(entry.Text());
            agent->publisher->Stop();
            CloseCom(agent->served.com);
        }
        report.json.Add("replies", std::to_string(replies));
        report.json.Add("unpublished", std::to_string(unpublished));
        if (agents_.size() > 1)
            report.json.Add("lines", JsonArray(each));
    }

  private:
    // A failure is told once, with what the open's diagnosis found, not at every attempt.
    void TellFailure(PublishedLine &agent, const status::Outcome &outcome) {
        if (outcome.text == agent.failure)
            return;
        agent.failure    = outcome.text;
        std::string text = agent.label + LineOf(agent.served.com) +
                           ": no controller: " + outcome.text + "; its start-up is tried every 5 s";
        if (outcome.result == status::Result::PortFailed && *GetOpenDiagnosis())
            text += "\n" + std::string(GetOpenDiagnosis());
        Tell(text);
    }

    job::Task<void> Serve(PublishedLine &agent) {
        com232::Line &line            = *agent.served.line;
        publish::Publisher &publisher = *agent.publisher;
        const int com                 = agent.served.com;
        for (double tried = -1; !ending_;) {
            if (tried >= 0) {
                co_await line.Pause(tried + kRetrySeconds - Timer());
                CloseCom(com);
            }
            if (ending_)
                break;
            tried = Timer();
            // The status texts of an attempt that fails as the one before say nothing new.
            *agent.served.quiet     = options_.quiet || !agent.failure.empty();
            status::Outcome outcome = co_await line.InitRS232(com);
            *agent.served.quiet     = options_.quiet;
            for (const double until = Timer() + kFirstAttemptSeconds;
                 outcome.ok() && !publisher.BrokerTried() && !ending_ && Timer() < until;)
                co_await line.Pause(kAttemptLookSeconds);
            if (outcome.ok() && !ending_) {
                publisher.NoteOutcome(outcome);
                agent.failure.clear();
                Tell(agent.label + LineOf(com) + ": the controller answers (" +
                     PrintableText(line.Firmware()) + "); publishing its live values");
                outcome = co_await line.RunLive();
            }
            if (ending_)
                break;
            publisher.NoteOutcome(outcome);
            TellFailure(agent, outcome);
        }
        if (--running_ == 0)
            QuitUserInterface(0);
    }

    const Options &options_;
    std::vector<std::unique_ptr<PublishedLine>> agents_;
    bool ending_ = false;
    int running_ = 0;
};

} // namespace

void RunPublish(Session &, const Options &options, Report &report) {
    Agents agents(options);
    if (!agents.Start(ServeLines(options), report))
        return;
    if (const std::string warning = publish::PasswordWarning(options.shared.publisher);
        !warning.empty())
        Tell("warning: " + warning);
    agents.Run();
    agents.Stop(report);
}

} // namespace ctl
