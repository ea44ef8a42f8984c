// The fixture of the program-level tests: the real main panel (loaded once), a fresh program
// on it for each test, COM1 mapped to a scripted peer, and the trace written to a file so that
// a test can read back the bytes and status texts in their order. The line's steps are here by
// their names, each run as a job of the line until it ends.
#pragma once

#include "fake_controller.h"

#include "app.h"
#include "com232.h"
#include "platform/panel/panel.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using Callback = int (*)(int panel, int control, int event, void *data, int data1, int data2);

// The program's codes as plain numbers, for tables of cases and the fake controller.
constexpr int kCmdWriteRam = sim::kWriteRam, kCmdReadRam = sim::kReadRam,
              kCmdWriteEeprom = sim::kWriteEeprom, kCmdReadEeprom = sim::kReadEeprom,
              kCmdEcho = sim::kEchoCheck, kCmdTeach = sim::kTeach, kCmdFirmware = sim::kFirmware,
              kCmdLive = sim::kLiveValues, kCmdDataBlock = sim::kDataBlock, kCmdReset = sim::kReset;
constexpr int RAM = 1, EEPROM = 2, DATFILE = 3;
constexpr int kSourceRaw = 0, kSourceNorm = 1;
constexpr int kLineFailed = 0, kLineBoard100 = 1, kLineBoard0 = 3;

// While it lives, calls tick on every pass of the event loop and, once after seconds,
// fallback: how a test acts while a job waits, and ends one that would hang.
class EventHook {
  public:
    explicit EventHook(const std::function<void()> &tick, double seconds = 10,
                       const std::function<void()> &fallback = {});

  private:
    QTimer tick_, guard_;
};

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    app::Program &program() { return *program_; }
    com232::Line &line() { return program_->Line(); }
    gui::Panel &panelModule() { return program_->Panel(); }

    // Runs step as a job of the line, processing events until it ends; its result.
    template <class T> T Finish(job::Task<T> step) { return FinishOn(line(), std::move(step)); }
    template <class T> static T FinishOn(com232::Line &on, job::Task<T> step) {
        std::optional<T> result;
        on.Queue([](job::Task<T> queued, std::optional<T> &into) -> job::Task<void> {
            into = co_await queued;
        }(std::move(step), result));
        EXPECT_TRUE(PumpUntil([&] { return result.has_value(); }, 30)) << "the job never ended";
        return result.value_or(T{});
    }
    // Processes events until the line has no job left.
    void Settle();

    // --- The line's steps and state, by their names ---
    status::Outcome InitRS232(int port) { return Finish(line().InitRS232(port)); }
    com232::LineCheck CheckComLine(int port) { return Finish(line().CheckComLine(port)); }
    com232::FirmwareQuery GetVERSIONInfo() { return Finish(line().GetVERSIONInfo()); }
    status::Outcome PushGET(int target) {
        return Finish(line().PushGET(static_cast<com232::Target>(target)));
    }
    com232::BlockRead ReadData64(int start, int source, int command) {
        return Finish(line().ReadData64(start, static_cast<com232::GraphSource>(source),
                                        static_cast<com232::Command>(command)));
    }
    int Port() { return line().Port(); }
    int Target() { return static_cast<int>(line().GetTarget()); }
    int BoardVariant() { return line().BoardVariant(); }
    const std::string &Firmware() { return line().Firmware(); }
    const com232::Parameters &ParameterSet() { return line().ParameterSet(); }
    void SetParameterSet(const com232::Parameters &params) { line().SetParameterSet(params); }
    void SetParameter(std::uint16_t com232::Parameters::*word, std::uint16_t value);
    const com232::DataCurves &Curves() { return line().Curves(); }
    const com232::Words &FrameWords() { return line().FrameWords(); }

    // Opens COM1 with the receive callback installed, as the port set-up leaves it.
    void OpenLink();
    // Texts of the trace lines of one kind ("STATUS", "TX", "RX", "DIAG"), in order.
    std::vector<std::string> Trace(const std::string &kind) const;
    std::vector<std::string> StatusTexts() const { return Trace("STATUS"); }
    std::string StatusLine() const;
    // A control's tooltip, the status line's by default, lines joined by newlines.
    std::string ToolTip(int control = 48) const;
    int Value(int control) const { return Attribute(control, 0); }
    std::vector<int> Values(std::initializer_list<int> controls) const {
        return Attributes(0, controls);
    }
    // Attribute 0: the control's value.
    int Attribute(int control, int attribute) const;
    std::vector<int> Attributes(int attribute, std::initializer_list<int> controls) const;
    // Raises event (commit by default) on a control's callback, as the panel does; the job
    // it queues runs to its end, unless the event is raised while a test waits already
    // (from an EventHook, say), where it only starts it.
    void Raise(Callback callback, int event = 1, int control = 0);
    // Processes events until done() or the deadline; false on the deadline.
    static bool PumpUntil(const std::function<bool()> &done, double timeoutSeconds);

    int panel = 0;
    FakeController controller; // before the peer, whose thread calls it: it outlives the thread
    ScriptedPeer peer;
    std::string tracePath;
    std::unique_ptr<app::Program> program_;
};

// COM1 answered by the FakeController.
class ControllerTest : public PanelTest {
  protected:
    void SetUp() override;
    // Presses Run and calls poll on every pass of the event loop until poll presses Stop;
    // Stop is pressed after 10 s in any case.
    void RunWhile(const std::function<void()> &poll);
    // Runs until the controller has answered count live requests and the last is plotted.
    void RunFor(int count);
    void Stop();
};
