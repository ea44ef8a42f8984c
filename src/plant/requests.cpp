// Checking the plant's requests and the members of every response.
#include "plant/requests.h"

#include "parameters.h"
#include "platform/json/json.h"
#include "platform/text.h"

#include <cmath>
#include <cstdio>

namespace plant {

namespace {

// Which members a verb takes besides the ones every request may carry.
enum Member : unsigned {
    kMemory  = 1u << 0,
    kSource  = 1u << 1,
    kCapture = 1u << 2,
    kNote    = 1u << 3,
    kSet     = 1u << 4,
    kWords   = 1u << 5,
    kFrom    = 1u << 6,
    kUnitId  = 1u << 7,
    kStation = 1u << 8,
};

struct VerbRule {
    Verb verb;
    const char *name;
    bool writes;
    unsigned members;
};

constexpr VerbRule kVerbs[] = {
    {Verb::Info, "info", false, 0},
    {Verb::Get, "get", false, kMemory},
    {Verb::Diff, "diff", false, 0},
    {Verb::Capture, "capture", false, kSource},
    {Verb::Report, "report", false, kCapture | kNote | kUnitId | kStation},
    {Verb::Send, "send", true, kMemory | kSet | kWords | kFrom},
    {Verb::Teach, "teach", true, 0},
    {Verb::Reset, "reset", true, 0},
    {Verb::Store, "store", true, 0},
    {Verb::Restore, "restore", true, 0},
};

struct MemberName {
    unsigned bit;
    std::string_view name;
};
constexpr MemberName kMemberNames[] = {
    {kMemory, "memory"}, {kSource, "source"},  {kCapture, "capture"},
    {kNote, "note"},     {kSet, "set"},        {kWords, "words"},
    {kFrom, "from"},     {kUnitId, "unit_id"}, {kStation, "station"}};
constexpr std::string_view kEveryRequest[] = {"operator", "id", "reply_to"};

constexpr const char *kResultNames[] = {"Ok",          "PortFailed",  "NoReply", "BadReply",
                                        "WriteFailed", "FileFailed",  "Differs", "Refused",
                                        "Malformed",   "UnknownVerb", "Busy"};

const VerbRule *FindVerb(std::string_view name) {
    for (const VerbRule &rule : kVerbs)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

std::string VerbList() {
    std::string list;
    for (const VerbRule &rule : kVerbs)
        list += (list.empty() ? "" : ", ") + std::string(rule.name);
    return list;
}

// A number as JSON: whole numbers without a point, as the request most likely wrote them.
std::string NumberJson(double number) {
    char text[32];
    if (number == std::floor(number) && std::fabs(number) < 9007199254740992.0)
        std::snprintf(text, sizeof text, "%.0f", number);
    else
        std::snprintf(text, sizeof text, "%.17g", number);
    return text;
}

// A topic a response can be published to: no wildcards, none of the broker's own.
bool PublishableTopic(const std::string &topic) {
    return !topic.empty() && topic.front() != '$' &&
           topic.find_first_of(std::string("+#\0", 3)) == std::string::npos;
}

// The members every request may carry: an error, or empty.
std::string ReadEnvelope(const json::Value &object, Request &request) {
    const json::Value *id = object.Find("id"), *replyTo = object.Find("reply_to"),
                      *who = object.Find("operator");
    if (id && id->IsString())
        request.idJson = JsonString(id->text);
    else if (id && id->IsNumber())
        request.idJson = NumberJson(id->number);
    else if (id)
        return "\"id\" is a string or a number";
    if (replyTo && (!replyTo->IsString() || !PublishableTopic(replyTo->text)))
        return "\"reply_to\" is a topic to publish to: a text without '+', '#' or a leading '$'";
    if (replyTo)
        request.replyTo = replyTo->text;
    if (who && !who->IsString())
        return "\"operator\" is a text";
    if (who)
        request.operatorName = who->text;
    return {};
}

std::string UnknownMember(const json::Value &object, const VerbRule &rule) {
    for (const auto &[name, value] : object.members) {
        bool known = false;
        for (std::string_view every : kEveryRequest)
            known = known || name == every;
        for (const MemberName &member : kMemberNames)
            known = known || ((rule.members & member.bit) && name == member.name);
        if (!known)
            return "\"" + name + "\" is not a member of " + rule.name + " requests";
    }
    return {};
}

// The member name of object when it is one of the two choices; error when it is missing
// (and needed) or another value.
std::string ReadChoice(const json::Value &object, const char *name, const char *first,
                       const char *second, bool needed, std::string &value) {
    const json::Value *member = object.Find(name);
    if (!member && !needed)
        return {};
    if (!member || !member->IsString() || (member->text != first && member->text != second))
        return std::string("\"") + name + "\" is \"" + first + "\" or \"" + second + "\"";
    value = member->text;
    return {};
}

std::string ReadText(const json::Value &object, const char *name, std::string &value) {
    const json::Value *member = object.Find(name);
    if (member && !member->IsString())
        return std::string("\"") + name + "\" is a text";
    value = member ? member->text : "";
    return {};
}

std::string ReadSet(const json::Value &set, Request &request) {
    if (!set.IsObject())
        return "\"set\" is an object of parameter names and values";
    // The names, the words sent as 0 and the ranges of the parameter table, as rmx7ctl
    // send --set takes them.
    for (const auto &[name, value] : set.members) {
        const int word  = parameters::WordOf(name);
        long long whole = -1;
        if (word < 0)
            return "no parameter is called '" + name + "'; the names are " +
                   parameters::SettableNames();
        const parameters::Parameter &p = parameters::kTable[word];
        if (p.sentAsZero)
            return name + " cannot be set: send transmits words 11 to 15 (para12 to para16) as 0";
        if (!value.WholeNumber(0, parameters::kLargestWord, whole))
            return name + " wants a whole number from 0 to 65535";
        if (whole < p.minimum || whole > p.maximum)
            return name + " takes " + std::to_string(p.minimum) + " to " +
                   std::to_string(p.maximum) + ", not " + std::to_string(whole);
        request.settings.emplace_back(word, static_cast<std::uint16_t>(whole));
    }
    return {};
}

std::string ReadWords(const json::Value &words, Request &request) {
    std::array<std::uint16_t, 16> read{};
    if (!words.IsArray() || words.items.size() != read.size())
        return "\"words\" is an array of sixteen numbers";
    for (std::size_t i = 0; i < read.size(); ++i) {
        long long whole = -1;
        if (!words.items[i].WholeNumber(0, 0xFFFF, whole))
            return "\"words\" holds whole numbers from 0 to 65535";
        read[i] = static_cast<std::uint16_t>(whole);
    }
    request.words = read;
    return {};
}

std::string ReadSend(const json::Value &object, Request &request) {
    const json::Value *set = object.Find("set"), *words = object.Find("words");
    if (std::string error = ReadChoice(object, "from", "ram", "eeprom", false, request.from);
        !error.empty())
        return error;
    if (words)
        return set || !request.from.empty()
                   ? "send takes \"words\" alone, or \"set\" and \"from\": one of them"
                   : ReadWords(*words, request);
    if (!set && request.from.empty())
        return "send takes \"set\", \"from\" or \"words\"";
    return set ? ReadSet(*set, request) : std::string();
}

// The members of the verb itself: an error, or empty.
std::string ReadMembers(const json::Value &object, const VerbRule &rule, Request &request) {
    if (std::string error = UnknownMember(object, rule); !error.empty())
        return error;
    switch (rule.verb) {
    case Verb::Get:
        return ReadChoice(object, "memory", "ram", "eeprom", true, request.memory);
    case Verb::Capture:
        return ReadChoice(object, "source", "raw", "norm", true, request.source);
    case Verb::Report: {
        for (auto [name, value] :
             {std::pair{"note", &request.note}, std::pair{"unit_id", &request.unitId},
              std::pair{"station", &request.station}})
            if (std::string error = ReadText(object, name, *value); !error.empty())
                return error;
        return ReadChoice(object, "capture", "raw", "norm", false, request.source);
    }
    case Verb::Send: {
        std::string error = ReadChoice(object, "memory", "ram", "eeprom", true, request.memory);
        return error.empty() ? ReadSend(object, request) : error;
    }
    default:
        return {};
    }
}

std::string Refuses(const VerbRule &rule, Commands commands) {
    if (commands == Commands::Off)
        return "this line takes no commands";
    if (rule.writes && commands == Commands::Read)
        return std::string("this line takes read commands only; ") + rule.name +
               " writes to the controller or its approved set";
    return {};
}

Checked Refuse(Checked checked, ResultCode code, std::string error) {
    checked.refusal = Refusal{code, std::move(error)};
    return checked;
}

} // namespace

const char *VerbName(Verb verb) {
    return kVerbs[static_cast<int>(verb)].name;
}

bool IsWrite(Verb verb) {
    return kVerbs[static_cast<int>(verb)].writes;
}

const char *ResultCodeName(ResultCode code) {
    return kResultNames[static_cast<int>(code)];
}

int ExitCodeOf(ResultCode code) {
    switch (code) {
    case ResultCode::Ok:
        return 0;
    case ResultCode::PortFailed:
        return 3;
    case ResultCode::NoReply:
    case ResultCode::BadReply:
    case ResultCode::WriteFailed:
        return 4;
    case ResultCode::Differs:
        return 5;
    case ResultCode::FileFailed:
        return 6;
    default:
        return 2;
    }
}

ResultCode ResultCodeOf(status::Result result) {
    switch (result) {
    case status::Result::Ok:
        return ResultCode::Ok;
    case status::Result::PortFailed:
        return ResultCode::PortFailed;
    case status::Result::NoReply:
        return ResultCode::NoReply;
    case status::Result::BadReply:
        return ResultCode::BadReply;
    case status::Result::WriteFailed:
        return ResultCode::WriteFailed;
    case status::Result::FileFailed:
    case status::Result::Cancelled:
        return ResultCode::FileFailed;
    case status::Result::Differs:
        return ResultCode::Differs;
    case status::Result::Refused:
        return ResultCode::Refused;
    }
    return ResultCode::FileFailed;
}

Checked CheckRequest(std::string_view verb, std::string_view payload, Commands commands) {
    Checked checked;
    checked.request.verbName = ValidUtf8(verb);
    if (payload.size() > kMaxPayload)
        return Refuse(checked, ResultCode::Malformed,
                      "the request is " + std::to_string(payload.size()) +
                          " bytes long; it may be " + std::to_string(kMaxPayload));
    json::Value object;
    std::string error;
    if (!json::Parse(payload.empty() ? "{}" : payload, object, error))
        return Refuse(checked, ResultCode::Malformed, "the request is " + error);
    if (!object.IsObject())
        return Refuse(checked, ResultCode::Malformed, "a request is a JSON object");
    if (error = ReadEnvelope(object, checked.request); !error.empty())
        return Refuse(checked, ResultCode::Malformed, error);
    const VerbRule *rule = FindVerb(verb);
    if (!rule)
        return Refuse(checked, ResultCode::UnknownVerb,
                      "no command is called '" + checked.request.verbName + "'; the commands are " +
                          VerbList());
    checked.request.verb = rule->verb;
    if (error = Refuses(*rule, commands); !error.empty())
        return Refuse(checked, ResultCode::Refused, error);
    if (error = ReadMembers(object, *rule, checked.request); !error.empty())
        return Refuse(checked, ResultCode::Malformed, error);
    return checked;
}

std::string ResponseMembers(const Response &response) {
    return "\"exit_code\": " + std::to_string(ExitCodeOf(response.code)) +
           ", \"result_code\": " + JsonString(ResultCodeName(response.code)) +
           ", \"status\": " + (response.status.empty() ? "null" : JsonString(response.status)) +
           ", \"error\": " + (response.error.empty() ? "null" : JsonString(response.error)) +
           ", \"line\": " + JsonString(response.line) + ", \"id\": " + response.idJson;
}

std::string RefusalResponse(const Checked &checked, const std::string &line) {
    Response response;
    response.line   = line;
    response.idJson = checked.request.idJson;
    response.code   = checked.refusal ? checked.refusal->code : ResultCode::Ok;
    response.error  = checked.refusal ? checked.refusal->error : "";
    return "{\"command\": " + JsonString(checked.request.verbName) + ", " +
           ResponseMembers(response) + "}";
}

} // namespace plant
