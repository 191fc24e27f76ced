// The 16-byte command block that precedes every bulk transfer.
#pragma once

#include <array>
#include <cstdint>

namespace quorbit {

enum Opcode : uint8_t {
    kOpRead = 0x71,
    kOpWrite = 0x72,
    kOpErase = 0x73,
    kOpEndOfWrite = 0x74,
};

inline constexpr uint8_t kCommandMarker = 0x85;

struct CommandBlock {
    std::array<uint8_t, 16> bytes{};
};

inline CommandBlock MakeCommand(uint8_t opcode) {
    CommandBlock block;
    block.bytes[0] = kCommandMarker;
    block.bytes[1] = opcode;
    return block;
}

}  // namespace quorbit
