// A controller stand-in for the program-level tests, answering the way a real board does,
// with hooks to silence or delay single commands.
#pragma once

#include "scripted_peer.h"

#include <map>

struct FakeController {
    int variant          = 100;
    sim::Words ram       = {640, 300, 12, 0, 90, 1, 3, 1, 25, 55, 4};
    sim::Words eeprom    = ram;
    sim::Words live      = {400, 500, 450, 800, 100, 520, 480, 510, 1};
    std::string firmware = "RMX7 test controller FW 9.9";
    std::map<int, double> delay; // seconds before the reply, by command
    std::map<int, bool> silent;  // no reply, by command
    std::atomic<int> liveReplies{0};
    std::atomic<int> liveLimit{-1}; // stop answering live requests after this many

    ScriptedPeer::Responder Responder();
    Bytes Reply(int command, const Bytes &request);
};
