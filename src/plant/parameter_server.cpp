// The parameter server of a line.
#include "plant/parameter_server.h"

#include "parameters.h"
#include "plant/utc_time.h"
#include "platform/panel/events.h"
#include "platform/report/fingerprint.h"
#include "platform/text.h"
#include "publish.h"
#include "status.h"
#include "steps.h"

#include <cstdio>
#include <utility>

namespace plant {

namespace {

using com232::Target;

// After a write, as an operator's pause: the set must be out on the line (36 bytes take
// 19 ms) before the next request flushes the output queue, and a controller still storing
// the set may not answer at once.
constexpr double kSettleSeconds = 0.1;
constexpr const char *kServer   = "parameter server";

std::string WordsJson(const com232::Words &words) {
    std::string text;
    for (const std::uint16_t word : words)
        text += (text.empty() ? "" : ",") + std::to_string(word);
    return "[" + text + "]";
}

std::string FingerprintOf(const com232::Words &words) {
    std::uint16_t plain[kFingerprintWords];
    std::copy(words.begin(), words.end(), plain);
    return ParameterFingerprint(plain);
}

std::string Seconds(std::int64_t unixMs) {
    return publish::TimeJson(static_cast<double>(unixMs) / 1000.0);
}

// The names of the words in which two sets differ, as a JSON array.
std::string DiffersJson(const com232::Words &one, const com232::Words &other) {
    std::string names;
    for (int word = 0; word < com232::PNUM; ++word)
        if (one[word] != other[word])
            names +=
                (names.empty() ? "\"" : ",\"") + std::string(parameters::kTable[word].name) + "\"";
    return "[" + names + "]";
}

// What a restore's end says on the parameters topic.
const char *RestoreResult(ResultCode code) {
    return code == ResultCode::Ok ? "restored" : code == ResultCode::Refused ? "refused" : "failed";
}

} // namespace

const char *ModeName(ServerMode mode) {
    switch (mode) {
    case ServerMode::Backup:
        return "backup";
    case ServerMode::Restore:
        return "restore";
    case ServerMode::Off:
        break;
    }
    return "off";
}

bool ParseMode(std::string_view text, ServerMode &mode) {
    for (ServerMode each : {ServerMode::Off, ServerMode::Backup, ServerMode::Restore})
        if (text == ModeName(each)) {
            mode = each;
            return true;
        }
    return false;
}

ParameterServer::ParameterServer(ServerMode mode, std::string stateDir, std::string name,
                                 std::string instance, ServerHooks hooks)
    : mode_(mode), path_(FileIn(stateDir, kApprovedSetFile)), name_(std::move(name)),
      hooks_(std::move(hooks)), instance_(std::move(instance)) {}

bool ParameterServer::Load(std::string &error) {
    return mode_ == ServerMode::Off || ReadApprovedSet(path_, approved_, error);
}

std::string ParameterServer::StateJson() const {
    std::string approved = "null", eeprom = "null", match = "null", differs = "[]", last = "null";
    if (approved_)
        approved = "{\"words\":" + WordsJson(approved_->words) +
                   ",\"fingerprint\":" + JsonString(approved_->fingerprint) +
                   ",\"firmware\":" + JsonString(approved_->firmware) +
                   ",\"stored\":" + Seconds(approved_->storedMs) +
                   ",\"by\":" + JsonString(approved_->by) + "}";
    if (eeprom_)
        eeprom = "{\"words\":" + WordsJson(*eeprom_) +
                 ",\"fingerprint\":" + JsonString(FingerprintOf(*eeprom_)) +
                 ",\"time\":" + publish::TimeJson(eepromTime_) + "}";
    if (approved_ && eeprom_) {
        match   = approved_->words == *eeprom_ ? "true" : "false";
        differs = DiffersJson(approved_->words, *eeprom_);
    }
    if (lastRestore_)
        last = "{\"time\":" + publish::TimeJson(lastRestore_->time) +
               ",\"result\":" + JsonString(lastRestore_->result) +
               ",\"text\":" + JsonString(lastRestore_->text) + "}";
    return "{\"mode\":" + JsonString(ModeName(mode_)) + ",\"approved\":" + approved +
           ",\"eeprom\":" + eeprom + ",\"match\":" + match + ",\"differs\":" + differs +
           ",\"last_restore\":" + last + ",\"instance\":" + JsonString(instance_) + "}";
}

void ParameterServer::Publish() const {
    if (hooks_.parameters)
        hooks_.parameters(StateJson());
}

void ParameterServer::Event(const std::string &event, const std::string &text,
                            const std::string &members) {
    if (hooks_.event)
        hooks_.event("{\"time\":" + publish::TimeJson(publish::UnixNow()) +
                     ",\"event\":" + JsonString(event) + ",\"text\":" + JsonString(text) + members +
                     ",\"instance\":" + JsonString(instance_) + "}");
}

void ParameterServer::NoteEeprom(const com232::Words &words) {
    eeprom_     = words;
    eepromTime_ = publish::UnixNow();
}

void ParameterServer::SeenEeprom(const com232::Words &words) {
    const bool changed = eeprom_ != words;
    NoteEeprom(words);
    if (changed && mode_ != ServerMode::Off)
        Publish();
}

bool ParameterServer::KeepApproved(const ApprovedSet &set, std::string &error) {
    if (!WriteApprovedSet(path_, set, error))
        return false;
    approved_ = set;
    return true;
}

job::Task<std::optional<com232::Words>> ParameterServer::ReadEeprom(com232::Line &line) {
    line.ReopenLostPort();
    const com232::ParameterRead read = co_await line.ReadParameterWords(Target::EEPROM);
    if (read.words)
        NoteEeprom(*read.words);
    co_return read.words;
}

job::Task<void> ParameterServer::AtStartUp(com232::Line &line) {
    if (mode_ == ServerMode::Off)
        co_return;
    const std::optional<com232::Words> held = co_await ReadEeprom(line);
    if (!held) {
        Publish();
        co_return;
    }
    if (!approved_ && mode_ == ServerMode::Backup) {
        Keep(*held, line.Firmware(), kServer);
        co_return;
    }
    if (approved_ && mode_ == ServerMode::Restore && approved_->words != *held) {
        Event("difference", "the controller's EEPROM set differs from the approved set",
              ",\"differs\":" + DiffersJson(approved_->words, *held) +
                  ",\"fingerprint\":" + JsonString(FingerprintOf(*held)));
        const ServerResult restored = co_await Restore(line, {}, audit::Origin::ParameterServer);
        (void)restored;
        co_return;
    }
    if (hooks_.refusal)
        hooks_.refusal({});
    Publish();
}

job::Task<ServerResult> ParameterServer::Store(com232::Line &line, std::string by) {
    ServerResult result;
    // Off keeps no approved set: one stored now would be read by nobody after a restart.
    if (mode_ == ServerMode::Off) {
        result.code = ResultCode::Refused;
        result.text = "this line's parameter server is off: it keeps no approved set";
        co_return result;
    }
    const std::optional<com232::Words> held = co_await ReadEeprom(line);
    if (!held) {
        result.code = ResultCode::NoReply;
        result.text = "the controller did not answer the read of its EEPROM";
        Publish();
        co_return result;
    }
    co_return Keep(*held, line.Firmware(), by);
}

// The controller's EEPROM set held, as read, becomes the approved set.
ServerResult ParameterServer::Keep(const com232::Words &held, const std::string &firmware,
                                   const std::string &by) {
    ServerResult result;
    const ApprovedSet set = MakeApprovedSet(held, firmware, by);
    std::string error;
    if (!KeepApproved(set, error)) {
        result.code = ResultCode::FileFailed;
        result.text = error;
        Publish();
        return result;
    }
    result.approved = set;
    result.text     = "the controller's EEPROM set is the approved set now";
    Event("store", result.text,
          ",\"fingerprint\":" + JsonString(set.fingerprint) + ",\"by\":" + JsonString(set.by));
    if (hooks_.refusal)
        hooks_.refusal({});
    Publish();
    return result;
}

job::Task<ServerResult> ParameterServer::Restore(com232::Line &line, std::string operatorName,
                                                 audit::Origin origin) {
    ServerResult result;
    const auto finish = [&](ResultCode code, std::string text) {
        result.code  = code;
        result.text  = std::move(text);
        lastRestore_ = Last{publish::UnixNow(), RestoreResult(code), result.text};
        Publish();
    };
    if (!approved_) {
        finish(ResultCode::Refused, "no approved set is stored for " + name_);
        co_return result;
    }
    result.approved = approved_;
    if (!SameFirmware(*approved_, line.Firmware())) {
        const std::string text =
            "not written: the controller's firmware \"" + PrintableText(line.Firmware()) +
            "\" is not that of the approved set, \"" + PrintableText(approved_->firmware) + "\"";
        Event("refused", text, ",\"firmware\":" + JsonString(line.Firmware()));
        if (hooks_.refusal)
            hooks_.refusal(text);
        finish(ResultCode::Refused, text);
        co_return result;
    }
    // What each memory held before, where it is known: EEPROM as read, RAM as fetched.
    const std::optional<com232::Words> eepromBefore = eeprom_;
    const com232::Words ramBefore                   = com232::WordsOf(line.ParameterSet());
    const com232::Words &words                      = approved_->words;
    for (const Target target : {Target::EEPROM, Target::RAM}) {
        line.ShowStatus(status::kTransmit);
        const bool sent = steps::Send(line, target, com232::ParametersOf(words)).ok();
        audit::Record record =
            audit::MakeRecord(origin, "restore", target == Target::EEPROM ? "eeprom" : "ram");
        record.operatorName = operatorName;
        record.words        = words;
        record.replaced =
            target == Target::EEPROM ? eepromBefore : std::optional<com232::Words>(ramBefore);
        record.result   = ResultCodeName(sent ? ResultCode::Ok : ResultCode::WriteFailed);
        record.exitCode = ExitCodeOf(sent ? ResultCode::Ok : ResultCode::WriteFailed);
        if (hooks_.wrote)
            hooks_.wrote(std::move(record));
        if (!sent) {
            finish(ResultCode::WriteFailed, "the approved set could not be written to the port");
            co_return result;
        }
        co_await line.Pause(kSettleSeconds);
    }
    result.eepromRead               = co_await ReadEeprom(line);
    const com232::ParameterRead ram = co_await line.ReadParameterWords(Target::RAM);
    result.ramRead                  = ram.words;
    if (ram.words)
        line.SetParameterSet(com232::ParametersOf(*ram.words));
    if (!result.eepromRead || !result.ramRead) {
        finish(ResultCode::NoReply, "the controller did not answer the read-back");
        co_return result;
    }
    if (*result.eepromRead != words || *result.ramRead != words) {
        finish(ResultCode::Differs, "the set read back differs from the approved set");
        Event("restore", result.text, ",\"result\":\"Differs\"");
        co_return result;
    }
    finish(ResultCode::Ok, "the approved set was written to EEPROM and RAM and read back");
    Event("restore", result.text,
          ",\"result\":\"Ok\",\"fingerprint\":" + JsonString(approved_->fingerprint));
    if (hooks_.refusal)
        hooks_.refusal({});
    co_return result;
}

} // namespace plant
