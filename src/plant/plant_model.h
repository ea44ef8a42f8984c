// The plant as its broker tells it: one row per line, built from the agents' topics under
// PREFIX/NAME/ (info, status and parameters retained; live and event as they come). Pure
// code over the payloads' text, so the window, rmx7ctl plant and the tests read a plant the
// same way and need no broker.
//
//   --- Topics ---   SplitTopic: a topic into its line and leaf
//   --- Rows ---     Row: what is known of one line; Model::Apply takes one message
//   --- Actions ---  Action, Allowed: what a row allows, and why not
//   --- Views ---    Summary, sorting and filtering of rows
//
// Everything that comes in is checked: a payload that is not the agreed JSON is counted
// and left out, never half taken. Times are Unix seconds.
#pragma once

#include "com232.h"
#include "plant/requests.h"

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plant {

// The topics read, under PREFIX/NAME/.
constexpr std::string_view kInfo       = "info";
constexpr std::string_view kStatus     = "status";
constexpr std::string_view kParameters = "parameters";
constexpr std::string_view kLive       = "live";
constexpr std::string_view kEvent      = "event";
// The trend of the live NORM value a row keeps.
constexpr double kTrendSeconds = 30.0;
// Replies a second are counted over this much of the newest live values; a line whose
// last live value is older than kLiveStaleSeconds makes none.
constexpr double kRateSeconds      = 2.0;
constexpr double kLiveStaleSeconds = 3.0;
// A message longer than this is no agent's and is left out unread.
constexpr std::size_t kMaxMessage = 64 * 1024;

// --- Topics ---
struct Topic {
    std::string line; // NAME: one level, not empty
    std::string leaf; // info, status, ...
};
// topic as PREFIX/NAME/LEAF; false for any other shape.
bool SplitTopic(std::string_view prefix, std::string_view topic, Topic &split);

// --- Rows ---
enum class Status { Unknown, Online, NoController, Offline };
// The controller's EEPROM set against the line's approved set.
enum class Match { Unknown, NoApproved, Equal, Differs };

// The last command of ours to a line, as its row shows it.
struct CommandResult {
    std::string verb;
    bool pending = false; // sent, no answer yet
    int exitCode = 0;     // rmx7ctl's exit codes
    std::string text;     // what came of it, in words
    double time = 0;      // when it was sent, or answered
};

struct LivePoint {
    double time;
    double value; // the NORM value
    long long seq;
};

// What the line's agent says of itself and its controller (its info topic).
struct AgentInfo {
    std::string firmware, port, device, host, program, version;
    double started = 0;               // Unix time the agent started; 0 not said
    std::optional<Commands> commands; // what it takes from the plant; none: not said
    std::string parameterServer;      // off, backup, restore; empty: not said
    bool hasRam = false;
    com232::Words ram{};
};

// The line's parameter server: its approved set against the controller's EEPROM set.
struct ParameterState {
    std::string mode;
    Match match = Match::Unknown;
    std::vector<std::string> differs; // the words in which EEPROM differs from the approved
    std::string approvedFingerprint, approvedFirmware, approvedBy, eepromFingerprint;
    double approvedStored = 0;
    bool hasApprovedWords = false, hasEepromWords = false;
    com232::Words approvedWords{}, eepromWords{};
    std::string lastRestore; // "restored", "refused", "failed"; empty none
    std::string lastRestoreText;
    double lastRestoreTime = 0;
};

struct Row {
    std::string name;
    std::string instance; // the agent's, from info or status

    bool hasInfo = false;
    AgentInfo info;

    bool hasStatus = false;
    Status status  = Status::Unknown;
    std::string statusText;  // the agent's words: a failure's status text, "stopped", ...
    double since    = 0;     // when the status last changed
    bool sinceExact = false; // false: the arrival of a message without a time, so no later

    bool hasParameters = false;
    ParameterState parameters;

    bool hasLive = false;
    com232::LiveReply live;
    long long seq      = 0;
    double liveTime    = 0; // the publisher's time of the newest reply
    double liveArrival = 0; // when it arrived here
    std::deque<LivePoint> trend;

    std::string event, eventText; // the newest event, and conflicts
    double eventTime = 0;

    CommandResult result; // set by the caller (Model::SetResult); verb empty: none yet

    int ignored = 0; // messages of this line left out: not the agreed payload
};

// What one message changed, for the caller to show and log.
struct Applied {
    bool taken = false; // the message was one of a line's and was read
    std::string line;
    bool added = false, removed = false; // the row appeared, or went with its last topic
    bool statusChanged = false;
    bool live          = false; // a live value: the row's value, trend and rate changed
    bool orderChanged  = false; // anything but the live values and trend changed
    std::string note;           // worth a line in the log; empty: nothing to tell
};

class Model {
  public:
    explicit Model(std::string prefix) : prefix_(std::move(prefix)) {}

    const std::string &Prefix() const { return prefix_; }
    // Takes one message; arrival is the Unix time it came. An empty retained payload is a
    // topic cleared: a row whose info, status and parameters are all cleared goes.
    Applied Apply(std::string_view topic, std::string_view payload, double arrival);
    // Rows by name.
    const std::map<std::string, Row> &Rows() const { return rows_; }
    const Row *Find(const std::string &name) const;
    // Takes a row away at once (a line forgotten here).
    void Remove(const std::string &name) { rows_.erase(name); }
    // The row's command result; false when there is no such row.
    bool SetResult(const std::string &name, const CommandResult &result);

  private:
    std::string prefix_;
    std::map<std::string, Row> rows_;
};

// Replies a second of a row at time now, from the sequence numbers of its newest live
// values (which count every reply, also those the agent did not publish); 0 when it made
// none lately.
double RepliesPerSecond(const Row &row, double now);

// --- Actions ---
enum class Action { Read, Restore, Store, Report, Chart, Forget };
constexpr int kActionCount = 6;
// The agent's verb of an action; nullptr for those that send no command (Chart, Forget).
const char *VerbOf(Action action);
bool Writes(Action action);

struct Allowed {
    bool ok = true;
    std::string why; // when not ok: the reason, for the action's tooltip
};
// Whether row allows action at now (a command of ours still waiting for its answer blocks
// the other commands).
Allowed Allows(const Row &row, Action action, double now);

// --- Views ---
// A Unix time as the local clock shows it, "14:02:11", with the date before it when that is
// not the day of now: "2025-06-03 14:02:11".
std::string ClockText(double time, double now);
// When the row's status began: "since 14:02:11", or "since 14:02:11 or before" when only
// the arrival of a message without a time tells.
std::string SinceText(const Row &row, double now);
// "40 lines: 37 online, 1 no controller, 2 offline; 3 differ from their approved set"
std::string Summary(const std::map<std::string, Row> &rows);

enum class Column { Name, Status, Firmware, Port, Value, Rate, Approved, Event, Result };
constexpr int kColumnCount = 9;
enum class StatusFilter { All, Online, NoController, Offline, Differs };

struct Filter {
    std::string name; // part of the name, any case; with * or ? a pattern of the whole name
    StatusFilter status = StatusFilter::All;
};
bool Matches(const Row &row, const Filter &filter);
// Names compare as a reader counts: "line2" before "line10".
bool NaturalLess(std::string_view a, std::string_view b);
// true when a comes before b sorted by column, ascending; ties go by name. Values that
// change with time (replies a second) are taken at now.
bool Before(const Row &a, const Row &b, Column column, double now);

} // namespace plant
