// The on-flash format of the card: photo slots from the start of the card,
// the system block (header page and directory) at its end, and the raw photo
// layout the camera writes into a slot.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorbit {

// The session keeps at most this much of the system block (header page and
// directory); larger erase blocks are only partly used.
inline constexpr size_t kSystemBlockBytes = 16384;
using SystemBlock = std::array<uint8_t, kSystemBlockBytes>;

inline constexpr std::string_view kMagic = "ZPX PHOTO CAM IMAGE";
// Full header texts with their terminating NUL as a format writes them.
inline constexpr char kHeaderV15[] = "ZPX PHOTO CAM IMAGE V1.5";
inline constexpr char kHeaderV10[] = "ZPX PHOTO CAM IMAGE V1.0";
static_assert(sizeof(kHeaderV15) == 25 && sizeof(kHeaderV10) == 25);

inline constexpr size_t kPhotoCountOffset = 256;
inline constexpr size_t kCapacityOffset = 258;
inline constexpr size_t kDirectoryEntryBytes = 16;
inline constexpr size_t kEntrySlotOffset = 8;
inline constexpr uint16_t kNoSlot = 0xFFFF;

// A photo occupies the first 0x4C000 bytes of its slot.
inline constexpr uint32_t kPhotoSlotBytes = 0x4C000;

// The raw photo: 322 x 242 pixels of 4 bytes (blue, green', green, red),
// top row first. It is 400 bytes longer than the slot that holds it.
inline constexpr int kPhotoWidth = 322;
inline constexpr int kPhotoHeight = 242;
inline constexpr size_t kRawPixelBytes = 4;
inline constexpr size_t kRawRowBytes = kPhotoWidth * kRawPixelBytes;   // 1288
inline constexpr size_t kRawPhotoBytes = kRawRowBytes * kPhotoHeight;  // 311696
static_assert(kRawPhotoBytes == kPhotoSlotBytes + 400);

// A read-out brings the slot into a buffer of this size; the little-endian
// cards fill all of it (twenty 16 KB chunks).
inline constexpr size_t kReadBufferBytes = 0x50000;
static_assert(kReadBufferBytes >= kRawPhotoBytes);

inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    StoreLe16(p, static_cast<uint16_t>(v & 0xFFFF));
    StoreLe16(p + 2, static_cast<uint16_t>(v >> 16));
}

inline constexpr size_t EntryOffset(uint16_t page_size, size_t index) {
    return page_size + kDirectoryEntryBytes * index;
}

// Puts directory entry `index` in use as the library writes an entry: bytes
// 0-7 zero, the slot in bytes 8-9, bytes 10-15 left as they are (erased).
// The caller keeps the entry inside the block.
inline void StoreEntry(SystemBlock& block, uint16_t page_size, size_t index, uint16_t slot) {
    uint8_t* entry = block.data() + EntryOffset(page_size, index);
    std::fill(entry, entry + kEntrySlotOffset, uint8_t{0});
    StoreLe16(entry + kEntrySlotOffset, slot);
}

}  // namespace quorbit
