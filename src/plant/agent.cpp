// The agent of one line.
#include "plant/agent.h"

#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/text.h"

#include <utility>

namespace plant {

namespace {

// A controller that does not answer has its start-up tried again this often.
constexpr double kRetrySeconds = 5.0;
// The first run waits this long at most for the first connection attempt to end, so that a
// broker that is up gets the replies from the first; one that is down costs no wait.
constexpr double kFirstAttemptSeconds = 2.0;
// How often that wait looks.
constexpr double kAttemptLookSeconds = 0.02;
// Where a report's PDF is made before it goes out, in the state directory.
constexpr const char *kReportFolder = "reports";

std::string LineOf(int com) {
    const std::string device = PortDevice(com);
    return "COM" + std::to_string(com) + (device.empty() ? "" : " (" + device + ")");
}

const char *CommandsName(Commands commands) {
    return commands == Commands::Write ? "write" : commands == Commands::Read ? "read" : "off";
}

// The operator a request names: its own member, else the MQTT 5 user property.
std::string OperatorOf(const Request &request, const mqtt::Message &message) {
    if (!request.operatorName.empty())
        return request.operatorName;
    for (const auto &[key, value] : message.userProperties)
        if (key == "operator")
            return value;
    return {};
}

} // namespace

Agent::Agent(com232::Line &line, AgentSettings settings,
             std::function<void(const std::string &)> tell, std::shared_ptr<bool> quietStatus)
    : line_(line), settings_(std::move(settings)), tell_(std::move(tell)),
      quietStatus_(std::move(quietStatus)),
      publisher_(line, publish::Sinks{
                           .showBrokerState = {},
                           .tell            = [this](const char *text) { Tell(text); },
                           .command  = [this](const mqtt::Message &message) { OnCommand(message); },
                           .conflict = {}}),
      server_(
          settings_.server, settings_.stateDir, settings_.name, publisher_.Me().instance,
          ServerHooks{
              .parameters = [this](const std::string &json) { publisher_.PublishParameters(json); },
              .event      = [this](const std::string &json) { publisher_.PublishEvent(json); },
              .wrote      = [this](audit::Record record) { Record(std::move(record)); },
              .refusal    = [this](const std::string &text) { publisher_.Remark(text); },
          }),
      trail_(FileIn(settings_.stateDir, kAuditFile),
             AuditHooks{
                 .appended = [this](const std::string &json) { publisher_.PublishAudit(json); },
                 .tell     = [this](const std::string &text) { Tell(text); },
             }),
      verbs_(line, server_,
             VerbsSetting{settings_.name, FileIn(settings_.stateDir, kReportFolder),
                          FileIn(settings_.stateDir, kAuditFile),
                          [this](audit::Record record) { Record(std::move(record)); }}) {}

Agent::~Agent() {
    Stop();
}

void Agent::Tell(const std::string &text) const {
    if (tell_)
        tell_(text);
}

bool Agent::Start(std::string &error) {
    if (!server_.Load(error))
        return false;
    const publish::Offer offer{CommandsName(settings_.commands), ModeName(settings_.server)};
    return publisher_.Start(settings_.publisher, settings_.name, error, offer);
}

void Agent::End() {
    ending_ = true;
    line_.RequestStopAfterExchange();
}

void Agent::Stop() {
    publisher_.Stop();
    trail_.Flush();
}

// The line's audit record: the line's own members beside what the writer knew.
void Agent::Record(audit::Record record) {
    record.line     = settings_.name;
    record.port     = line_.Port();
    record.device   = PortDevice(line_.Port());
    record.firmware = line_.Firmware();
    trail_.Note(std::move(record));
}

// A failure is told once, with what the open's diagnosis found, not at every attempt.
void Agent::TellFailure(const status::Outcome &outcome) {
    if (outcome.text == failure_)
        return;
    failure_         = outcome.text;
    std::string text = LineOf(line_.Port()) + ": no controller: " + outcome.text +
                       "; its start-up is tried every 5 s";
    if (outcome.result == status::Result::PortFailed && *GetOpenDiagnosis())
        text += "\n" + std::string(GetOpenDiagnosis());
    Tell(text);
}

job::Task<void> Agent::Serve() {
    const int com = line_.Port();
    for (double tried = -1; !ending_;) {
        if (tried >= 0) {
            co_await line_.PauseTakingTurns(tried + kRetrySeconds - Timer());
            CloseCom(com);
        }
        if (ending_)
            break;
        tried = Timer();
        // The status texts of an attempt that fails as the one before say nothing new.
        *quietStatus_           = settings_.quiet || !failure_.empty();
        status::Outcome outcome = co_await line_.InitRS232(com);
        *quietStatus_           = settings_.quiet;
        for (const double until = Timer() + kFirstAttemptSeconds;
             outcome.ok() && !publisher_.BrokerTried() && !ending_ && Timer() < until;)
            co_await line_.Pause(kAttemptLookSeconds);
        if (outcome.ok() && !ending_) {
            publisher_.NoteOutcome(outcome);
            failure_.clear();
            Tell(LineOf(com) + ": the controller answers (" + PrintableText(line_.Firmware()) +
                 "); publishing its live values");
            // A name another agent keeps is not this one's to restore.
            if (!publisher_.Yielded())
                co_await server_.AtStartUp(line_);
            if (!ending_)
                outcome = co_await line_.RunLive();
        }
        if (ending_)
            break;
        publisher_.NoteOutcome(outcome);
        TellFailure(outcome);
    }
}

void Agent::OnCommand(const mqtt::Message &message) {
    const std::string verb = message.topic.substr(publisher_.CommandTopic().size());
    Checked checked        = CheckRequest(verb, message.payload, settings_.commands);
    const std::string respondTo =
        message.responseTopic.empty() ? checked.request.replyTo : message.responseTopic;
    if (checked.ok() && commands_ > kMaxWaiting)
        checked.refusal =
            Refusal{ResultCode::Busy, std::to_string(kMaxWaiting) + " commands wait on " +
                                          settings_.name + " already; try again later"};
    if (!checked.ok()) {
        Respond(respondTo, RefusalResponse(checked, settings_.name), message.correlationData,
                message.qos);
        return;
    }
    checked.request.operatorName = OperatorOf(checked.request, message);
    ++commands_;
    line_.Queue(
        RunCommand(std::move(checked.request), respondTo, message.correlationData, message.qos));
}

job::Task<void> Agent::RunCommand(Request request, std::string respondTo, std::string correlation,
                                  int qos) {
    Answer answer = co_await verbs_.Run(request);
    --commands_;
    output::JsonObject head;
    head.Add("command", JsonString(request.verbName));
    head.Add("port", std::to_string(line_.Port()));
    head.Add("device", JsonString(PortDevice(line_.Port())));
    const std::string members = answer.members.Members();
    Response response;
    response.line            = settings_.name;
    response.idJson          = request.idJson;
    response.code            = answer.code;
    response.status          = line_.LastShown();
    response.error           = answer.error;
    const std::string beyond = answer.beyond.Members();
    Respond(respondTo,
            "{" + head.Members() + (members.empty() ? "" : ", " + members) + ", " +
                ResponseMembers(response) + (beyond.empty() ? "" : ", " + beyond) + "}",
            correlation, qos);
}

void Agent::Respond(const std::string &topic, const std::string &payload,
                    const std::string &correlation, int qos) {
    if (topic.empty()) {
        Tell("a command came without a response topic; its answer goes nowhere");
        return;
    }
    publisher_.Respond(topic, payload, correlation, qos);
}

} // namespace plant
