// The command line of rmx7ctl: global options, the command and its own arguments.
#pragma once

#include "app.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ctl {

// Exit codes, as the manual page and the README table them.
constexpr int kExitOk      = 0;
constexpr int kExitFailure = 1; // the tool itself could not start (no panel file)
constexpr int kExitUsage   = 2;
constexpr int kExitPort    = 3; // the port cannot be opened
constexpr int kExitLine    = 4; // no controller, or a time-out
constexpr int kExitDiffers = 5; // send or diff found differences, or a broken audit chain
constexpr int kExitFile    = 6; // a file that cannot be read or written

// What a command accepts besides its operands.
enum Accepts : unsigned {
    kTakesOutput = 1u << 0, // -o FILE
    kTakesSet    = 1u << 1, // --set NAME=VALUE
    kTakesVerify = 1u << 2,
    kTakesCount  = 1u << 3,  // --count N, --seconds S
    kNeedsLine   = 1u << 4,  // runs the port set-up of start-up first
    kTakesReport = 1u << 5,  // --capture, --note, --operator
    kTakesGet    = 1u << 6,  // --get: Get from RAM after the command
    kTakesFormat = 1u << 7,  // --format csv|jsonl|influx, --name NAME
    kPublishes   = 1u << 8,  // the publisher's options and --config
    kTakesLines  = 1u << 9,  // --line NAME=DEVICE: several lines side by side
    kTakesAudit  = 1u << 10, // --line NAME, --since DATE, --csv, --check
    kReadsPlant  = 1u << 11, // --lines GLOB; the broker alone, no port, no panel
    kTakesState  = 1u << 12, // --state DIR: a line's state directory
    kTakesFrom   = 1u << 13, // --from ram|eeprom: the set to start from
    kTakesUnit   = 1u << 14, // --unit-id, --station: the unit a report is of
};

struct Options {
    app::Options shared; // --port, --simulate, --trace, the publisher's, --help, --version
    int com    = 1;
    bool json  = false;
    bool quiet = false;
    std::string command;
    std::vector<std::string> operands;
    std::vector<std::string> sets; // NAME=VALUE, in the order given
    std::string from;              // send: ram or eeprom; empty: the memory written
    bool verify = false;
    bool get    = false; // teach --get
    std::string output;
    long count     = -1; // rows of live; -1 none
    double seconds = -1; // seconds of live; -1 none
    std::string capture; // report: raw or norm; empty none
    std::string note;
    std::string operatorName;
    std::string unitId; // report: the unit's serial number or asset tag
    std::string station;
    std::string format; // live: csv, jsonl or influx; empty: csv
    // --line as given: NAME=DEVICE for live and publish (lines), NAME for audit (line).
    std::vector<std::string> lineArguments;
    // --line NAME=DEVICE, in the order given: the lines run side by side in this process.
    std::vector<std::pair<std::string, std::string>> lines;
    std::string state;  // audit, diff, publish: the state directory; empty: the default
    std::string line;   // audit: the records of this line only
    std::string since;  // audit: the records from this date on, as typed
    bool csv   = false; // audit
    bool check = false; // audit
    // plant: the lines' names, patterns joined by commas; empty: all
    std::string linePatterns;
    std::string agent; // --agent mqtt[s]://BROKER/PREFIX/NAME: the command goes to that agent
    std::string error; // not empty: the command line is wrong
};

struct Command {
    const char *name;
    const char *synopsis;
    int minOperands;
    int maxOperands;
    unsigned accepts;
    const char *help; // what it does, and the panel steps it performs
};

Options ParseOptions(int argc, char **argv);
// --agent's address split: the broker's URL, the topics' prefix and the line's name.
struct AgentAddress {
    std::string broker, prefix, name;
};
std::optional<AgentAddress> ParseAgent(const std::string &url, std::string &error);
// The command of that name, or nullptr.
const Command *FindCommand(const std::string &name);
// Checks the operands and options against what the command accepts; the error, or empty.
std::string CheckCommandLine(const Command &command, const Options &options);

// True when path ends in extension (".png"), in any case.
bool HasExtension(const std::string &path, const std::string &extension);

std::string UsageText();
std::string CommandHelp(const Command &command);

} // namespace ctl
