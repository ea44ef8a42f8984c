// The parameter server of a line, as the data storage of an IO-Link master keeps a port's
// set: the approved set of the line's controller in the line's state directory, taken from
// the controller (backup, store) and written into a controller of the same firmware that
// holds another set (restore), with the result read back. A controller of other firmware is
// never written: it is refused, as a master refuses a device of another type.
//
//   --- Modes ---      ServerMode: off, backup (the first EEPROM set is kept), restore
//   --- The server --- ParameterServer: Load, AtStartUp, Store, Restore; its state as the
//                      parameters topic gives it
//
// Every step is a job's part on the line: the EEPROM set is read with Get's request, a set
// is written with Send's requests (EEPROM, then RAM) and read back with Get's. What the
// server learns and does goes out through its hooks: the parameters topic, events, and one
// audit record for each write to the controller.
#pragma once

#include "com232.h"
#include "job.h"
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "plant/requests.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plant {

enum class ServerMode { Off, Backup, Restore };
const char *ModeName(ServerMode mode); // "off", "backup", "restore"
bool ParseMode(std::string_view text, ServerMode &mode);

// Where the server reports what it learns and does.
struct ServerHooks {
    std::function<void(const std::string &json)> parameters; // its state, retained
    std::function<void(const std::string &json)> event;      // one event
    std::function<void(audit::Record record)> wrote;         // a write to the controller
    // Why the controller is not written ("" once it is again): for the line's status.
    std::function<void(const std::string &text)> refusal;
};

// How a store or a restore went: a result as responses name it, and in plain words.
struct ServerResult {
    ResultCode code = ResultCode::Ok;
    std::string text;
    std::optional<ApprovedSet> approved;     // the set stored, or restored
    std::optional<com232::Words> ramRead;    // a restore: what RAM holds afterwards
    std::optional<com232::Words> eepromRead; // and EEPROM
};

class ParameterServer {
  public:
    // The server of the line called name, its approved set in stateDir, for the agent of
    // that instance.
    ParameterServer(ServerMode mode, std::string stateDir, std::string name, std::string instance,
                    ServerHooks hooks);

    // Reads the approved set stored; false with error when its file is damaged.
    bool Load(std::string &error);
    ServerMode Mode() const { return mode_; }
    const std::optional<ApprovedSet> &Approved() const { return approved_; }
    // The parameters topic's payload.
    std::string StateJson() const;

    // At a start-up of the line that found a controller (the agent's start, a line back, a
    // controller that answers again): reads its EEPROM set, keeps it as the approved set in
    // backup mode when there is none, and in restore mode writes the approved set into a
    // controller of the same firmware that holds another. Off: nothing on the line.
    job::Task<void> AtStartUp(com232::Line &line);
    // The controller's EEPROM set, read now, becomes the approved set, stored by by.
    job::Task<ServerResult> Store(com232::Line &line, std::string by);
    // The approved set into EEPROM and then RAM, both read back, for operatorName (empty:
    // nobody named); refused for a controller of other firmware, or when no set is approved.
    job::Task<ServerResult> Restore(com232::Line &line, std::string operatorName,
                                    audit::Origin origin);

    // The controller's EEPROM set as a command read it: the parameters topic follows a change,
    // and a later restore names it as the set it replaced.
    void SeenEeprom(const com232::Words &words);

  private:
    job::Task<std::optional<com232::Words>> ReadEeprom(com232::Line &line);
    ServerResult Keep(const com232::Words &held, const std::string &firmware,
                      const std::string &by);
    void NoteEeprom(const com232::Words &words);
    void Event(const std::string &event, const std::string &text, const std::string &members = {});
    void Publish() const;
    bool KeepApproved(const ApprovedSet &set, std::string &error);

    ServerMode mode_;
    std::string path_;
    std::string name_;
    ServerHooks hooks_;
    std::optional<ApprovedSet> approved_;
    std::optional<com232::Words> eeprom_; // the controller's EEPROM set, as last read
    double eepromTime_ = 0;
    struct Last {
        double time = 0;
        std::string result, text;
    };
    std::optional<Last> lastRestore_;
    std::string instance_; // the agent's, for the payloads
};

} // namespace plant
