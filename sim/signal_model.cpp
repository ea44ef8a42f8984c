// The beam, the two ADC channels and the switching state of the simulated controller.
#include "signal_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {
namespace {

// The signal is sampled every 5 ms; the data record takes every second sample.
constexpr double kTickSeconds           = 0.005;
constexpr std::int64_t kRecordStepTicks = 2;

// A target crosses the beam every 3 s give or take 0.2 s; the beam sees it for about 0.5 s.
constexpr double kFirstPassage  = 1.5;
constexpr double kPassagePeriod = 3.0;
constexpr double kPassageJitter = 0.2;
constexpr double kPassageSigma  = 0.2;

// Channel A sees the target's light rise while channel B loses it; power scales the swing.
constexpr double kRestA        = 150;
constexpr double kSwingA       = 620;
constexpr double kRestB        = 850;
constexpr double kSwingB       = 560;
constexpr double kNominalPower = 500;
constexpr int kNoiseCounts     = 3;

// mmtime counts 200 ms steps of the max/min window; sdelay 10 ms steps; hold milliseconds.
constexpr std::int64_t kMinMaxStepTicks = 40;
constexpr std::int64_t kMaxWindowTicks  = 2000;
constexpr int kSwitchDelayStepTicks     = 2;
constexpr double kHoldStepSeconds       = 0.001;

// Longer gaps between live requests are not replayed tick by tick; 10 s settles any state.
constexpr std::int64_t kMaxCatchUpTicks = 2000;

constexpr std::uint64_t kNoiseSalt   = 0x6e6f697365ULL;
constexpr std::uint64_t kPassageSalt = 0x70617373ULL;

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

double UnitInterval(std::uint64_t hash) {
    return static_cast<double>(hash >> 11) / static_cast<double>(1ULL << 53);
}

std::uint16_t ClampToAdc(double value) {
    return static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, long{kAdcMax}));
}

std::uint16_t ClampToWord(long value) {
    return static_cast<std::uint16_t>(
        std::clamp(value, 0L, long{std::numeric_limits<std::uint16_t>::max()}));
}

std::int64_t TickAt(double t) {
    return static_cast<std::int64_t>(std::floor(t / kTickSeconds));
}

} // namespace

SignalModel::SignalModel(std::uint64_t seed) : seed_(seed), lastTick_(-kMaxCatchUpTicks) {}

LiveValues SignalModel::Live(double t, const Words &parameters) {
    const std::int64_t now = TickAt(t);
    AdvanceTo(now, parameters);
    const Sample sample = SampleAt(now, parameters);
    const std::int64_t window =
        std::clamp(parameters[kMinMaxTime] * kMinMaxStepTicks, std::int64_t{1}, kMaxWindowTicks);
    LiveValues live;
    live.norm     = sample.norm;
    live.channelA = sample.channelA;
    live.channelB = sample.channelB;
    live.maximum  = sample.norm;
    live.minimum  = sample.norm;
    for (std::int64_t tick = now - window + 1; tick < now; ++tick) {
        const std::uint16_t norm = SampleAt(tick, parameters).norm;
        live.maximum             = std::max(live.maximum, norm);
        live.minimum             = std::min(live.minimum, norm);
    }
    const long reference  = parameters[kReference];
    const long hysteresis = parameters[kHysteresis];
    live.upper            = ClampToWord(reference + hysteresis);
    live.lower            = ClampToWord(reference - hysteresis);
    live.reference        = parameters[kReference];
    live.state =
        static_cast<std::uint16_t>((above_ ? kStateAbove : 0) | (output_ ? kStateOutput : 0));
    return live;
}

std::uint16_t SignalModel::NormAt(double t, const Words &parameters) const {
    return SampleAt(TickAt(t), parameters).norm;
}

