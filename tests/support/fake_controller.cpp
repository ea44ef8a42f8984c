#include "fake_controller.h"

Bytes FakeController::Reply(int command, const Bytes &request) {
    switch (command) {
    case 1:
        ram.assign(16, 0);
        for (int i = 0; i < 16; ++i)
            ram[i] = FrameWord(request, i);
        return {};
    case 2:
        return MakeFrame(2, ram);
    case 4:
        return MakeFrame(4, eeprom);
    case 5: {
        Bytes echo(request);
        if (variant == 100) {
            echo[1] = 0xAA;
        } else {
            echo[4] = 0x00;
            echo[5] = 0xAA;
        }
        return echo;
    }
    case 6:
    case 10:
        return MakeFrame(command, ram);
    case 7: {
        if (variant == 100) {
            Bytes text(72, 0);
            std::copy(firmware.begin(), firmware.end(), text.begin());
            return text;
        }
        Bytes words(64, 0);
        for (std::size_t i = 0; i < firmware.size() && i < 31; ++i)
            words[2 * i + 1] = static_cast<std::uint8_t>(firmware[i]);
        return words;
    }
    case 8:
        if (liveLimit >= 0 && liveReplies >= liveLimit)
            return {};
        ++liveReplies;
        return MakeFrame(8, live);
    case 9: {
        const int start  = FrameWord(request, 0);
        const int source = FrameWord(request, 1);
        Bytes block(128);
        for (int i = 0; i < 64; ++i) {
            const int value  = source * 1000 + start + i;
            block[2 * i]     = static_cast<std::uint8_t>(value >> 8);
            block[2 * i + 1] = static_cast<std::uint8_t>(value);
        }
        return block;
    }
    default:
        return {};
    }
}

ScriptedPeer::Responder FakeController::Responder() {
    return [this](const Bytes &request) {
        const int command = request[2] << 8 | request[3];
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
