// The audit trail of the panel's writes: Send, Teach and Reset each append one record to
// the project folder's trail, after their exchange and off the line's time.
#include "app.h"

#include "plant/approved_set.h"
#include "plant/audit.h"
#include "plant/requests.h"
#include "platform/serial/ports.h"

namespace app {

std::string Program::LineName() const {
    return publisher_ ? publisher_->Name() : publish::LineName({}, line_.Port());
}

void Program::NoteKnown(com232::Target target, std::optional<com232::Words> words) {
    (target == com232::Target::EEPROM ? knownEeprom_ : knownRam_) = std::move(words);
}

void Program::RecordWrite(const char *verb, com232::Target target, const com232::Words &words,
                          const Outcome &outcome) {
    if (!recordWrites_)
        return;
    const std::string path = plant::FileIn(panel_.ProjectDir(), plant::kAuditFile);
    if (!trail_ || trail_->Path() != path) {
        panel_.MakeProjectDir();
        // The trail's notices go where the operator looks for why: the status line's tooltip.
        trail_ = std::make_unique<plant::AuditWriter>(
            path, plant::AuditHooks{{}, [this](const std::string &text) { panel_.Explain(text); }});
    }
    audit::Record record           = audit::MakeRecord(audit::Origin::Panel, verb,
                                             target == com232::Target::EEPROM ? "eeprom" : "ram");
    record.line                    = LineName();
    record.port                    = line_.Port();
    record.device                  = PortDevice(line_.Port());
    record.firmware                = line_.Firmware();
    record.words                   = words;
    record.replaced                = target == com232::Target::EEPROM ? knownEeprom_ : knownRam_;
    const plant::ResultCode result = plant::ResultCodeOf(outcome.result);
    record.result                  = plant::ResultCodeName(result);
    record.exitCode                = plant::ExitCodeOf(result);
    trail_->Note(std::move(record));
}

} // namespace app
