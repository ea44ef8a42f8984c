#include "panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/ports.h"
#include "platform/serial.h"
#include "platform/trace.h"
#include "ui.h"

#include <fstream>
#include <unistd.h>

void PanelTest::SetUp() {
    static const int loaded = app::LoadMainPanel();
    ASSERT_GT(loaded, 0) << "the panel file must stand beside the test";
    panel             = loaded;
    gui::vars.pHandle = panel;
    tracePath         = testing::TempDir() + "rmx7-trace-" + std::to_string(getpid()) + ".txt";
    ASSERT_TRUE(TraceOpen(tracePath.c_str()));
    app::InitVars();
    PortTableClear();
    PortTableAdd(1, peer.path());
}

void PanelTest::TearDown() {
    CloseCom(com232::vars.com);
    CloseCom(1);
    TraceClose();
    std::remove(tracePath.c_str());
}

void PanelTest::OpenLink() {
    ASSERT_GE(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    SetComTime(1, com232::kPortTimeout);
    com232::vars.com = 1;
    com232::AttachReceiveCallback();
}

std::vector<std::string> PanelTest::Trace(const std::string &kind) const {
    std::ifstream file(tracePath);
    std::vector<std::string> texts;
    const std::string marker = " " + kind;
    for (std::string line; std::getline(file, line);) {
        const std::size_t at = line.find(marker);
        if (at == std::string::npos || line.find(' ') != at)
            continue;
        const std::size_t text = at + marker.size();
        texts.push_back(text < line.size() ? line.substr(text + 1) : "");
    }
    return texts;
}

std::string PanelTest::StatusLine() const {
    char text[256] = {};
    GetCtrlVal(panel, ui::TXTStatus, text, sizeof text);
    return text;
}

int PanelTest::Value(int control) const {
    int value = 0;
    GetCtrlVal(panel, control, &value);
    return value;
}

bool PanelTest::PumpUntil(const std::function<bool()> &done, double timeoutSeconds) {
    const double deadline = Timer() + timeoutSeconds;
    while (!done()) {
        if (Timer() > deadline)
            return false;
        ProcessSystemEvents();
    }
    return true;
}

ScriptedPeer::Responder ReplyByCommand(std::function<Bytes(int command, const Bytes &)> reply) {
    return [reply](const Bytes &request) {
        return PeerReply{reply(request[2] << 8 | request[3], request), 0.0};
    };
}
