// The controller's sixteen parameter words: their positions in a frame and the power-up set.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

constexpr std::size_t kWordCount = 16;
using Words                      = std::array<std::uint16_t, kWordCount>;

// Position of each parameter in the data words of a frame.
enum ParameterWord : std::size_t {
    kPower       = 0,
    kReference   = 1,
    kHysteresis  = 2,
    kPolarity    = 3,
    kHold        = 4,
    kHwMode      = 5,
    kAverage     = 6,
    kEvalMode    = 7,
    kMinMaxTime  = 8,
    kMinMaxThd   = 9,
    kSwitchDelay = 10,
};

// Factory set of RAM and EEPROM alike.
constexpr Words kDefaultParameters = {500, 512, 10, 1, 100, 1, 2, 0, 20, 50, 1, 0, 0, 0, 0, 0};

} // namespace sim
