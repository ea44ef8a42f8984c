// Requests to the agents and the results of their answers.
#include "plant/plant_requests.h"

#include "status.h"

#include <cstdio>
#include <random>

namespace plant {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitLine  = 4;

// 16 hex digits, different for every process: two windows never take each other's answers.
std::string RandomStem() {
    std::random_device random;
    char stem[17];
    std::snprintf(stem, sizeof stem, "%08x%08x", random(), random());
    return stem;
}

std::string TextOrEmpty(const json::Value &object, std::string_view key) {
    const json::Value *value = object.Find(key);
    return value && value->IsString() ? value->text : std::string();
}

// The names of the words a diff found different: "power, hold".
std::string DifferingWords(const json::Value &response) {
    const json::Value *differences = response.Find("differences");
    std::string names;
    if (differences && differences->IsArray())
        for (const json::Value &word : differences->items)
            if (word.IsObject())
                if (const std::string name = TextOrEmpty(word, "name"); !name.empty())
                    names += (names.empty() ? "" : ", ") + name;
    return names;
}

} // namespace

LineResult Unanswered(const std::string &line, const std::string &verb, int exitCode,
                      std::string error) {
    LineResult result;
    result.line     = line;
    result.verb     = verb;
    result.exitCode = exitCode;
    result.error    = std::move(error);
    return result;
}

std::string LineResult::Text() const {
    if (!answered)
        return error;
    if (exitCode == 0)
        return status.empty() ? "ok" : "ok (" + status + ")";
    if (const std::string words = DifferingWords(response); exitCode == 5 && !words.empty())
        return "differs: " + words;
    if (!error.empty())
        return error;
    return status.empty() ? status::ExitCodeMeaning(exitCode) : status;
}

LineResult ReadAnswer(std::string_view payload) {
    LineResult result;
    result.answered = true;
    std::string error;
    long long code              = 0;
    const json::Value *exitCode = nullptr;
    if (!json::Parse(payload, result.response, error) || !result.response.IsObject() ||
        !(exitCode = result.response.Find("exit_code")) || !exitCode->WholeNumber(0, 255, code)) {
        result.error = "the agent's answer is not the agreed JSON";
        return result;
    }
    result.line       = TextOrEmpty(result.response, "line");
    result.verb       = TextOrEmpty(result.response, "command");
    result.exitCode   = static_cast<int>(code);
    result.resultCode = TextOrEmpty(result.response, "result_code");
    result.status     = TextOrEmpty(result.response, "status");
    result.error      = TextOrEmpty(result.response, "error");
    if (!result.ok() && result.error.empty())
        result.error =
            result.status.empty() ? status::ExitCodeMeaning(result.exitCode) : result.status;
    return result;
}

Requests::Requests(std::string prefix, std::string responseTopic)
    : prefix_(std::move(prefix)), responseTopic_(std::move(responseTopic)), stem_(RandomStem()) {}

std::optional<OutgoingRequest> Requests::Prepare(const std::string &line, const std::string &verb,
                                                 const std::string &members, double now,
                                                 LineResult &refused) {
    OutgoingRequest request;
    request.line        = line;
    request.verb        = verb;
    request.topic       = prefix_ + "/" + line + "/cmd/" + verb;
    request.payload     = "{" + members + "}";
    request.correlation = stem_ + "-" + std::to_string(++next_);
    if (request.payload.size() > kMaxPayload) {
        refused = Unanswered(line, verb, kExitUsage,
                             "the request is over " + std::to_string(kMaxPayload) +
                                 " bytes, more than an agent takes: a shorter note");
        return std::nullopt;
    }
    pending_[request.correlation] = {line, verb, now + kAnswerSeconds};
    return request;
}

LineResult Requests::Unsent(const OutgoingRequest &request, const std::string &why) {
    pending_.erase(request.correlation);
    return Unanswered(request.line, request.verb, kExitLine, why);
}

std::optional<LineResult> Requests::TakeResponse(std::string_view correlation,
                                                 std::string_view payload) {
    const auto found = pending_.find(std::string(correlation));
    if (found == pending_.end())
        return std::nullopt;
    LineResult result = ReadAnswer(payload);
    result.line       = found->second.line;
    result.verb       = found->second.verb;
    pending_.erase(found);
    return result;
}

std::vector<LineResult> Requests::Expire(double now) {
    std::vector<LineResult> expired;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.deadline > now) {
            ++it;
            continue;
        }
        expired.push_back(
            Unanswered(it->second.line, it->second.verb, kExitLine, status::kNoAnswerWithin5s));
        it = pending_.erase(it);
    }
    return expired;
}

std::vector<LineResult> Requests::LineWentOffline(const std::string &line) {
    std::vector<LineResult> ended;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.line != line) {
            ++it;
            continue;
        }
        LineResult result  = Unanswered(line, it->second.verb, kExitLine,
                                        status::WentOfflineWaiting(it->second.verb));
        result.wentOffline = true;
        ended.push_back(std::move(result));
        it = pending_.erase(it);
    }
    return ended;
}

} // namespace plant
