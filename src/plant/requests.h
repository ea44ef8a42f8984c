// Commands from the plant: a verb and a payload as they arrive on PREFIX/NAME/cmd/VERB,
// checked into a request the line can run, or into the refusal to answer with; and the
// members every response carries.
//
//   --- What may come ---  Commands (off, read, write), Verb, VerbName, IsWrite
//   --- Results ---        ResultCode, ResultCodeName, ExitCodeOf, ResultCodeOf
//   --- Requests ---       Request, Refusal, Checked; CheckRequest
//   --- Responses ---      Response; ResponseMembers, RefusalResponse
//
// A request is a JSON object of at most kMaxPayload bytes (an empty payload counts as {}).
// Every request may carry "operator" (a text, recorded as given), "id" (a string or a
// number, copied into the response) and "reply_to" (the response topic of a client without
// MQTT 5). Beyond those, each verb takes only its own members:
//
//   info, diff, teach, reset, store, restore   nothing
//   get       "memory": "ram" | "eeprom"
//   capture   "source": "raw" | "norm"
//   report    "capture": "raw" | "norm", "note", "unit_id", "station": texts (all optional)
//   send      "memory", and "set": {NAME: VALUE, ...} or "words": [16 numbers]; "from":
//             "ram" | "eeprom" starts from that memory's set instead of the one written
//
// Pure code: the payload is read by the platform's JSON reader and nothing else is asked.
#pragma once

#include "status.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plant {

// --- What may come ---
// What a line's agent takes: no commands, the read verbs, or every verb.
enum class Commands { Off, Read, Write };

enum class Verb { Info, Get, Diff, Capture, Report, Send, Teach, Reset, Store, Restore };
const char *VerbName(Verb verb);
// True for the verbs that write to a controller or to its approved set.
bool IsWrite(Verb verb);

constexpr std::size_t kMaxPayload = 4096;

// --- Results ---
// The results a response names: a command's own, and the agent's refusals.
enum class ResultCode {
    Ok,
    PortFailed,
    NoReply,
    BadReply,
    WriteFailed,
    FileFailed,
    Differs,
    Refused,   // not permitted: commands off, or read only
    Malformed, // not JSON, too long, unknown members or values
    UnknownVerb,
    Busy, // the line's queue of commands is full
};
// "Ok", "PortFailed", ...: the result_code of a response.
const char *ResultCodeName(ResultCode code);
// The exit code rmx7ctl gives for the same result; 2 for every refusal.
int ExitCodeOf(ResultCode code);
// The result of a panel step as a response names it (a cancelled file dialog as FileFailed,
// as rmx7ctl's exit code has it).
ResultCode ResultCodeOf(status::Result result);

// --- Requests ---
struct Request {
    std::string verbName; // as it came, for the response's "command"
    Verb verb = Verb::Info;
    std::string memory;  // get, send: "ram" or "eeprom"
    std::string from;    // send: the memory whose set is changed, empty for memory's own
    std::string source;  // capture: "raw" or "norm"; report: the same, or empty for none
    std::string note;    // report
    std::string unitId;  // report: the unit's serial number or asset tag
    std::string station; // report: where the unit is commissioned
    // send: the words named in "set", with their values ...
    std::vector<std::pair<int, std::uint16_t>> settings;
    // ... or the sixteen words of "words".
    std::optional<std::array<std::uint16_t, 16>> words;
    std::string operatorName;    // empty when none was given
    std::string idJson = "null"; // the request's id as JSON: a string, a number or null
    std::string replyTo;         // empty when none was given
};

struct Refusal {
    ResultCode code = ResultCode::Malformed;
    std::string error; // why, for the response's "error"
};

// A request, or the refusal to answer it with. Even a refused request carries its id and
// reply_to where they could be read, so that the refusal reaches its sender.
struct Checked {
    Request request;
    std::optional<Refusal> refusal;
    bool ok() const { return !refusal; }
};

Checked CheckRequest(std::string_view verb, std::string_view payload, Commands commands);

// --- Responses ---
// What every response ends with, beside the members of the verb's own output.
struct Response {
    std::string line;            // the line's name
    std::string idJson = "null"; // as the request gave it
    ResultCode code    = ResultCode::Ok;
    std::string status; // the status text the step left; empty: null
    std::string error;  // why it failed; empty: null
};

// "exit_code", "result_code", "status" and "error", the end of the object rmx7ctl --json
// prints for the same step, then the agent's "line" and "id": JSON members without braces.
std::string ResponseMembers(const Response &response);
// The whole response to a refused request: "command" and the members above.
std::string RefusalResponse(const Checked &checked, const std::string &line);

} // namespace plant
