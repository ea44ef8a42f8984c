// Device link: frames and replies as values, and the line: one controller on one port, with
// its port set-up and line check, firmware query, receive callback, the one wait for a
// reply, the data block read, its parameter set, and the queue of jobs that use it.
//
//   --- Frames ---     commands, targets, encoding a request, decoding a reply or a block
//   --- Values ---     the parameter set, a live reply, the data curves
//   --- The line ---   Line: state, sinks and listeners, the job queue, the steps
//
// A line has one request outstanding at a time. Whatever uses it (the start-up, a Get, a
// teach, a run, a capture, a command from the plant) is a job on its queue: jobs run one
// after the other, a reply or a time-out ends an exchange, and the next job starts only
// after that. The steps are coroutines (job.h) driven by the event loop; a wait is a state
// of its job, never events processed inside it. Several lines live side by side in one
// process and one thread, each with its own port, set, texts and time-outs.
//
// A line never reaches a panel itself: texts for the status line, and the parameter set
// after a fetch, go to the sinks its owner installs; live replies go to its listeners.
#pragma once

#include "job.h"
#include "status.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace com232 {

using status::Outcome;

constexpr int PNUM         = 16;           // data words in a frame
constexpr int kFrameLength = 2 * PNUM + 4; // 36 bytes: sync, command, 16 words
constexpr int kReplyLength = 36;           // what the receive side counts, fixed
constexpr int kCurveSize   = 256;
constexpr int kCurvePoints = 128; // the places of a curve that a capture fills
constexpr int kBlockWords  = 64;
constexpr int kBlockBytes  = 2 * kBlockWords;

// Time-outs, in seconds.
constexpr double kPortTimeout  = 2.0;
constexpr double kReplyTimeout = 2.0;
constexpr double kBlockTimeout = 1.5;
constexpr double kEchoPause    = 0.05;

// --- Frames ---

// Command codes. A code is a 16-bit word on the line; any value encodes.
enum class Command : std::uint16_t {
    WriteRam    = 1,
    ReadRam     = 2,
    WriteEeprom = 3,
    ReadEeprom  = 4,
    Echo        = 5,
    Teach       = 6,
    Firmware    = 7,
    Live        = 8,
    DataBlock   = 9,
    Reset       = 10,
};

// Where the parameter set goes to and comes from.
enum class Target { RAM = 1, EEPROM = 2, DATFILE = 3 };

// Board variants learnt from the echo.
constexpr int kBoard100 = 100;
constexpr int kBoard0   = 0;

// What the echo says of the line.
enum class LineCheckResult { Failed = 0, Board100 = 1, Board0 = 3 };

// What a capture fetches and how a curve is drawn: the graph-source switch's value. The
// switch offers these two; a block request carries whatever value it is given.
enum class GraphSource : int { Raw = 0, Norm = 1 };

using Words = std::array<std::uint16_t, PNUM>;
using Frame = std::array<std::uint8_t, kFrameLength>;

// A reply frame: its command word and its sixteen data words. Neither the sync word nor
// the command word is checked: any 36 bytes are a reply.
struct Reply {
    std::uint16_t command = 0;
    Words words{};
};

// The 64 words of a data block, with the start index it was asked for.
struct DataBlock {
    int start = 0;
    std::array<std::uint16_t, kBlockWords> words{};
};

// The 36 bytes of a request of command carrying words.
Frame EncodeRequest(Command command, const Words &words);
// The request for the data block at start of source: start, source, then 14 zero words.
Frame EncodeBlockRequest(int start, GraphSource source, Command command = Command::DataBlock);
// A reply from its 36 bytes.
Reply DecodeReply(const std::uint8_t *frame);
// A block from its 128 bytes.
DataBlock DecodeBlock(int start, const std::uint8_t *bytes);
// The firmware text of a variant-100 reply (72 bytes of text) or a variant-0 reply
// (32 words, one character in each low byte), up to the first zero; nothing is written
// into a buffer of no size.
void DecodeFirmware100(const unsigned char *reply, char *text, int size);
void DecodeFirmware0(const unsigned char *reply, char *text, int size);
const char *OpenErrorText(int result);
const char *MemoryName(Target target); // "RAM" or "EEPROM"

