// Appending audit records off the line's time.
#include "plant/audit_writer.h"

#include "platform/panel/events.h"

#include <utility>

namespace plant {

namespace {

// While the trail cannot be written, it is tried again this often.
constexpr double kRetrySeconds = 5.0;

} // namespace

AuditWriter::AuditWriter(std::string path, AuditHooks hooks)
    : trail_(std::move(path)), hooks_(std::move(hooks)) {}

AuditWriter::~AuditWriter() {
    CancelTimer(timer_);
    Flush();
    if (hooks_.tell)
        for (const std::string &json : trail_.WaitingJson())
            hooks_.tell("the audit trail could not take this record: " + json);
}

void AuditWriter::Note(audit::Record record) {
    records_.push_back(std::move(record));
    if (timer_ == 0)
        timer_ = StartTimer(0, OnTimer, this);
}

void AuditWriter::OnTimer(void *writer) {
    auto &self  = *static_cast<AuditWriter *>(writer);
    self.timer_ = 0;
    self.Flush();
    if (self.trail_.Waiting() > 0)
        self.timer_ = StartTimer(kRetrySeconds, OnTimer, writer);
}

void AuditWriter::Flush() {
    if (records_.empty()) {
        if (trail_.Waiting() > 0)
            Report(trail_.Flush());
        return;
    }
    while (!records_.empty()) {
        Report(trail_.Append(records_.front()));
        records_.pop_front();
    }
}

void AuditWriter::Report(const audit::AppendResult &result) {
    if (hooks_.appended)
        for (const std::string &json : result.records)
            hooks_.appended(json);
    if (!result.notice.empty() && hooks_.tell)
        hooks_.tell(result.notice);
}

} // namespace plant
