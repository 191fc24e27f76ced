// The seven firmware variants of the camera. Each camera runs one of them; it
// fixes the card size, the page and erase-block sizes, where the system block
// and the photo slots lie, and how the address of each command is encoded in
// the 16-byte command block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sim {

enum class Variant { k8MbLe, k16MbLe, k8Mb, k16Mb, k32Mb, k64Mb, k128Mb };

inline constexpr std::array<Variant, 7> kAllVariants = {
    Variant::k8MbLe, Variant::k16MbLe, Variant::k8Mb,  Variant::k16Mb,
    Variant::k32Mb,  Variant::k64Mb,   Variant::k128Mb};

// How a command's address field is laid out.
enum class AddressField {
    ByteAddress24Le,  // bytes 2-4, little-endian, a byte address
    Page16LeAt3,      // bytes 3-4, little-endian, a page number
    Page24BeAt3,      // bytes 3-5, big-endian, a page number
    Page16BeAt3,      // bytes 3-4, big-endian, a page number
    Page16BeAt4,      // bytes 4-5, big-endian, a page number
};

struct Geometry {
    Variant variant;
    std::string_view name;  // "8MbLe", ..., "128Mb" (the --geometry spelling)
    uint64_t card_bytes;
    uint32_t page_bytes;   // unit of write and erase addresses (and big-endian reads)
    uint32_t block_bytes;  // erase block
    bool little_endian;    // the 8/16 MB little-endian firmware
    AddressField read_field;
    AddressField write_field;  // also used by end of write
    AddressField erase_field;
    uint64_t system_block_offset;  // where a format puts the header page
    uint16_t max_photos;
    uint32_t slot_bytes;      // distance between photo slots
    std::string_view header;  // the 24 characters a format writes (a NUL follows)
};

const Geometry& GeometryOf(Variant variant);
std::optional<Variant> ParseVariant(std::string_view name);
std::string_view VariantName(Variant variant);

// "8MbLe|16MbLe|8Mb|16Mb|32Mb|64Mb|128Mb"
std::string VariantList();

inline constexpr uint8_t kCommandMarker = 0x85;
inline constexpr size_t kCommandBytes = 16;

enum class Opcode : uint8_t { Read = 0x71, Write = 0x72, Erase = 0x73, EndOfWrite = 0x74 };

struct DecodedCommand {
    Opcode opcode = Opcode::Read;
    // Byte offset on the card the command addresses, not yet reduced modulo
    // the card size.
    uint64_t byte_address = 0;
};

struct DecodeResult {
    std::optional<DecodedCommand> command;
    std::string error;  // why the block was refused, when command is empty
};

// An OUT transfer is a command when it is exactly 16 bytes and starts with
// 0x85; anything else is data.
bool LooksLikeCommand(std::span<const uint8_t> transfer);

// Strict decoding of a command block for the variant: a known opcode, the
// address where the variant's firmware expects it, and every other byte 0.
DecodeResult DecodeCommand(const Geometry& geometry, std::span<const uint8_t> block);

}  // namespace sim
