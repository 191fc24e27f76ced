// Layout operations of the geometry family: where the system block, the
// directory entries and the photo slots lie for each kind of card.
#include "cardlib/geometry.h"

#include <algorithm>

namespace quorbit {

uint16_t FlashGeometry::HeaderCapacity(const SystemBlock& block) const {
    return LoadLe16(&block[kCapacityOffset]);
}

uint16_t FlashGeometry::HeaderPhotoCount(const SystemBlock& block) const {
    return LoadLe16(&block[kPhotoCountOffset]);
}

uint8_t FlashGeometry::BlocksPerPhoto() const {
    return static_cast<uint8_t>((kPhotoSlotBytes + BlockBytes() - 1) / BlockBytes());
}

uint32_t FlashGeometry::DirectoryPage() const {
    return SystemBlockPage();
}

uint16_t FlashGeometry::EntrySlot(const SystemBlock& block, int index) const {
    if (index < 0)
        return kNoSlot;
    const size_t offset = EntryOffset(PageSize(), static_cast<size_t>(index)) + kEntrySlotOffset;
    if (offset + 2 > SystemBlockBytes())
        return kNoSlot;
    return LoadLe16(&block[offset]);
}

uint32_t FlashGeometry::BlockToPage(uint32_t block) const {
    return block * PagesPerBlock();
}

uint32_t FlashGeometry::PhotoFirstPage(const SystemBlock& block, int index) const {
    return uint32_t{EntrySlot(block, index)} * BlocksPerPhoto() * PagesPerBlock();
}

uint32_t FlashGeometry::SystemBlockBytes() const {
    return std::min<uint32_t>(BlockBytes(), kSystemBlockBytes);
}

uint32_t FlashGeometry::SystemBlockWritePages() const {
    uint32_t pages = std::min<uint32_t>(PagesPerBlock(), kSystemBlockBytes / PageSize());
    // Write addresses count PageSize()-byte pages on every card.
    const uint32_t card_pages = uint32_t{FlashSizeMb()} * 1024 * 1024 / PageSize();
    const uint32_t first = DirectoryPage();
    const uint32_t on_card = first < card_pages ? card_pages - first : 0;
    return std::min(pages, on_card);
}

bool FlashGeometry::IsNoSlot(uint16_t slot) const {
    if (slot == kNoSlot)
        return true;
    // A one-byte slot field reads 0xFF when erased; that is a real slot only
    // on a card with more than 255 slots.
    return slot == 0xFF && MaxPhotos() <= 0xFF;
}

// --- little-endian family ------------------------------------------------

uint16_t LittleEndianGeometry::HeaderCapacity(const SystemBlock& block) const {
    return block[kCapacityOffset];
}

uint16_t LittleEndianGeometry::HeaderPhotoCount(const SystemBlock& block) const {
    return block[kPhotoCountOffset];
}

uint16_t LittleEndianGeometry::EntrySlot(const SystemBlock& block, int index) const {
    if (index < 0)
        return 0xFF;
    const size_t offset = EntryOffset(PageSize(), static_cast<size_t>(index)) + kEntrySlotOffset;
    if (offset + 1 > SystemBlockBytes())
        return 0xFF;
    return block[offset];
}

uint32_t LittleEndianGeometry::BlockToPage(uint32_t block) const {
    // Read addresses count 256-byte units. Stepping by the block's own size
    // keeps a whole-card copy byte for byte on the 8 KB-block card too.
    return block * (BlockBytes() / 256);
}

uint32_t LittleEndianGeometry::PhotoFirstPage(const SystemBlock& block, int index) const {
    // The 32 KB boundary at or below the slot's start, in 256-byte units:
    // ReadPhoto reads a 32 KB-aligned window and drops the lead-in again.
    const uint32_t slot = EntrySlot(block, index);
    const auto q = static_cast<uint16_t>(slot * kPhotoSlotBytes / 0x8000);
    return uint32_t{q} * 128;
}

// --- factory -------------------------------------------------------------

std::unique_ptr<FlashGeometry> MakeGeometry(GeometryKind kind, platform::DeviceHandle* device) {
    switch (kind) {
        case GeometryKind::k8MbLe:
            return std::make_unique<Geometry8MbLe>(device);
        case GeometryKind::k16MbLe:
            return std::make_unique<Geometry16MbLe>(device);
        case GeometryKind::k8Mb:
            return std::make_unique<Geometry8Mb>(device);
        case GeometryKind::k16Mb:
            return std::make_unique<Geometry16Mb>(device);
        case GeometryKind::k32Mb:
            return std::make_unique<Geometry32Mb>(device);
        case GeometryKind::k64Mb:
            return std::make_unique<Geometry64Mb>(device);
        case GeometryKind::k128Mb:
            return std::make_unique<Geometry128Mb>(device);
    }
    return nullptr;
}

const char* GeometryName(GeometryKind kind) {
    switch (kind) {
        case GeometryKind::k8MbLe:
            return "Geometry8MbLe";
        case GeometryKind::k16MbLe:
            return "Geometry16MbLe";
        case GeometryKind::k8Mb:
            return "Geometry8Mb";
        case GeometryKind::k16Mb:
            return "Geometry16Mb";
        case GeometryKind::k32Mb:
            return "Geometry32Mb";
        case GeometryKind::k64Mb:
            return "Geometry64Mb";
        case GeometryKind::k128Mb:
            return "Geometry128Mb";
    }
    return "?";
}

}  // namespace quorbit
