// Commands to the lines' agents: each request goes to PREFIX/NAME/cmd/VERB with MQTT 5's
// response topic and correlation data, and gets 5 s for its answer; what came of it is one
// result per line, with the exit code rmx7ctl would give. Pure: the caller publishes what
// Prepare gives and hands in what arrives on the response topic and the clock, so the
// rules are tested without a broker.
#pragma once

#include "plant/requests.h"
#include "platform/json/json.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plant {

// How long a line has to answer a command.
constexpr double kAnswerSeconds = 5.0;
// A command as it goes out to a line's agent.
struct OutgoingRequest {
    std::string line, verb;
    std::string topic;       // PREFIX/NAME/cmd/VERB
    std::string payload;     // a JSON object
    std::string correlation; // the correlation data, unique to this request
};

// What came of a command on one line.
struct LineResult {
    std::string line, verb;
    bool answered    = false;
    bool wentOffline = false; // the line went offline while its answer was awaited
    int exitCode     = 4;     // rmx7ctl's exit codes
    std::string resultCode;   // the agent's name of its result ("Ok", "Refused", ...)
    std::string status;       // the status text the agent's step showed last
    std::string error;        // what went wrong, in words; empty when it went well
    json::Value response;     // the whole answer: a report's "pdf" and "sha256", a diff's words

    bool ok() const { return exitCode == 0; }
    // In words: "ok (Data Transfer Ok!)", the error, "no answer within 5 s", ...
    std::string Text() const;
};

// A command that ended without an answer, with the exit code and why.
LineResult Unanswered(const std::string &line, const std::string &verb, int exitCode,
                      std::string error);
// An agent's answer read: exit code, result code, status text and error, the whole object;
// line and verb as the answer names them ("line", "command").
LineResult ReadAnswer(std::string_view payload);

class Requests {
  public:
    // Responses come to responseTopic; prefix is the topics' first levels.
    Requests(std::string prefix, std::string responseTopic);

    const std::string &ResponseTopic() const { return responseTopic_; }
    // A request of verb for line, members the JSON members it carries ("" for none), waiting
    // from now (seconds on a steady clock). A request over kMaxPayload bytes, more than an
    // agent takes, is not made: nullopt, with its result in refused.
    std::optional<OutgoingRequest> Prepare(const std::string &line, const std::string &verb,
                                           const std::string &members, double now,
                                           LineResult &refused);
    // The request could not be handed to the broker: it ends with why.
    LineResult Unsent(const OutgoingRequest &request, const std::string &why);
    // A message on the response topic with its correlation data: the result of the request
    // it answers, or nullopt when none waits for it (one answered already or given up).
    std::optional<LineResult> TakeResponse(std::string_view correlation, std::string_view payload);
    // Requests whose time ran out by now, each "no answer within 5 s".
    std::vector<LineResult> Expire(double now);
    // line went offline: the requests it has not answered end now, their outcome unknown.
    std::vector<LineResult> LineWentOffline(const std::string &line);
    std::size_t Waiting() const { return pending_.size(); }

  private:
    struct Pending {
        std::string line, verb;
        double deadline;
    };
    std::string prefix_, responseTopic_, stem_;
    long long next_ = 0;
    std::map<std::string, Pending> pending_; // by correlation data
};

} // namespace plant
