// The verbs a line's agent runs for the plant, each on the line that is set up already and
// with exactly the requests of the panel step it stands for (steps.h, the line's Get), so
// that nothing is added on the wire. Each answers with the members rmx7ctl --json prints
// for the same step; the agent puts the head (command, port, device) before them and the
// response's members (line, id, exit_code, result_code, status, error) after them.
//
//   info     the controller as the start-up found it; no request
//   get      Get of RAM or EEPROM
//   diff     Get of RAM and of EEPROM, beside the approved set
//   capture  the data curve's blocks and its closing live request
//   report   Get of RAM and EEPROM (after a capture when asked); the PDF in the answer
//   send     Get of the memory, Send, and Get again to verify, as rmx7ctl send does
//   teach, reset   the buttons' requests
//   store, restore the parameter server's
//
// Every write to the controller is handed to the wrote hook as an audit record.
#pragma once

#include "com232.h"
#include "exports.h"
#include "job.h"
#include "output.h"
#include "plant/audit.h"
#include "plant/parameter_server.h"
#include "plant/requests.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace plant {

// --- Sets side by side ---
struct NamedWords {
    std::string name; // a parameter file's path
    std::optional<com232::Words> words;
};
struct Comparison {
    output::JsonObject members; // ram, eeprom, file, approved, fingerprints, differences
    std::string table;          // the same for a person
    std::size_t differing = 0;  // words in which any two of the sets differ
};
// RAM and EEPROM beside a file's set when it has words and, unless approved is nullptr, the
// approved set (or the word that none is stored): rmx7ctl diff's members and table.
Comparison CompareSets(const com232::Words &ram, const com232::Words &eeprom,
                       const NamedWords &file, const std::optional<ApprovedSet> *approved);

// --- The verbs ---
// A verb's answer: its own members, how it ended and the PDF of a report.
struct Answer {
    output::JsonObject members;
    output::JsonObject beyond; // what only the agent's answer carries: a report's PDF
    ResultCode code = ResultCode::Ok;
    std::string error; // why it failed, as rmx7ctl says it
};

// Where the verbs of one line take their surroundings from.
struct VerbsSetting {
    std::string lineName;
    std::string reportFolder; // where a report's PDF is made before it goes out
    std::string auditPath;    // the line's audit trail, whose newest records a report lists
    std::function<void(audit::Record record)> wrote;
};

class Verbs {
  public:
    Verbs(com232::Line &line, ParameterServer &server, VerbsSetting setting);

    // Runs request, a checked one, as a job's part on the line.
    job::Task<Answer> Run(const Request &request);

  private:
    Answer Info() const;
    job::Task<Answer> Get(const Request &request);
    job::Task<Answer> Diff();
    job::Task<Answer> Capture(const std::string &source);
    job::Task<Answer> Report(const Request &request);
    job::Task<Answer> Send(const Request &request);
    job::Task<Answer> Teach(const Request &request);
    job::Task<Answer> Reset(const Request &request);
    job::Task<Answer> Store(const Request &request);
    job::Task<Answer> Restore(const Request &request);
    // An audit record of a write this line's agent made on request.
    void Wrote(const Request &request, const char *verb, const char *target,
               const com232::Words &words, std::optional<com232::Words> replaced,
               ResultCode result) const;

    com232::Line &line_;
    ParameterServer &server_;
    VerbsSetting setting_;
    exports::Exports exports_;            // the last capture, for its CSV and the report
    std::uint16_t upper_ = 0, lower_ = 0; // the levels of the last answered capture
};

} // namespace plant
