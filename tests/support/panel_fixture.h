// The fixture of the program-level tests: the real main panel (loaded once), clean module
// state for each test, COM1 mapped to a scripted peer, and the trace written to a file so
// that a test can read back the bytes and status texts in their order.
#pragma once

#include "fake_controller.h"

#include "platform/panel/panel.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using Callback = int (*)(int panel, int control, int event, void *data, int data1, int data2);

// While it lives, calls tick on every pass of the event loop and, once after seconds,
// fallback: how a test acts during a callback that waits, and ends one that would hang.
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
    // Raises event (commit by default) on a control's callback.
    void Raise(Callback callback, int event = 1, int control = 0) {
        callback(panel, control, event, nullptr, 0, 0);
    }
    // Processes events until done() or the deadline; false on the deadline.
    static bool PumpUntil(const std::function<bool()> &done, double timeoutSeconds);

    int panel = 0;
    FakeController controller; // before the peer, whose thread calls it: it outlives the thread
    ScriptedPeer peer;
    std::string tracePath;
};

// COM1 answered by the FakeController.
class ControllerTest : public PanelTest {
  protected:
    void SetUp() override;
    // Presses Run and calls poll on every pass of the run's loop until poll presses Stop;
    // Stop is pressed after 10 s in any case.
    void RunWhile(const std::function<void()> &poll);
    // Runs until the controller has answered count live requests and the last is plotted.
    void RunFor(int count);
    void Stop();
};
