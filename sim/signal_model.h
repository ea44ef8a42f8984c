// The signal the simulated controller measures: a target passing the beam about every 3 s,
// two ADC channels, the NORM value, and the live words and data record taken from them.
// Deterministic: the same seed and the same times give the same values.
#pragma once

#include "parameters.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

constexpr std::uint16_t kAdcMax      = 1023;
constexpr std::size_t kRecordLength  = 128;
constexpr std::uint16_t kStateAbove  = 0x1; // NORM above the threshold, with hysteresis
constexpr std::uint16_t kStateOutput = 0x2; // the switching output, after delay and hold

struct LiveValues {
    std::uint16_t norm      = 0;
    std::uint16_t channelA  = 0;
    std::uint16_t channelB  = 0;
    std::uint16_t maximum   = 0;
    std::uint16_t minimum   = 0;
    std::uint16_t upper     = 0;
    std::uint16_t lower     = 0;
    std::uint16_t reference = 0;
    std::uint16_t state     = 0;
};

using RecordSamples = std::array<std::uint16_t, kRecordLength>;

struct DataRecord {
    RecordSamples channelA{};
    RecordSamples channelB{};
    RecordSamples norm{};
};

class SignalModel {
  public:
    explicit SignalModel(std::uint64_t seed);

    // The live words at t seconds. Runs the switching state forward to t; a t earlier than
    // the last one leaves the state as it is.
    LiveValues Live(double t, const Words &parameters);
    // NORM at t, leaving the switching state alone.
    std::uint16_t NormAt(double t, const Words &parameters) const;
    // The record of the latest passage that lies wholly before t, centred on the target.
    DataRecord Record(double t, const Words &parameters) const;

  private:
    struct Sample {
        std::uint16_t channelA;
        std::uint16_t channelB;
        std::uint16_t norm;
    };

    Sample SampleAt(std::int64_t tick, const Words &parameters) const;
    double BeamCoverage(double t) const;
    double PassageCentre(std::int64_t passage) const;
    int Noise(std::int64_t tick, int channel) const;
    void AdvanceTo(std::int64_t tick, const Words &parameters);
    void Step(std::int64_t tick, const Words &parameters);

    std::uint64_t seed_;
    std::int64_t lastTick_;
    bool above_        = false;
    bool output_       = false;
    int activeTicks_   = 0;
    int holdTicksLeft_ = 0;
};

} // namespace sim
