// The audit trail as the writers of a process keep it: every write to a controller handed
// over as a record and appended off the line's time, once the exchange that called for it
// has given the event loop back; a trail that cannot be written is said once and its
// records are appended as soon as it can be again.
#pragma once

#include "plant/audit.h"

#include <deque>
#include <functional>
#include <string>

namespace plant {

// Where an appended record and what the trail has to say go.
struct AuditHooks {
    std::function<void(const std::string &json)> appended; // each record as written
    std::function<void(const std::string &text)> tell;     // the trail's notices
};

class AuditWriter {
  public:
    AuditWriter(std::string path, AuditHooks hooks);
    // Appends what waits, there and then: the process is about to end.
    ~AuditWriter();
    AuditWriter(const AuditWriter &)            = delete;
    AuditWriter &operator=(const AuditWriter &) = delete;

    // Takes a record to append at the next event processing.
    void Note(audit::Record record);
    // Appends what waits now; records the trail could not take stay for the next try.
    void Flush();
    const std::string &Path() const { return trail_.Path(); }
    std::size_t Waiting() const { return records_.size() + trail_.Waiting(); }

  private:
    static void OnTimer(void *writer);
    void Report(const audit::AppendResult &result);

    audit::Trail trail_;
    AuditHooks hooks_;
    std::deque<audit::Record> records_;
    int timer_ = 0;
};

} // namespace plant
