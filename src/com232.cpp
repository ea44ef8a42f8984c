// Device link: frames and replies as values, and the line with its queue of jobs.
#include "com232.h"

#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"

#include <algorithm>
#include <coroutine>
#include <utility>

namespace com232 {

namespace {

constexpr int kBufferSize               = 1024;
constexpr int kVersionSize              = 64;     // the firmware text of a variant-0 board
constexpr int eventMask                 = 0x8006; // receive, event character, output queue empty
constexpr int kSync                     = 0x55;
constexpr long kBaudRate                = 19200;
constexpr int kParityNone               = 0;
constexpr int kDataBits                 = 8;
constexpr int kStopBits                 = 1;
constexpr int kQueueSize                = 4096;
constexpr int kNoHandshake              = 0;
constexpr std::uint16_t kEchoMarker     = 0x00AA;
constexpr int kFirmwareLength100        = 72;
constexpr int kFirmwareLength0          = 64;
constexpr double kRunTimeout            = 2.0;
constexpr const char *kBlockWrongLength = "a data block came with the wrong length";

// Word i of a frame is this parameter variable, in both directions.
constexpr std::uint16_t Parameters::*kWordVariable[PNUM] = {
    &Parameters::power,  &Parameters::reference, &Parameters::hysteresis, &Parameters::polarity,
    &Parameters::hold,   &Parameters::hwmode,    &Parameters::average,    &Parameters::evalmode,
    &Parameters::mmtime, &Parameters::mmthd,     &Parameters::sdelay,     &Parameters::para12,
    &Parameters::para13, &Parameters::para14,    &Parameters::para15,     &Parameters::para16,
};

std::uint16_t WordAt(const std::uint8_t *bytes, int offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

void PutWord(std::uint8_t *bytes, int offset, unsigned value) {
    bytes[offset]     = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<std::uint8_t>(value);
}

void FlushPort(int port) {
    FlushInQ(port);
    FlushOutQ(port);
}

int OpenPort(int port) {
    return OpenComConfig(port, "", kBaudRate, kParityNone, kDataBits, kStopBits, kQueueSize,
                         kQueueSize);
}

// The memory a read of target asks for.
Command ReadCommand(Target target) {
    return target == Target::EEPROM ? Command::ReadEeprom : Command::ReadRam;
}

} // namespace

// --- Frames ---

Frame EncodeRequest(Command command, const Words &words) {
    Frame frame{};
    PutWord(frame.data(), 0, kSync);
    PutWord(frame.data(), 2, static_cast<unsigned>(command));
    for (int i = 0; i < PNUM; ++i)
        PutWord(frame.data(), 4 + 2 * i, words[i]);
    return frame;
}

Frame EncodeBlockRequest(int start, GraphSource source, Command command) {
    Frame frame{};
    PutWord(frame.data(), 0, kSync);
    PutWord(frame.data(), 2, static_cast<unsigned>(command));
    PutWord(frame.data(), 4, static_cast<unsigned>(start) & 0xFFFF);
    PutWord(frame.data(), 6, static_cast<unsigned>(source) & 0xFFFF);
    return frame;
}

Reply DecodeReply(const std::uint8_t *frame) {
    Reply reply;
    reply.command = WordAt(frame, 2);
    for (int i = 0; i < PNUM; ++i)
        reply.words[i] = WordAt(frame, 4 + 2 * i);
    return reply;
}

DataBlock DecodeBlock(int start, const std::uint8_t *bytes) {
    DataBlock block;
    block.start = start;
    for (int i = 0; i < kBlockWords; ++i)
        block.words[i] = WordAt(bytes, 2 * i);
    return block;
}

void DecodeFirmware100(const unsigned char *reply, char *text, int size) {
    if (size <= 0)
        return;
    int n = 0;
    while (n < kFirmwareLength100 && n < size - 1 && reply[n] != 0) {
        text[n] = static_cast<char>(reply[n]);
        ++n;
    }
    text[n] = '\0';
}

void DecodeFirmware0(const unsigned char *reply, char *text, int size) {
    if (size <= 0)
        return;
    constexpr int kWords = kFirmwareLength0 / 2;
    int n                = 0;
    while (n < kWords && n < size - 1 && reply[2 * n + 1] != 0) {
        text[n] = static_cast<char>(reply[2 * n + 1]);
        ++n;
    }
    text[n] = '\0';
}

const char *OpenErrorText(int result) {
    switch (result) {
    case kComErrUnknownSystem:
        return status::kOpenUnknownSystem;
    case kComErrInvalidPort:
        return status::kOpenInvalidPort;
    case kComErrPortNotOpen:
        return status::kOpenPortNotOpen;
    case kComErrIO:
        return status::kOpenIO;
    case kComErrNoPortFound:
        return status::kOpenNoPortFound;
    case kComErrCannotOpen:
        return status::kOpenCannotOpen;
    case kComErrInvalidParameter:
        return status::kOpenInvalidParameter;
    case kComErrTimeout:
        return status::kOpenTimeout;
    default:
        return status::kOpenOther;
    }
}

const char *MemoryName(Target target) {
    return target == Target::EEPROM ? "EEPROM" : "RAM";
}

// --- Values ---

std::uint16_t ParameterWord(const Parameters &params, int i) {
    return params.*kWordVariable[i];
}

Words WordsOf(const Parameters &params) {
    Words words{};
    for (int i = 0; i < PNUM; ++i)
        words[i] = ParameterWord(params, i);
    return words;
}

Parameters ParametersOf(const Words &words) {
    Parameters params{};
    for (int i = 0; i < PNUM; ++i)
        params.*kWordVariable[i] = words[i];
    return params;
}

LiveReply DecodeLiveReply(const Words &words) {
    return {words[0], words[1], words[2], words[3], words[4],
            words[5], words[6], words[7], words[8]};
}

// --- The sleep of a wait ---

// Parks the job until the next thing that can change what its wait decides: a reply handed
// to it (a frame wait), the bytes it polls for (a poll), its time-out, or Stop. A reply that
// is there already, or a time-out that has passed, wakes it once what is pending has been
// processed, as one pass of event processing would.
class Line::Sleep {
  public:
    Sleep(Line &line, const WaitRule &rule, double until, std::optional<Reply> *delivered)
        : line_(line), bytes_(rule.bytes), stoppable_(rule.stoppable), until_(until),
          delivered_(delivered) {}
    ~Sleep() { Leave(); }
    Sleep(const Sleep &)            = delete;
    Sleep &operator=(const Sleep &) = delete;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> job) {
        line_.waiter_.Park(job);
        line_.delivered_ = delivered_;
        line_.stoppable_ = stoppable_;
        line_.polling_   = bytes_ > 0;
        const bool now   = delivered_ && delivered_->has_value();
        line_.timer_     = StartTimer(now ? 0.0 : until_ - Timer(), OnTimer, &line_);
        parked_          = true;
        if (bytes_ > 0)
            InstallComCallback(line_.com_, kComEventReceive, bytes_, kSync, RX_Poll_Function,
                               &line_);
    }
    void await_resume() { Leave(); }

