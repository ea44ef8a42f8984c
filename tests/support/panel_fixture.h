// The fixture of the program-level tests: the real main panel (loaded once), clean
// module state for each test, COM1 mapped to a scripted peer, and the trace written to
// a file so that a test can read back the bytes and status texts in their order.
#pragma once

#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens COM1 with the receive callback installed, as the port set-up leaves it.
    void OpenLink();
    // Texts of the trace lines of one kind ("STATUS", "TX", "RX"), in order.
    std::vector<std::string> Trace(const std::string &kind) const;
    std::vector<std::string> StatusTexts() const { return Trace("STATUS"); }
    std::string StatusLine() const;
    int Value(int control) const;
    // Processes events until done() or the deadline; false on the deadline.
    static bool PumpUntil(const std::function<bool()> &done, double timeoutSeconds);

    int panel = 0;
    ScriptedPeer peer;
    std::string tracePath;
};

// A responder that answers every request with replies by command code; codes without
// an entry get no reply.
ScriptedPeer::Responder ReplyByCommand(std::function<Bytes(int command, const Bytes &)> reply);
