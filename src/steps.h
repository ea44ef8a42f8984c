// What an operator's step does on the line, without a panel: its requests, its waits and
// its status texts (through the line's status sink). The panel's buttons and a plant's
// commands both run these, so that a command sends exactly what its button sends.
//
//   --- Parameters ---  Send, Teach, Reset (Get is the line's ReadParameterWords)
//   --- Data curve ---  Capture, CurveOf
//
// Each step opens a lost port again first when its device is back, as every button does.
#pragma once

#include "com232.h"
#include "gui.h"
#include "job.h"
#include "status.h"

#include <cstdint>
#include <optional>

namespace steps {

using status::Outcome;

// --- Parameters ---
// Send: set into RAM or EEPROM; no reply is awaited, one that comes is taken in by the
// receive callback. The line's parameter set becomes set.
Outcome Send(com232::Line &line, com232::Target target, const com232::Parameters &set);

struct Taught {
    Outcome outcome;
    // The controller answered: its reference may now differ from the one it was sent.
    bool answered = false;
};
// Teach, carrying the line's parameter set.
job::Task<Taught> Teach(com232::Line &line);
// Reset, carrying the line's parameter set, then RAM's set fetched once it answered.
job::Task<Outcome> Reset(com232::Line &line);

// --- Data curve ---
struct Captured {
    Outcome outcome;
    // What the live request that closes the capture brought back, else the words last sent.
    com232::LiveReply closing{};
    bool answered = false; // the closing request was answered
};
// The blocks of source into the line's curves, then one live request for the reference and
// the switching levels the curve is drawn against.
job::Task<Captured> Capture(com232::Line &line, com232::GraphSource source);
// The curve a capture drew: the line's curves, the switching levels as flat lines and the
// reference.
gui::DataCurve CurveOf(const com232::Line &line, com232::GraphSource source, std::uint16_t upper,
                       std::uint16_t lower, std::uint16_t reference);

} // namespace steps
