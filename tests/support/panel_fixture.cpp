#include "panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"
#include "ui.h"

#include <fstream>
#include <unistd.h>

namespace {

int pumping = 0; // PumpUntil calls running, nested ones included

} // namespace

EventHook::EventHook(const std::function<void()> &tick, double seconds,
                     const std::function<void()> &fallback) {
    if (tick) {
        QObject::connect(&tick_, &QTimer::timeout, tick);
        tick_.start(1);
    }
    if (fallback) {
        guard_.setSingleShot(true);
        QObject::connect(&guard_, &QTimer::timeout, fallback);
        guard_.start(static_cast<int>(seconds * 1000));
    }
}

void PanelTest::SetUp() {
    static const int loaded = app::LoadMainPanel();
    ASSERT_GT(loaded, 0) << "the panel file must stand beside the test";
    panel     = loaded;
    tracePath = testing::TempDir() + "rmx7-trace-" + std::to_string(getpid()) + ".txt";
    ASSERT_TRUE(TraceOpen(tracePath.c_str()));
    program_ = std::make_unique<app::Program>(panel, testing::TempDir(), 1);
    // The tests of the trail switch it on in a folder of their own.
    program_->RecordPanelWrites(false);
    program_->InitVars();
    PortTableClear();
    PortTableAdd(1, peer.path());
}

void PanelTest::TearDown() {
    CloseCom(line().Port());
    CloseCom(1);
    program_.reset();
    TraceClose();
    std::remove(tracePath.c_str());
}

void PanelTest::Settle() {
    EXPECT_TRUE(PumpUntil([this] { return line().Idle(); }, 30)) << "a job never ended";
}

void PanelTest::SetParameter(std::uint16_t com232::Parameters::*word, std::uint16_t value) {
    com232::Parameters params = ParameterSet();
    params.*word              = value;
    SetParameterSet(params);
}

void PanelTest::OpenLink() {
    ASSERT_GE(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    SetComTime(1, com232::kPortTimeout);
    line().SelectPort(1);
    line().AttachReceiveCallback();
}

void PanelTest::Raise(Callback callback, int event, int control) {
    callback(panel, control, event, program_.get(), 0, 0);
    if (pumping == 0)
        Settle();
}

std::vector<std::string> PanelTest::Trace(const std::string &kind) const {
    std::ifstream file(tracePath);
    std::vector<std::string> texts;
    const std::string marker = " " + kind;
    for (std::string line; std::getline(file, line);) {
        const std::size_t at = line.find(marker);
        if (at != std::string::npos && line.find(' ') == at)
            texts.push_back(line.size() > at + marker.size() ? line.substr(at + marker.size() + 1)
                                                             : "");
    }
    return texts;
}

std::string PanelTest::StatusLine() const {
    char text[256] = {};
    GetCtrlVal(panel, ui::TXTStatus, text, sizeof text);
    return text;
}

std::string PanelTest::ToolTip(int control) const {
    char text[1024] = {};
    GetCtrlAttribute(panel, control, kAttrToolTip, text, sizeof text);
    return text;
}

int PanelTest::Attribute(int control, int attribute) const {
    int value = -1;
    if (attribute == 0)
        GetCtrlVal(panel, control, &value);
    else
        GetCtrlAttribute(panel, control, attribute, &value);
    return value;
}

std::vector<int> PanelTest::Attributes(int attribute, std::initializer_list<int> controls) const {
    std::vector<int> values;
    for (int control : controls)
        values.push_back(Attribute(control, attribute));
    return values;
}

bool PanelTest::PumpUntil(const std::function<bool()> &done, double timeoutSeconds) {
    ++pumping;
    const double deadline = Timer() + timeoutSeconds;
    bool met              = true;
    while (!done()) {
        if (Timer() > deadline) {
            met = false;
            break;
        }
        ProcessSystemEvents();
    }
    --pumping;
    return met;
}

void ControllerTest::SetUp() {
    PanelTest::SetUp();
    peer.SetResponder(controller.Responder());
}

void ControllerTest::Stop() {
    Raise(app::CC_BTNStop);
}

void ControllerTest::RunWhile(const std::function<void()> &poll) {
    EventHook hook(poll, 10, [this] { Stop(); });
    Raise(app::CC_BTNRun);
}

void ControllerTest::RunFor(int count) {
    int shown = 0;
    com232::LiveListener counted;
    counted.reply = [&shown](const com232::LiveReply &, double) { ++shown; };
    const int id  = line().AddLiveListener(std::move(counted));
    RunWhile([&] {
        if (shown >= count)
            Stop();
    });
    line().RemoveLiveListener(id);
}
