#include "fake_controller.h"

Bytes FakeController::Reply(int command, const Bytes &request) {
    switch (command) {
    case sim::kWriteRam:
        ram = sim::FrameWords(request);
        return {};
    case sim::kWriteEeprom:
        eeprom = sim::FrameWords(request);
        return {};
    case sim::kEchoCheck: {
        sim::ModelOptions board;
        board.variant = variant;
        return sim::ControllerModel(board).Reply(request, 0);
    }
    case sim::kFirmware: {
        Bytes text(variant == 100 ? 72 : 64, 0);
        for (std::size_t i = 0; i < firmware.size() && i < (variant == 100 ? 71u : 31u); ++i)
            text[variant == 100 ? i : 2 * i + 1] = static_cast<std::uint8_t>(firmware[i]);
        return text;
    }
    case sim::kLiveValues:
        if (liveLimit >= 0 && liveReplies >= liveLimit)
            return {};
        ++liveReplies;
        return sim::MakeFrame(sim::kLiveValues, live);
    case sim::kDataBlock: { // word i of a block: source * 1000 + start + i
        const sim::Words asked = sim::FrameWords(request);
        Bytes block;
        for (int i = 0; i < 64; ++i) {
            const int value = asked[1] * 1000 + asked[0] + i;
            block.insert(block.end(), {std::uint8_t(value >> 8), std::uint8_t(value)});
        }
        return block;
    }
    case sim::kReadEeprom:
        return sim::MakeFrame(sim::kReadEeprom, eeprom);
    case sim::kReadRam:
    case sim::kTeach:
    case sim::kReset:
        return sim::MakeFrame(static_cast<std::uint16_t>(command), ram);
    default:
        return {};
    }
}

ScriptedPeer::Responder FakeController::Responder() {
    return [this](const Bytes &request) {
        const int command = sim::FrameCommand(request);
        PeerReply reply;
        const auto quiet = silent.find(command);
        if (quiet == silent.end() || !quiet->second) {
            reply.bytes     = Reply(command, request);
            const auto wait = delay.find(command);
            reply.delay     = wait == delay.end() ? 0.0 : wait->second;
        }
        return reply;
    };
}
