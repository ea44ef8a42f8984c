// The operator's steps on the line: send, teach, reset and the data curve.
#include "steps.h"

#include "platform/panel/events.h"
#include "platform/serial/serial.h"

#include <algorithm>

namespace steps {

namespace {

using com232::Command;
using com232::GraphSource;
using com232::Target;
using com232::WaitOutcome;
using com232::WaitRule;
using status::Result;

constexpr double kTeachTimeout = 1.5;
constexpr double kResetTimeout = 1.5;

// Teach and reset read the clock before they sleep and judge that reading after it, so a
// reply in the last sleep does not save them.
constexpr WaitRule kCommandWait{
    .seconds = kTeachTimeout, .expiresAtBoundary = true, .judgeAfterSleep = true};
static_assert(kTeachTimeout == kResetTimeout);

// NORM is the sum of the two channels, two blocks; RAW is both, four.
constexpr int kNormBlocks = 2;
constexpr int kRawBlocks  = 4;

// Flushes both queues and writes a request carrying the line's set.
bool SendSet(com232::Line &line, Command command) {
    line.FlushBoth();
    return line.SendRequest(command);
}

} // namespace

Outcome Send(com232::Line &line, Target target, const com232::Parameters &set) {
    line.ReopenLostPort();
    line.SetParameterSet(set);
    if (!line.SendRequest(target == Target::EEPROM ? Command::WriteEeprom : Command::WriteRam))
        return {Result::WriteFailed, "the parameter set could not be written to the port",
                GetLostDiagnosis(line.Port())};
    line.ShowStatus(status::kTransmitOk);
    return {Result::Ok, status::kTransmitOk, status::ParametersSent(com232::MemoryName(target))};
}

job::Task<Taught> Teach(com232::Line &line) {
    line.ReopenLostPort();
    if (SendSet(line, Command::Teach))
        line.ShowStatus(status::kLineOk);
    const WaitOutcome wait = co_await line.WaitForReply(kCommandWait, Timer());
    // A time-out judged at exactly its time still counts as taught. Only an answer shows that
    // the controller's reference may now differ from the one sent, also one in the last sleep
    // that came too late for the text.
    const bool answered = wait.reply.has_value();
    if (wait.elapsed <= kTeachTimeout) {
        line.ShowStatus(status::kTeachActivated);
        co_return Taught{{Result::Ok, status::kTeachActivated, answered ? status::kTaught : ""},
                         answered};
    }
    line.ShowStatus(status::kNoCommandReply);
    co_return Taught{{Result::NoReply, status::kNoCommandReply, line.NoAnswerDetail(wait.elapsed)},
                     answered};
}

job::Task<Outcome> Reset(com232::Line &line) {
    line.ReopenLostPort();
    if (SendSet(line, Command::Reset))
        line.ShowStatus(status::kLineOk);
    const WaitOutcome wait = co_await line.WaitForReply(kCommandWait, Timer());
    // The fetch has a wait of its own: once the reply came, no time-out text of the reset
    // follows, however long the fetch took.
    if (wait.replied()) {
        Outcome fetched = co_await line.PushGET(Target::RAM);
        if (fetched.ok())
            fetched.detail = status::kRamReloaded;
        co_return fetched;
    }
    if (wait.elapsed > kResetTimeout) {
        line.ShowStatus(status::kNoCommandReply);
        co_return Outcome{Result::NoReply, status::kNoCommandReply,
                          line.NoAnswerDetail(wait.elapsed)};
    }
    co_return Outcome{Result::NoReply, {}, line.NoAnswerDetail(wait.elapsed)};
}

job::Task<Captured> Capture(com232::Line &line, GraphSource source) {
    line.ReopenLostPort();
    // The blocks are longer than a frame: the block read takes them from the queue itself.
    line.DetachReceiveCallback();
    line.FlushBoth();
    // Any value but NORM's fetches the RAW blocks, with the value the switch holds.
    const int blocks = source == GraphSource::Norm ? kNormBlocks : kRawBlocks;
    Captured captured;
    for (int block = 0; block < blocks; ++block) {
        const com232::BlockRead read =
            co_await line.ReadData64(block * com232::kBlockWords, source, Command::DataBlock);
        captured.outcome = status::FirstFailure(captured.outcome, read.outcome);
    }
    line.AttachReceiveCallback();
    line.FlushBoth();

    line.SendFrameWords(Command::Live);
    const WaitOutcome closing = co_await line.WaitRxFull();
    if (!closing.replied())
        captured.outcome =
            status::FirstFailure(captured.outcome, {Result::NoReply, status::kNoFetchReply,
                                                    line.NoAnswerDetail(closing.elapsed)});
    // A reply that came in the pass that timed out still counts.
    captured.closing  = com232::DecodeLiveReply(line.FrameWords());
    captured.answered = closing.reply.has_value();
    FlushOutQ(line.Port());
    FlushInQ(line.Port());
    co_return captured;
}

gui::DataCurve CurveOf(const com232::Line &line, GraphSource source, std::uint16_t upper,
                       std::uint16_t lower, std::uint16_t reference) {
    gui::DataCurve curve;
    curve.source = source;
    std::copy_n(line.Curves().a.begin(), gui::kCurvePoints, curve.a.begin());
    std::copy_n(line.Curves().b.begin(), gui::kCurvePoints, curve.b.begin());
    curve.upper.fill(upper);
    curve.lower.fill(lower);
    curve.reference.fill(reference);
    return curve;
}

} // namespace steps