// --- Values ---

// The sixteen parameter words, in frame order.
struct Parameters {
    std::uint16_t power, reference, hysteresis, polarity, hold, hwmode, average, evalmode, mmtime,
        mmthd, sdelay, para12, para13, para14, para15, para16;
};

// The start-up defaults of the parameter set; the panel file's values replace those of the
// ten parameters with a control.
constexpr Parameters kDefaultParameters = {500, 512, 10, 1, 100, 1, 0, 0, 20, 50, 1, 0, 0, 0, 0, 0};

// A live reply (command 8), words 0 to 8; the other seven words mean nothing.
struct LiveReply {
    std::int32_t valNORM = 0; // the word taken zero-extended: 0xFFFF is 65535
    std::uint16_t adcCHA = 0, adcCHB = 0, Amax = 0, Amin = 0, UPval = 0, LOval = 0, refval = 0,
                  instate = 0; // the state, 0 to 3
};

// The two curves that data blocks fill: A takes the blocks from index 0 and 64, B those
// from 128 and 192.
struct DataCurves {
    std::array<std::uint16_t, kCurveSize> a{}, b{};
};

// Word i (0 to PNUM - 1) of a parameter set, in frame order, and the set of sixteen words.
std::uint16_t ParameterWord(const Parameters &params, int i);
Words WordsOf(const Parameters &params);
Parameters ParametersOf(const Words &words);
LiveReply DecodeLiveReply(const Words &words);

// --- Waits ---

// Every wait for the controller is one wait, told what differs between the steps. A pass
// looks for the reply, reads the clock, tests the time-out and sleeps until the next thing
// that can change the answer (a reply, bytes, the time-out, Stop); the steps differ in the
// order of these, and that order decides a reply that comes just as the time runs out.
struct WaitRule {
    double seconds         = kReplyTimeout;
    bool expiresAtBoundary = false; // the time-out at elapsed >= seconds, else > seconds
    bool replyBeatsClock   = true;  // the reply is looked at before the clock is read
    bool sleepFirst        = false; // the first pass sleeps before it looks
    bool judgeAfterSleep   = false; // the clock reading is judged after the sleep
    int bytes              = 0;     // a poll: bytes in the input queue; 0 a reply frame
    bool stoppable         = false; // Stop ends the wait, after the sleep in which it came
};
enum class WaitEnd { Replied, TimedOut, Stopped };
struct WaitOutcome {
    WaitEnd end    = WaitEnd::TimedOut;
    double elapsed = 0; // the clock reading the wait last judged
    int queued     = 0; // a poll: the bytes in the queue at the end
    // The reply that came, also one that came in the pass that timed out.
    std::optional<Reply> reply;
    bool replied() const { return end == WaitEnd::Replied; }
};

// --- Results of the steps ---
struct LineCheck {
    LineCheckResult line = LineCheckResult::Failed;
    Outcome outcome;
};
struct FirmwareQuery {
    int queued = 0; // bytes waiting when the wait ended
    Outcome outcome;
};
// A read of RAM or EEPROM as Get does it: the words, or none after a time-out.
struct ParameterRead {
    std::optional<Words> words;
    Outcome outcome;
};
// A block: 64 when 128 bytes came, else 0 with the reason beside.
struct BlockRead {
    int words = 0;
    Outcome outcome;
};

// --- Where a line reaches the screen ---
struct Sinks {
    std::function<void(const char *text)> showStatus;       // a text on the status line
    std::function<void(const char *text)> explainStatus;    // why, in plain words ("" none)
    std::function<void(const Parameters &)> showParameters; // the set after a good fetch
};

// Who follows the replies of a run, in the order added: the chart, the recording, the
// plant link, rmx7ctl's rows. Each part may be left empty. Each is called on the line's
// own time: a reply's listeners run before the next request is built, so work that must
// not delay the line goes to requested, which runs right after each request is out.
struct LiveListener {
    std::function<void(double now)> runStarted;                    // after the first request
    std::function<void(const LiveReply &reply, double now)> reply; // each reply of the run
    std::function<void(double now)> requested;                     // after each later request
    std::function<void(const Outcome &ended)> runEnded;            // the run is over
};