DataRecord SignalModel::Record(double t, const Words &parameters) const {
    constexpr std::int64_t kHalfSpanTicks = kRecordLength / 2 * kRecordStepTicks;
    const double halfSpan                 = kHalfSpanTicks * kTickSeconds;
    auto passage = static_cast<std::int64_t>(std::floor((t - kFirstPassage) / kPassagePeriod)) + 1;
    while (PassageCentre(passage) + halfSpan > t)
        --passage;
    const std::int64_t first = std::llround(PassageCentre(passage) / kTickSeconds) - kHalfSpanTicks;
    DataRecord record;
    for (std::size_t i = 0; i < kRecordLength; ++i) {
        const Sample sample =
            SampleAt(first + static_cast<std::int64_t>(i) * kRecordStepTicks, parameters);
        record.channelA[i] = sample.channelA;
        record.channelB[i] = sample.channelB;
        record.norm[i]     = sample.norm;
    }
    return record;
}

SignalModel::Sample SignalModel::SampleAt(std::int64_t tick, const Words &parameters) const {
    const double coverage    = BeamCoverage(tick * kTickSeconds);
    const double gain        = parameters[kPower] / kNominalPower;
    const std::uint16_t a    = ClampToAdc(kRestA + kSwingA * gain * coverage + Noise(tick, 0));
    const std::uint16_t b    = ClampToAdc(kRestB - kSwingB * gain * coverage + Noise(tick, 1));
    const int sum            = a + b;
    const std::uint16_t norm = sum == 0 ? 0 : ClampToAdc(double{kAdcMax} * a / sum);
    return {a, b, norm};
}

double SignalModel::BeamCoverage(double t) const {
    const auto nearest = std::llround((t - kFirstPassage) / kPassagePeriod);
    double coverage    = 0;
    for (std::int64_t passage = nearest - 1; passage <= nearest + 1; ++passage) {
        const double offset = (t - PassageCentre(passage)) / kPassageSigma;
        coverage += std::exp(-0.5 * offset * offset);
    }
    return std::min(coverage, 1.0);
}

double SignalModel::PassageCentre(std::int64_t passage) const {
    const double jitter =
        (2 * UnitInterval(Mix(seed_ ^ Mix(kPassageSalt + static_cast<std::uint64_t>(passage)))) -
         1) *
        kPassageJitter;
    return kFirstPassage + static_cast<double>(passage) * kPassagePeriod + jitter;
}

int SignalModel::Noise(std::int64_t tick, int channel) const {
    const std::uint64_t key =
        static_cast<std::uint64_t>(tick) * 2 + static_cast<std::uint64_t>(channel);
    const std::uint64_t hash = Mix(seed_ ^ Mix(kNoiseSalt + key));
    return static_cast<int>(hash % (2 * kNoiseCounts + 1)) - kNoiseCounts;
}

void SignalModel::AdvanceTo(std::int64_t tick, const Words &parameters) {
    if (tick <= lastTick_)
        return;
    for (std::int64_t next = std::max(lastTick_ + 1, tick - kMaxCatchUpTicks); next <= tick; ++next)
        Step(next, parameters);
    lastTick_ = tick;
}

// One tick of the detector (hysteresis around the reference) and of the output stage
// behind it (polarity, switch-on delay, hold after the target has gone).
void SignalModel::Step(std::int64_t tick, const Words &parameters) {
    const int norm       = SampleAt(tick, parameters).norm;
    const int reference  = parameters[kReference];
    const int hysteresis = parameters[kHysteresis];
    if (norm > reference + hysteresis)
        above_ = true;
    else if (norm < reference - hysteresis)
        above_ = false;

    const bool inverted  = parameters[kPolarity] == 0;
    const int delayTicks = parameters[kSwitchDelay] * kSwitchDelayStepTicks;
    const int holdTicks  = static_cast<int>(parameters[kHold] * kHoldStepSeconds / kTickSeconds);
    if (above_ != inverted) {
        activeTicks_   = std::min(activeTicks_ + 1, delayTicks + 1);
        holdTicksLeft_ = holdTicks;
        if (activeTicks_ > delayTicks)
            output_ = true;
    } else {
        activeTicks_ = 0;
        if (holdTicksLeft_ > 0)
            --holdTicksLeft_;
        else
            output_ = false;
    }
}

} // namespace sim