  private:
    void Leave() {
        if (!parked_)
            return;
        parked_ = false;
        CancelTimer(line_.timer_);
        line_.timer_     = 0;
        line_.delivered_ = nullptr;
        line_.stoppable_ = false;
        line_.waiter_.Forget();
        // A poll's bytes are taken by the step itself; nothing reads them meanwhile.
        if (line_.polling_)
            line_.DetachReceiveCallback();
        line_.polling_ = false;
    }

    Line &line_;
    int bytes_;
    bool stoppable_;
    double until_;
    std::optional<Reply> *delivered_;
    bool parked_ = false;
};

// --- The line ---

Line::Line(int port) : com_(port) {}

Line::~Line() {
    CancelTimer(timer_);
    timer_ = 0;
    queue_.clear();
    if (serving_)
        server_.Destroy();
    waiter_.Forget();
    InstallComCallback(com_, 0, kReplyLength, kSync, nullptr, nullptr);
}

void Line::InstallSinks(Sinks sinks) {
    sinks_ = std::move(sinks);
}

int Line::AddLiveListener(LiveListener listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void Line::RemoveLiveListener(int id) {
    std::erase_if(listeners_, [id](const auto &entry) { return entry.first == id; });
}

void Line::InitVars() {
    pcbtype_ = kBoard0;
    firmware_.clear();
    szStatus_   = status::kInitVars;
    target_     = Target::RAM;
    params_     = kDefaultParameters;
    frameWords_ = {};
    curves_     = {};
}

void Line::ShowStatus(const char *text) const {
    lastShown_ = text;
    if (sinks_.showStatus)
        sinks_.showStatus(text);
}

void Line::Explain(const std::string &detail) const {
    if (sinks_.explainStatus)
        sinks_.explainStatus(detail.c_str());
    if (!detail.empty())
        TraceDiagnosis(detail.c_str());
}

void Line::FillCurves(std::uint16_t a, std::uint16_t b) {
    std::fill_n(curves_.a.begin(), kCurvePoints, a);
    std::fill_n(curves_.b.begin(), kCurvePoints, b);
}

void Line::ClearCurves() {
    FillCurves(0, 0);
}

// Where the 64 words of a block go, by its start index; null for an unknown block.
std::uint16_t *Line::BlockDestination(int start) {
    switch (start) {
    case 0:
        return curves_.a.data();
    case 64:
        return curves_.a.data() + kBlockWords;
    case 128:
        return curves_.b.data();
    case 192:
        return curves_.b.data() + kBlockWords;
    default:
        return nullptr;
    }
}

// --- Jobs ---

void Line::Queue(job::Task<void> job) {
    queue_.push_back(std::move(job));
    // A job that holds the line in a long wait lets the new one run now.
    if (takingTurns_ && waiter_.Waiting()) {
        CancelTimer(timer_);
        timer_ = StartTimer(0, OnTimer, this);
    }
    if (serving_)
        return;
    serving_ = true;
    server_  = Serve();
    server_.Start();
}

bool Line::Idle() const {
    return !serving_ && queue_.empty();
}

job::Detached Line::Serve() {
    while (!queue_.empty()) {
        co_await DrainOpenExchange();
        job::Task<void> next = std::move(queue_.front());
        queue_.pop_front();
        co_await next;
    }
    serving_ = false;
    if (std::function<void()> ended = std::exchange(ended_, nullptr))
        ended();
}

void Line::EndAfterCurrentJob(std::function<void()> ended) {
    queue_.clear();
    if (serving_)
        ended_ = std::move(ended);
    else if (ended)
        ended();
}

job::Task<void> Line::TakeTurn() {
    while (!queue_.empty()) {
        job::Task<void> next = std::move(queue_.front());
        queue_.pop_front();
        co_await next;
    }
}

job::Task<void> Line::Pause(double seconds) {
    const double until = Timer() + seconds;
    stoppedInPause_    = false;
    const WaitRule stoppable{.stoppable = true};
    while (!stoppedInPause_ && Timer() < until)
        co_await Sleep(*this, stoppable, until, nullptr);
}

job::Task<void> Line::PauseTakingTurns(double seconds) {
    const double until = Timer() + seconds;
    stoppedInPause_    = false;
    const WaitRule stoppable{.stoppable = true};
    while (!stoppedInPause_ && Timer() < until) {
        if (!queue_.empty()) {
            co_await TakeTurn();
            continue;
        }
        takingTurns_ = true;
        co_await Sleep(*this, stoppable, until, nullptr);
        takingTurns_ = false;
    }
}

// A request whose wait Stop ended is still on the line: its reply, or its time-out, ends
// the exchange before the next job writes, so bytes of two exchanges never interleave.
job::Task<void> Line::DrainOpenExchange() {
    std::optional<Reply> reply;
    const WaitRule frame{};
    while (openExchangeUntil_ >= 0 && !reply && Timer() <= openExchangeUntil_)
        co_await Sleep(*this, frame, openExchangeUntil_, &reply);
    openExchangeUntil_ = -1;
}

void Line::OnTimer(void *line) {
    auto &self  = *static_cast<Line *>(line);
    self.timer_ = 0;
    self.waiter_.Resume();
}

void Line::Wake() {
    CancelTimer(timer_);
    timer_ = 0;
    waiter_.Resume();
}

void Line::RequestStop() {
    stopRequested_  = true;
    stoppedInPause_ = true;
    // The job goes on once the event in which Stop came has been processed, as it did when
    // the run looked at its flag after processing events.
    if (waiter_.Waiting() && stoppable_) {
        CancelTimer(timer_);
        timer_ = StartTimer(0, OnTimer, this);
    }
}

void Line::RequestStopAfterExchange() {
    stopAfterExchange_ = true;
    stoppedInPause_    = true;
    if (waiter_.Waiting() && stoppable_ && !running_) {
        CancelTimer(timer_);
        timer_ = StartTimer(0, OnTimer, this);
    }
}

// --- The run ---

void Line::PassOn(const LiveReply &reply, double now) {
    // A listener may add or remove listeners; those called are the ones of this reply.
    const std::vector<std::pair<int, LiveListener>> listeners = listeners_;
    for (const auto &[id, listener] : listeners)
        if (listener.reply)
            listener.reply(reply, now);
}

job::Task<Outcome> Line::RunLive() {
    // One request outstanding: the reply is looked at first, then the clock; Stop is seen
    // after the events in which it was pressed.
    constexpr WaitRule kRunWait{.seconds = kRunTimeout, .stoppable = true};
    ReopenLostPort();
    FlushBoth();
    if (SendRequest(Command::Live))
        ShowStatus(status::kLineOk);
    // The window restarts with every request: it measures the silence since the latest.
    double requested   = Timer();
    running_           = true;
    stopRequested_     = false;
    stopAfterExchange_ = false;
    for (const auto &[id, listener] : std::vector(listeners_))
        if (listener.runStarted)
            listener.runStarted(requested);

    Outcome outcome;
    for (;;) {
        const WaitOutcome wait = co_await WaitForReply(kRunWait, requested);
        if (wait.end == WaitEnd::Stopped) {
            openExchangeUntil_ = requested + kRunTimeout;
            break;
        }
        if (wait.end == WaitEnd::TimedOut) {
            ShowStatus(status::kNoReply);
            outcome = {status::Result::NoReply, status::kNoReply, NoAnswerDetail(wait.elapsed)};
            break;
        }
        // Passed on before the next request is built, so that a listener's Stop sends no
        // more.
        PassOn(DecodeLiveReply(wait.reply->words), Timer());
        if (stopRequested_ || stopAfterExchange_)
            break;
        co_await TakeTurn();
        if (stopRequested_ || stopAfterExchange_)
            break;
        FlushBoth();
        requested = Timer();
        SendRequest(Command::Live);
        for (const auto &[id, listener] : std::vector(listeners_))
            if (listener.requested)
                listener.requested(Timer());
    }
    running_ = false;
    FlushBoth();
    for (const auto &[id, listener] : std::vector(listeners_))
        if (listener.runEnded)
            listener.runEnded(outcome);
    co_return outcome;
}

// --- Requests ---

bool Line::WriteFrame(const Frame &frame) {
    return ComWrt(com_, frame.data(), kFrameLength) == kFrameLength;
}

Words Line::CopyVarsToPP() {
    frameWords_ = WordsOf(params_);
    return frameWords_;
}

void Line::LoadFrameWords(const Words &words) {
    frameWords_ = words;
    params_     = ParametersOf(words);
}

bool Line::SendRequest(Command command) {
    CopyVarsToPP();
    return SendFrameWords(command);
}

bool Line::SendFrameWords(Command command) {
    return WriteFrame(EncodeRequest(command, frameWords_));
}

void Line::FlushBoth() {
    FlushPort(com_);
}

// --- Port set-up and line check ---

void Line::AttachReceiveCallback() {
    InstallComCallback(com_, eventMask, kReplyLength, kSync, RX_Receive_Function, this);
}

void Line::DetachReceiveCallback() {
    InstallComCallback(com_, 0, kReplyLength, kSync, nullptr, nullptr);
}

// Everything of the set-up that an open port needs before the first request.
void Line::SetUpOpenPort(int port) {
    SetComTime(port, kPortTimeout);
    FlushPort(port);
    SetCTSMode(port, kNoHandshake);
    InstallComCallback(port, eventMask, kReplyLength, kSync, RX_Receive_Function, this);
}

std::string Line::NoAnswerDetail(double waited) const {
    const std::string lost = GetLostDiagnosis(com_);
    return lost.empty() ? status::NoAnswer(com_, PortDevice(com_), waited) : lost;
}

bool Line::ReopenLostPort() {
    if (*GetLostDiagnosis(com_) == '\0' || OpenPort(com_) < 0)
        return false;
    SetUpOpenPort(com_);
    TraceDiagnosis(status::PortReopened(com_, PortDevice(com_)).c_str());
    return true;
}

job::Task<Outcome> Line::InitRS232(int port) {
    com_             = port;
    const int opened = OpenPort(port);
    Outcome outcome;
    if (opened < 0) {
        SetStatus(OpenErrorText(opened));
        outcome = {status::Result::PortFailed, szStatus_, GetOpenDiagnosis()};
    } else {
        SetUpOpenPort(port);
        const LineCheck check = co_await CheckComLine(port);
        outcome               = check.outcome;
        if (check.line != LineCheckResult::Failed) {
            target_                      = Target::RAM;
            const Outcome fetched        = co_await PushGET(Target::RAM);
            outcome                      = status::FirstFailure(outcome, fetched);
            const FirmwareQuery firmware = co_await GetVERSIONInfo();
            outcome                      = status::FirstFailure(outcome, firmware.outcome);
            if (firmware.queued < kFirmwareLength0)
                SetStatus(status::kFirmwareTooShort);
        }
    }
    ShowStatus();
    if (outcome.ok())
        outcome.text = szStatus_;
    // The status text only names a failure; the tip says why and what helps, and a good
    // set-up takes it away. The open's own cause is in the trace already.
    if (outcome.result == status::Result::PortFailed && sinks_.explainStatus)
        sinks_.explainStatus(outcome.detail.c_str());
    else
        Explain(outcome.detail);
    co_return outcome;
}

job::Task<LineCheck> Line::CheckComLine(int port) {
    const Frame request = EncodeRequest(Command::Echo, CopyVarsToPP());
    FlushPort(port);
    // The echo is read directly from the queue, as a read of 36 bytes with the port's
    // time-out would take it; the receive callback must not take it as a reply.
    DetachReceiveCallback();
    const double start = Timer();
    ComWrt(port, request.data(), kFrameLength);
    // The controller needs the pause to turn the line round.
    const double paused = Timer() + kEchoPause;
    while (Timer() < paused)
        co_await Sleep(*this, WaitRule{}, paused, nullptr);
    constexpr WaitRule kEchoRead{
        .seconds = kPortTimeout, .expiresAtBoundary = true, .bytes = kReplyLength};
    const WaitOutcome read          = co_await WaitForReply(kEchoRead, Timer());
    std::uint8_t echo[kReplyLength] = {};
    const int received =
        read.queued > 0 ? ComRd(port, echo, std::min(read.queued, kReplyLength)) : 0;
    AttachReceiveCallback();

    LineCheck check;
    if (received != kReplyLength) {
        SetStatus(status::kNoEcho);
        check.outcome = {status::Result::NoReply, status::kNoEcho,
                         status::NoAnswer(port, PortDevice(port), Timer() - start)};
    } else {
        const std::uint16_t w0 = WordAt(echo, 0);
        const std::uint16_t w2 = WordAt(echo, 4);
        if (w0 != kEchoMarker && w2 != kEchoMarker) {
            SetStatus(status::kBadEcho);
            check.outcome = {status::Result::BadReply, status::kBadEcho,
                             status::NotTheEcho(port, PortDevice(port))};
        } else {
            SetStatus(status::kEchoOk);
            check.outcome = {status::Result::Ok, status::kEchoOk};
            if (w0 == kEchoMarker) {
                check.line = LineCheckResult::Board100;
                pcbtype_   = kBoard100;
            }
            // A marker in both places means the variant-0 board.
            if (w2 == kEchoMarker) {
                check.line = LineCheckResult::Board0;
                pcbtype_   = kBoard0;
            }
        }
    }
    ShowStatus();
    co_return check;
}

job::Task<FirmwareQuery> Line::GetVERSIONInfo() {
    const int expected = pcbtype_ == kBoard0 ? kFirmwareLength0 : kFirmwareLength100;
    // The reply is longer than a frame: take it from the queue without the callback.
    DetachReceiveCallback();
    FlushBoth();
    SendFrameWords(Command::Firmware);
    ShowStatus(status::kFirmwareWaiting);

    const WaitRule poll{.seconds = kReplyTimeout, .replyBeatsClock = false, .bytes = expected};
    const WaitOutcome wait = co_await WaitForReply(poll, Timer());
    FirmwareQuery query{wait.queued, {}};
    if (!wait.replied()) {
        SetStatus(status::kNoFirmware);
        query.outcome = {status::Result::NoReply, status::kNoFirmware,
                         NoAnswerDetail(wait.elapsed)};
    }

    firmware_.clear();
    std::uint8_t reply[kBufferSize];
    const int received =
        wait.queued > 0 ? ComRd(com_, reply, std::min(wait.queued, kBufferSize)) : 0;
    if (received == expected) {
        char text[kFirmwareLength100 + 1];
        if (expected == kFirmwareLength0)
            DecodeFirmware0(reply, text, kVersionSize);
        else
            DecodeFirmware100(reply, text, sizeof text);
        firmware_ = text;
        SetStatus(firmware_);
    }

    AttachReceiveCallback();
    FlushBoth();
    ShowStatus();
    if (query.outcome.ok())
        query.outcome.text = szStatus_;
    co_return query;
}

job::Task<Outcome> Line::PushGET(Target target) {
    Outcome outcome;
    if (target != Target::DATFILE) {
        FlushBoth();
        if (SendRequest(ReadCommand(target)))
            ShowStatus(status::kFetchWaiting);
        const WaitOutcome wait = co_await WaitRxFull();
        // A reply that came in the pass that timed out is still taken.
        if (wait.reply) {
            params_ = ParametersOf(wait.reply->words);
            ShowStatus(status::kFetchReceived);
            if (sinks_.showParameters)
                sinks_.showParameters(params_);
        }
        if (!wait.replied())
            outcome = {status::Result::NoReply, status::kNoFetchReply,
                       NoAnswerDetail(wait.elapsed)};
    }
    ShowStatus();
    if (outcome.ok())
        outcome.text = szStatus_;
    co_return outcome;
}

job::Task<ParameterRead> Line::ReadParameterWords(Target target) {
    // The reply is looked at first in every pass, then the clock.
    constexpr WaitRule kGetWait{.seconds = kReplyTimeout};
    FlushBoth();
    if (SendRequest(ReadCommand(target)))
        ShowStatus(status::kTransmitOk);
    const WaitOutcome wait = co_await WaitForReply(kGetWait, Timer());
    if (!wait.replied()) {
        ShowStatus(status::kNoReply);
        co_return ParameterRead{
            std::nullopt,
            {status::Result::NoReply, status::kNoReply, NoAnswerDetail(wait.elapsed)}};
    }
    ShowStatus(status::kDataTransferOk);
    co_return ParameterRead{
        wait.reply->words,
        {status::Result::Ok, status::kDataTransferOk, status::ParametersRead(MemoryName(target))}};
}

// --- Receive callback and the reply wait ---

void Line::RX_Receive_Function(int, int eventBits, void *callbackData) {
    if (!(eventBits & kComEventReceive))
        return;
    Line &line                       = *static_cast<Line *>(callbackData);
    std::uint8_t bytes[kReplyLength] = {};
    ComRd(line.com_, bytes, kReplyLength);
    const Reply reply = DecodeReply(bytes);
    line.frameWords_  = reply.words;
    // Bytes beyond the frame belong to nothing the program asked for.
    FlushInQ(line.com_);
    if (line.delivered_ && line.waiter_.Waiting()) {
        *line.delivered_ = reply;
        line.Wake();
    }
}

void Line::RX_Poll_Function(int, int eventBits, void *callbackData) {
    Line &line = *static_cast<Line *>(callbackData);
    if ((eventBits & kComEventReceive) && line.polling_ && line.waiter_.Waiting())
        line.Wake();
}

namespace {

// What has come so far; a poll notes the bytes it saw.
bool Arrived(int port, const WaitRule &rule, WaitOutcome &outcome) {
    if (rule.bytes == 0)
        return outcome.reply.has_value();
    outcome.queued = std::max(GetInQLen(port), 0);
    return outcome.queued >= rule.bytes;
}

} // namespace

job::Task<WaitOutcome> Line::WaitForReply(WaitRule rule, double since) {
    WaitOutcome outcome;
    const double until = since + rule.seconds;
    if (rule.sleepFirst)
        co_await Sleep(*this, rule, until, &outcome.reply);
    for (;;) {
        const bool arrived = Arrived(com_, rule, outcome);
        if (arrived && rule.replyBeatsClock) {
            outcome.end = WaitEnd::Replied;
            co_return outcome;
        }
        outcome.elapsed    = Timer() - since;
        const bool expired = rule.expiresAtBoundary ? outcome.elapsed >= rule.seconds
                                                    : outcome.elapsed > rule.seconds;
        if (expired && !rule.judgeAfterSleep) {
            outcome.end = WaitEnd::TimedOut;
            co_return outcome;
        }
        if (arrived) {
            outcome.end = WaitEnd::Replied;
            co_return outcome;
        }
        co_await Sleep(*this, rule, until, &outcome.reply);
        if (expired) {
            outcome.end = WaitEnd::TimedOut;
            co_return outcome;
        }
        if (rule.stoppable && stopRequested_) {
            outcome.end = WaitEnd::Stopped;
            co_return outcome;
        }
    }
}

job::Task<WaitOutcome> Line::WaitRxFull() {
    // Events first, then the clock before the flag: a reply that comes with the time-out
    // still loses.
    const WaitRule rule{.seconds = kReplyTimeout, .replyBeatsClock = false, .sleepFirst = true};
    const WaitOutcome outcome = co_await WaitForReply(rule, Timer());
    if (!outcome.replied())
        SetStatus(status::kNoFetchReply);
    co_return outcome;
}

// --- Data block read ---

job::Task<BlockRead> Line::ReadData64(int start, GraphSource source, Command command) {
    const Frame request = EncodeBlockRequest(start, source, command);
    FlushBoth();
    WriteFrame(request);
    ShowStatus(status::kBlockWaiting);

    // The queue's length is sampled before the clock and judged after it: a block complete
    // in the pass that times out is still stored, over the curves the time-out cleared.
    const WaitRule poll{.seconds = kBlockTimeout, .replyBeatsClock = false, .bytes = kBlockBytes};
    const WaitOutcome wait = co_await WaitForReply(poll, Timer());
    if (!wait.replied()) {
        SetStatus(status::kNoBlock);
        ClearCurves();
    }

    std::uint8_t bytes[kBufferSize];
    const int received =
        wait.queued > 0 ? ComRd(com_, bytes, std::min(wait.queued, kBufferSize)) : 0;
    BlockRead read;
    if (received == kBlockBytes) {
        SetStatus(status::kBlockReceived);
        read.words            = kBlockWords;
        read.outcome.text     = status::kBlockReceived;
        const DataBlock block = DecodeBlock(start, bytes);
        if (std::uint16_t *destination = BlockDestination(start))
            std::copy(block.words.begin(), block.words.end(), destination);
    } else if (!wait.replied()) {
        read.outcome = {status::Result::NoReply, status::kNoBlock, NoAnswerDetail(wait.elapsed)};
    } else {
        read.outcome = {status::Result::BadReply, kBlockWrongLength};
    }
    ShowStatus();
    co_return read;
}

} // namespace com232