// --- The line ---
class Line {
  public:
    // A line on COM port, with the start values of InitVars.
    explicit Line(int port = 1);
    // Ends every job it holds (they are dropped where they wait) and detaches its callback.
    ~Line();
    Line(const Line &)            = delete;
    Line &operator=(const Line &) = delete;

    void InstallSinks(Sinks sinks);
    // The id of the listener, for RemoveLiveListener.
    int AddLiveListener(LiveListener listener);
    void RemoveLiveListener(int id);

    // --- State ---
    // Start values: the default parameter set, the target RAM, no board variant learnt, no
    // firmware text, the curves zero, "InitVars" as status text. The port, the sinks, the
    // listeners and the queue stay.
    void InitVars();
    int Port() const { return com_; }
    void SelectPort(int port) { com_ = port; }
    Target GetTarget() const { return target_; }
    void SetTarget(Target target) { target_ = target; }
    const Parameters &ParameterSet() const { return params_; }
    void SetParameterSet(const Parameters &params) { params_ = params; }
    int BoardVariant() const { return pcbtype_; } // learnt from the last good line check
    const std::string &Firmware() const { return firmware_; } // the last firmware text read
    const DataCurves &Curves() const { return curves_; }
    // The words of the frame last sent or received. Two requests carry them again as they
    // stand: the firmware query, and the live request that closes a capture.
    const Words &FrameWords() const { return frameWords_; }
    // The parameter set into the frame words, which it returns: the words of a request
    // that carries the set, or of a parameter file.
    Words CopyVarsToPP();
    // Words into the frame words and from there into the parameter set (a parameter file).
    void LoadFrameWords(const Words &words);
    // The text the status line shows last, as the line put it there.
    const std::string &StatusText() const { return szStatus_; }
    // The last text the line showed on the status line, whichever step showed it.
    const std::string &LastShown() const { return lastShown_; }

    // --- Jobs ---
    // Queues a job; it starts at once when the line is idle (running until its first wait),
    // else after the jobs before it.
    void Queue(job::Task<void> job);
    // No job runs or waits, and no exchange is open.
    bool Idle() const;
    // Jobs queued behind the one that runs.
    int Waiting() const { return static_cast<int>(queue_.size()); }
    // The jobs queued meanwhile run here, one after the other, inside the job that calls it
    // between two exchanges (a run does); nothing when none waits.
    job::Task<void> TakeTurn();
    // Drops the jobs that wait, and calls ended once the job that runs has ended (at once
    // when none runs): the end of a program, which waits for the exchange under way.
    void EndAfterCurrentJob(std::function<void()> ended);
    // Waits seconds, or until Stop (RequestStop) comes.
    job::Task<void> Pause(double seconds);
    // Waits seconds, or until Stop, and runs the jobs queued meanwhile at once: the wait of
    // a job that holds the line for long (an agent between two start-ups), so that the jobs
    // that come wait for no more than the exchange on the line.
    job::Task<void> PauseTakingTurns(double seconds);

    // --- The run ---
    // Live requests, each answered by the next, every reply to the listeners, until Stop,
    // the end after the current exchange, or the time-out; Ok when stopped.
    job::Task<Outcome> RunLive();
    bool Running() const { return running_; }
    // Stop: the run ends at once, its open exchange ends with its reply or time-out before
    // the next job starts; a Pause ends too. Also when no run is going.
    void RequestStop();
    // The run ends once the reply to its request on the line came and went to the
    // listeners, or its time-out passed: nothing the controller sent is lost.
    void RequestStopAfterExchange();

    // --- Requests ---
    // A request of command carrying the parameter set, written to the port: true when all
    // 36 bytes went out. A reply that came before it is forgotten.
    bool SendRequest(Command command);
    // The same, carrying the frame words as they stand.
    bool SendFrameWords(Command command);
    // Drops what waits in the input queue, then in the output queue, of the line's port.
    void FlushBoth();

