// Reading one photo slot into memory and exporting it as a bitmap file.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cardlib/bitmap.h"
#include "cardlib/files.h"
#include "cardlib/photo_io.h"

namespace quorbit {
namespace {

void Step(ProgressStepFunc step) {
    if (step != nullptr)
        step();
}

// The little-endian cards read 32 KB-aligned windows in 16 KB chunks.
constexpr uint32_t kChunkBytes = 0x4000;
constexpr int kChunks = kReadBufferBytes / kChunkBytes;  // 20
constexpr uint32_t kChunkReadUnits = kChunkBytes / 256;  // 64

}  // namespace

int FlashGeometry::ReadPhoto(const SystemBlock& block, std::span<uint8_t> out, int index,
                             ProgressStepFunc step) {
    if (out.size() < kPhotoSlotBytes)
        return 0;
    const uint32_t first = PhotoFirstPage(block, index);
    const uint32_t page = PageSize();
    const uint32_t pages_per_photo = kPhotoSlotBytes / page;
    const uint32_t per_block = PagesPerBlock();
    const uint32_t blocks = BlocksPerPhoto();
    Step(step);
    for (uint32_t i = 0; i < blocks; ++i) {
        uint32_t length = BlockBytes();
        if (i == blocks - 1 && pages_per_photo % per_block != 0)
            length = (pages_per_photo % per_block) * page;
        const size_t offset = size_t{i} * BlockBytes();
        if (offset + length > out.size())
            return 0;
        if (ReadPages(first + i * per_block, out.data() + offset, length) == 0)
            return 0;
        Step(step);
    }
    return 1;
}

int LittleEndianGeometry::ReadPhoto(const SystemBlock& block, std::span<uint8_t> out, int index,
                                    ProgressStepFunc step) {
    if (out.size() < kReadBufferBytes)
        return 0;
    const uint32_t first = PhotoFirstPage(block, index);
    for (int s = 0; s < StepsPerChunk(); ++s)
        Step(step);
    for (int i = 0; i < kChunks; ++i) {
        if (ReadPages(first + kChunkReadUnits * i, out.data() + size_t(i) * kChunkBytes,
                      kChunkBytes) == 0)
            return 0;
        for (int s = 0; s < StepsPerChunk(); ++s)
            Step(step);
    }
    const uint32_t slot = EntrySlot(block, index);
    const uint32_t offset = (slot * kPhotoSlotBytes) % 0x8000;
    if (offset != 0) {
        std::memmove(out.data(), out.data() + offset, kPhotoSlotBytes);
    }
    return 1;
}

std::optional<std::vector<uint8_t>> ReadRawPhoto(CardSession& session, int index) {
    FlashGeometry* geometry = session.geometry.get();
    if (geometry == nullptr)
        return std::nullopt;
    const int count = geometry->HeaderPhotoCount(session.system_block);
    if (index < 0 || index >= count)
        return std::nullopt;
    const uint16_t slot = geometry->EntrySlot(session.system_block, index);
    if (geometry->IsNoSlot(slot))
        return std::nullopt;
    return ReadRawSlot(session, slot);
}

std::optional<std::vector<uint8_t>> ReadRawSlot(CardSession& session, uint16_t slot) {
    FlashGeometry* geometry = session.geometry.get();
    if (geometry == nullptr || slot >= geometry->MaxPhotos())
        return std::nullopt;
    // The geometry reads a photo by its directory entry: a copy of the system
    // block whose first entry names the slot.
    SystemBlock block = session.system_block;
    StoreEntry(block, geometry->PageSize(), 0, slot);
    session.BeginProgress(geometry->BlocksPerPhoto() + 1);
    std::vector<uint8_t> buffer(kReadBufferBytes, 0);
    if (geometry->ReadPhoto(block, buffer, 0, session.step) == 0)
        return std::nullopt;
    // The last 100 pixels of the bottom row lie past the slot: they are not
    // on the card. The buffer holds the next slot's bytes there (another or
    // a deleted photo) or a copy of this slot's own: they are black instead.
    std::fill(buffer.begin() + kPhotoSlotBytes, buffer.end(), uint8_t{0});
    buffer.resize(kRawPhotoBytes);
    return buffer;
}

int ReadPhotoToFile(CardSession& session, int index, const std::string& path) {
    if (session.geometry == nullptr || !IsRegularFileOrAbsent(path))
        return 0;
    const std::optional<std::vector<uint8_t>> raw = ReadRawPhoto(session, index);
    if (!raw)
        return 0;
    return WriteWholeFile(path, EncodeBitmap(*raw)) ? 1 : 0;
}

}  // namespace quorbit
