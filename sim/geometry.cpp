#include "sim/geometry.h"

#include <cstdio>

namespace sim {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr std::string_view kHeaderV10 = "ZPX PHOTO CAM IMAGE V1.0";
constexpr std::string_view kHeaderV15 = "ZPX PHOTO CAM IMAGE V1.5";

using F = AddressField;

// The little-endian firmware takes reads as byte addresses (the low byte in
// byte 2) but writes and erases as 512-byte pages; the big-endian firmware
// counts pages throughout. The 128 MB firmware has its erase address one
// byte further right than its read and write addresses.
constexpr std::array<Geometry, 7> kGeometries = {{
    {Variant::k8MbLe, "8MbLe", 8 * kMiB, 512, 8192, true, F::ByteAddress24Le, F::Page16LeAt3,
     F::Page16LeAt3, 0x7FE000, 26, 0x4C000, kHeaderV10},
    {Variant::k16MbLe, "16MbLe", 16 * kMiB, 512, 16384, true, F::ByteAddress24Le, F::Page16LeAt3,
     F::Page16LeAt3, 0xFFE000, 52, 0x4C000, kHeaderV10},
    {Variant::k8Mb, "8Mb", 8 * kMiB, 512, 8192, false, F::Page24BeAt3, F::Page24BeAt3,
     F::Page24BeAt3, 0x7FE000, 26, 0x4C000, kHeaderV15},
    {Variant::k16Mb, "16Mb", 16 * kMiB, 512, 16384, false, F::Page24BeAt3, F::Page24BeAt3,
     F::Page24BeAt3, 0xFFC000, 52, 0x4C000, kHeaderV15},
    {Variant::k32Mb, "32Mb", 32 * kMiB, 512, 16384, false, F::Page24BeAt3, F::Page24BeAt3,
     F::Page24BeAt3, 0x1FFC000, 104, 0x4C000, kHeaderV15},
    {Variant::k64Mb, "64Mb", 64 * kMiB, 512, 16384, false, F::Page24BeAt3, F::Page24BeAt3,
     F::Page24BeAt3, 0x3FFC000, 208, 0x4C000, kHeaderV15},
    {Variant::k128Mb, "128Mb", 128 * kMiB, 2048, 131072, false, F::Page16BeAt3, F::Page16BeAt3,
     F::Page16BeAt4, 0x7FE0000, 340, 0x60000, kHeaderV15},
}};

struct FieldLayout {
    size_t first;  // first byte of the field
    size_t width;
};

FieldLayout LayoutOf(AddressField field) {
    switch (field) {
        case F::ByteAddress24Le:
            return {2, 3};
        case F::Page16LeAt3:
            return {3, 2};
        case F::Page24BeAt3:
            return {3, 3};
        case F::Page16BeAt3:
            return {3, 2};
        case F::Page16BeAt4:
            return {4, 2};
    }
    return {2, 0};
}

uint64_t FieldValue(AddressField field, std::span<const uint8_t> b) {
    switch (field) {
        case F::ByteAddress24Le:
            return b[2] | (b[3] << 8) | (static_cast<uint32_t>(b[4]) << 16);
        case F::Page16LeAt3:
            return b[3] | (b[4] << 8);
        case F::Page24BeAt3:
            return (static_cast<uint32_t>(b[3]) << 16) | (b[4] << 8) | b[5];
        case F::Page16BeAt3:
            return (b[3] << 8) | b[4];
        case F::Page16BeAt4:
            return (b[4] << 8) | b[5];
    }
    return 0;
}

std::string HexBlock(std::span<const uint8_t> block) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < block.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", block[i]);
        out += buf;
    }
    return out;
}

}  // namespace

const Geometry& GeometryOf(Variant variant) {
    return kGeometries[static_cast<size_t>(variant)];
}

std::optional<Variant> ParseVariant(std::string_view name) {
    for (const Geometry& g : kGeometries) {
        if (g.name == name)
            return g.variant;
    }
    return std::nullopt;
}

std::string_view VariantName(Variant variant) {
    return GeometryOf(variant).name;
}

std::string VariantList() {
    std::string out;
    for (const Geometry& g : kGeometries) {
        if (!out.empty())
            out += '|';
        out += g.name;
    }
    return out;
}

bool LooksLikeCommand(std::span<const uint8_t> transfer) {
    return transfer.size() == kCommandBytes && transfer[0] == kCommandMarker;
}

DecodeResult DecodeCommand(const Geometry& geometry, std::span<const uint8_t> block) {
    DecodeResult result;
    if (block.size() != kCommandBytes) {
        result.error = "command block of " + std::to_string(block.size()) + " bytes, not 16";
        return result;
    }
    if (block[0] != kCommandMarker) {
        result.error = "command block does not start with 0x85: " + HexBlock(block);
        return result;
    }
    AddressField field;
    Opcode opcode;
    switch (block[1]) {
        case 0x71:
            opcode = Opcode::Read;
            field = geometry.read_field;
            break;
        case 0x72:
            opcode = Opcode::Write;
            field = geometry.write_field;
            break;
        case 0x73:
            opcode = Opcode::Erase;
            field = geometry.erase_field;
            break;
        case 0x74:
            opcode = Opcode::EndOfWrite;
            field = geometry.write_field;
            break;
        default:
            result.error = "unknown opcode in command block: " + HexBlock(block);
            return result;
    }
    const FieldLayout layout = LayoutOf(field);
    for (size_t i = 2; i < kCommandBytes; ++i) {
        const bool in_field = i >= layout.first && i < layout.first + layout.width;
        if (!in_field && block[i] != 0) {
            result.error = "byte " + std::to_string(i) + " of the command block must be 0 for " +
                           std::string(geometry.name) + " firmware: " + HexBlock(block);
            return result;
        }
    }
    const uint64_t value = FieldValue(field, block);
    const uint64_t unit = field == F::ByteAddress24Le ? 1 : geometry.page_bytes;
    result.command = DecodedCommand{opcode, value * unit};
    return result;
}

}  // namespace sim