    // --- Port set-up and line check ---
    // Opens and checks the port, fetches the parameter set from RAM and reads the firmware;
    // the first step that failed, or Ok with the last text shown. The status line's tooltip
    // (and the trace, as a DIAG line) gets the failure's detail, or nothing after a good one.
    job::Task<Outcome> InitRS232(int port);
    job::Task<LineCheck> CheckComLine(int port);
    job::Task<FirmwareQuery> GetVERSIONInfo();
    // The parameter fetch: Get's exchange from target into the set and onto the panel (RAM
    // at the set-up and after a reset); nothing on the line for DATFILE.
    job::Task<Outcome> PushGET(Target target);
    // Get's exchange with RAM or EEPROM: a request carrying the parameter set, "Transmit
    // Ok!" once it is out, Get's wait of 2 s, then "Data Transfer Ok!" and the words that
    // came, or "Timeout RS232-Line!" and none. The parameter set stays as it is.
    job::Task<ParameterRead> ReadParameterWords(Target target);
    // A port whose line was lost (device unplugged, connection closed) and whose device is
    // back: opens it again as the set-up does, without the set-up's exchanges, so that the
    // job about to run sends exactly its own requests. True when it reopened.
    bool ReopenLostPort();
    // Why no answer came after waited seconds: the line was lost, or nothing answered on
    // it; the port and its device and what to check, for an outcome's detail.
    std::string NoAnswerDetail(double waited) const;

    // --- Receive callback and the reply wait ---
    // Reads the 36 bytes of a reply, decodes them once and hands the reply to the wait of
    // the job on the line; callbackData is the line.
    static void RX_Receive_Function(int port, int eventBits, void *callbackData);
    void AttachReceiveCallback();
    void DetachReceiveCallback();
    // Waits from since (a Timer() reading) under rule.
    job::Task<WaitOutcome> WaitForReply(WaitRule rule, double since);
    // The parameter fetch's wait, which also leaves "Timeout-RS-232..." as its text.
    job::Task<WaitOutcome> WaitRxFull();

    // --- Data block read ---
    job::Task<BlockRead> ReadData64(int start, GraphSource source,
                                    Command command = Command::DataBlock);

    // --- Status line ---
    void ShowStatus(const char *text) const;
    void ShowStatus() const { ShowStatus(szStatus_.c_str()); }
    void SetStatus(const std::string &text) { szStatus_ = text; }
    // The status line's tooltip, and a DIAG line of the trace when there is something to say.
    void Explain(const std::string &detail) const;

    // --- Seams for tests ---
    void SetBoardVariant(int variant) { pcbtype_ = variant; }
    void FillCurves(std::uint16_t a, std::uint16_t b);

  private:
    class Sleep;
    static void RX_Poll_Function(int port, int eventBits, void *callbackData);
    static void OnTimer(void *line);
    void Wake();
    job::Detached Serve();
    job::Task<void> DrainOpenExchange();
    bool WriteFrame(const Frame &frame);
    void ClearCurves();
    std::uint16_t *BlockDestination(int start);
    void PassOn(const LiveReply &reply, double now);
    void SetUpOpenPort(int port);

    // Identity and the controller.
    int com_     = 1;
    int pcbtype_ = kBoard0;
    std::string firmware_;
    std::string szStatus_ = status::kInitVars;
    mutable std::string lastShown_;
    Target target_     = Target::RAM;
    Parameters params_ = kDefaultParameters;
    Words frameWords_{};
    DataCurves curves_;

    // Where it reports.
    Sinks sinks_;
    std::vector<std::pair<int, LiveListener>> listeners_;
    int nextListener_ = 1;

    // The queue and the job on the line.
    std::deque<job::Task<void>> queue_;
    bool serving_ = false;
    job::Detached server_;
    std::function<void()> ended_; // called once the job that runs has ended
    // The wait in progress: the parked job, where a reply goes, its wake-up timer.
    job::Suspended waiter_;
    std::optional<Reply> *delivered_ = nullptr;
    int timer_                       = 0;
    bool polling_                    = false; // the wait polls the queue for bytes
    bool stoppable_                  = false; // Stop ends the wait
    bool stoppedInPause_             = false;
    bool takingTurns_                = false; // a job that comes ends the wait
    // A request whose wait Stop ended: its reply or time-out still ends its exchange.
    double openExchangeUntil_ = -1;

    // The run.
    bool running_           = false;
    bool stopRequested_     = false;
    bool stopAfterExchange_ = false;
};

} // namespace com232
