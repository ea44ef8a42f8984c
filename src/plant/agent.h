// The agent of one line: it keeps the line's controller set up and its live values going out
// to the plant's broker, takes the plant's commands, serves the line's approved parameter
// set and records every write to the controller in the line's audit trail.
//
//   --- Life ---      Start (the approved set, the trail, the broker), Serve (the line's
//                     start-ups and runs until End), End, Stop
//   --- Commands ---  each a job on the line's queue, between two exchanges of the run:
//                     one at a time, at most kMaxWaiting waiting, the rest answered Busy
//
// A start-up that finds a controller (the agent's first, a line back, a controller that
// answers again) is followed by the parameter server's look at its EEPROM set, before the
// run goes on. A controller that does not answer has its start-up tried every 5 s; the
// commands that come meanwhile run at once, between the tries.
#pragma once

#include "com232.h"
#include "job.h"
#include "plant/audit_writer.h"
#include "plant/parameter_server.h"
#include "plant/requests.h"
#include "plant/verbs.h"
#include "publisher.h"

#include <functional>
#include <memory>
#include <string>

namespace plant {

// Commands beyond the one that runs that wait on a line; more are answered Busy.
constexpr int kMaxWaiting = 16;

struct AgentSettings {
    std::string name; // the line's, one level of a topic
    publish::Settings publisher;
    Commands commands = Commands::Off;
    ServerMode server = ServerMode::Off;
    std::string stateDir; // the approved set and the audit trail
    bool quiet = false;   // no status texts on the tell sink
};

class Agent {
  public:
    // The agent of line, which is not set up yet; what it has to say goes to tell, one line
    // each; quietStatus leaves the line's status texts out of them while true.
    Agent(com232::Line &line, AgentSettings settings, std::function<void(const std::string &)> tell,
          std::shared_ptr<bool> quietStatus);
    ~Agent();
    Agent(const Agent &)            = delete;
    Agent &operator=(const Agent &) = delete;

    // --- Life ---
    // Reads the approved set, opens the audit trail and starts connecting to the broker.
    // False with error when a setting is wrong or the approved set's file is damaged.
    bool Start(std::string &error);
    // The line's start-ups and runs, until End.
    job::Task<void> Serve();
    // The run ends once the exchange on the line is over; so does Serve.
    void End();
    // Leaves "offline" on the broker and disconnects; what the trail holds is appended.
    void Stop();
    const publish::Publisher &Publisher() const { return publisher_; }

  private:
    void OnCommand(const mqtt::Message &message);
    job::Task<void> RunCommand(Request request, std::string respondTo, std::string correlation,
                               int qos);
    void Respond(const std::string &topic, const std::string &payload,
                 const std::string &correlation, int qos);
    void Record(audit::Record record);
    void TellFailure(const status::Outcome &outcome);
    void Tell(const std::string &text) const;

    com232::Line &line_;
    AgentSettings settings_;
    std::function<void(const std::string &)> tell_;
    std::shared_ptr<bool> quietStatus_;
    publish::Publisher publisher_;
    ParameterServer server_;
    AuditWriter trail_;
    Verbs verbs_;
    int commands_ = 0; // commands queued or running
    bool ending_  = false;
    std::string failure_; // the failure told last; empty while the controller answers
};

} // namespace plant
