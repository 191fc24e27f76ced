// Adding and removing photos: the slot choice with free-slot hints, the page
// writes of an upload, the directory rules and the write-back of the system
// block.
//
// Directory invariants kept here: entries 0..count-1 are in use; entry count
// is all 0xFF; after a deletion entry count+1 holds the freed slot number
// (a hint the next upload takes), and older hints follow further on.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cardlib/bitmap.h"
#include "cardlib/files.h"
#include "cardlib/photo_io.h"
#include "cardlib/transport.h"

namespace quorbit {
namespace {

uint8_t* Entry(CardSession& session, size_t index) {
    return session.system_block.data() + EntryOffset(session.geometry->PageSize(), index);
}

// Whether entries 0..last lie inside the part of the system block that is
// kept and written back.
bool EntriesFit(const FlashGeometry& geometry, size_t last) {
    const size_t end = EntryOffset(geometry.PageSize(), last) + kDirectoryEntryBytes;
    return end <= geometry.SystemBlockWritePages() * geometry.PageSize();
}

// The slot for a new photo: the hint left by the last deletion, else the
// slot after the photos counted. A card written by the camera itself need not
// keep hints as this library does, so a slot that an entry in use refers to,
// or one beyond the card, is never taken: then the lowest free slot is.
std::optional<uint16_t> ChooseSlot(const CardSession& session, int count) {
    const FlashGeometry& g = *session.geometry;
    const int max = g.MaxPhotos();
    std::vector<bool> used(static_cast<size_t>(max), false);
    for (int i = 0; i < count; ++i) {
        const uint16_t s = g.EntrySlot(session.system_block, i);
        if (!g.IsNoSlot(s) && s < max)
            used[s] = true;
    }
    const uint16_t hint = g.EntrySlot(session.system_block, count + 1);
    uint16_t slot = g.IsNoSlot(hint) || hint >= max ? static_cast<uint16_t>(count) : hint;
    if (slot < max && !used[slot])
        return slot;
    for (int s = 0; s < max; ++s)
        if (!used[static_cast<size_t>(s)])
            return static_cast<uint16_t>(s);
    return std::nullopt;
}

}  // namespace

bool EraseForWriting(FlashGeometry& geometry, uint32_t address) {
    // Programming only clears bits: pages written into a block that was not
    // erased would mix with its old bytes. A passing fault gets one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (geometry.EraseBlock(address) != 0)
            return true;
    }
    ReportCardError(kTextWriteError);
    return false;
}

namespace {

// Whether the card's system block holds `block` where the write-back writes
// it. A write-back whose transfers failed may still have left it whole: a
// page of nothing but 0xFF changes nothing in an erased block, so only its
// transfer failed.
bool CardHoldsSystemBlock(FlashGeometry& g, const SystemBlock& block) {
    const uint32_t bytes =
        std::min(g.SystemBlockBytes(), g.SystemBlockWritePages() * uint32_t{g.PageSize()});
    std::vector<uint8_t> card(g.SystemBlockBytes());
    return g.ReadPages(g.SystemBlockPage(), card.data(), g.SystemBlockBytes()) != 0 &&
           std::memcmp(card.data(), block.data(), bytes) == 0;
}

}  // namespace

bool WriteSystemBlock(FlashGeometry& g, const SystemBlock& block) {
    const uint32_t page = g.PageSize();
    const uint32_t pages = g.SystemBlockWritePages();
    const auto attempt = [&] {
        if (g.EraseBlock(g.DirectoryPage()) == 0)
            return false;
        for (uint32_t j = 0; j < pages; ++j) {
            if (g.WritePages(g.DirectoryPage() + j, block.data() + j * page, page) == 0)
                return false;
        }
        return true;
    };
    // A passing fault must not cost the whole directory: the block is erased
    // and rewritten once more before giving up. When both attempts report a
    // failure, the card has the last word: a block that reads back as
    // intended is a change made (a host that opens the camera again would
    // otherwise make it a second time). Quiet: the caller reports.
    const QuietCardErrors quiet;
    return attempt() || attempt() || CardHoldsSystemBlock(g, block);
}

bool PutBackSystemBlock(FlashGeometry& g, const SystemBlock& before) {
    // A camera that stopped answering cannot be asked; one that answers may
    // still hold the old block (an erase that never happened).
    if (g.invalidated())
        return false;
    {
        const QuietCardErrors quiet;
        if (CardHoldsSystemBlock(g, before))
            return true;
    }
    return WriteSystemBlock(g, before);
}

void ReportSystemBlockLost() {
    ReportCardError(kTextWriteError,
                    "The card's directory could not be written whole: should the card not be "
                    "recognised or list its photos wrongly, repair it before anything else. The "
                    "photos are still in their slots.");
}

int StoreSystemBlock(CardSession& session, const SystemBlock& before) {
    FlashGeometry* g = session.geometry.get();
    if (g == nullptr)
        return 0;
    if (WriteSystemBlock(*g, session.system_block))
        return 1;
    // The card may now hold an erased or half-written system block, which a
    // host that closes the session would find unrecognised: the block as it
    // was before the call goes back, so that the card is as before for any
    // host. The session's copy is as before in any case, so that
    // GetPhotoCount and a host's retry in the same session see the photos the
    // call did not change (that retry's write-back rewrites the whole block).
    session.system_block = before;
    if (PutBackSystemBlock(*g, before))
        ReportCardError(kTextWriteError);
    else
        ReportSystemBlockLost();
    return 0;
}

int AppendDirectoryEntry(CardSession& session, uint16_t slot) {
    FlashGeometry* g = session.geometry.get();
    if (g == nullptr)
        return 0;
    const int n = g->HeaderPhotoCount(session.system_block) + 1;
    if (!EntriesFit(*g, static_cast<size_t>(n)))
        return 0;
    const SystemBlock before = session.system_block;
    StoreLe16(&session.system_block[kPhotoCountOffset], static_cast<uint16_t>(n));
    StoreEntry(session.system_block, g->PageSize(), static_cast<size_t>(n - 1), slot);
    std::memset(Entry(session, static_cast<size_t>(n)), 0xFF, kDirectoryEntryBytes);
    return StoreSystemBlock(session, before);
}

int WriteFileToFlash(CardSession& session, const std::string& path) {
    FlashGeometry* g = session.geometry.get();
    if (g == nullptr || path.empty())
        return 0;
    const int count = g->HeaderPhotoCount(session.system_block);
    // A full card; and entries count .. count+1 must lie in the kept block.
    if (count >= g->MaxPhotos() || !EntriesFit(*g, static_cast<size_t>(count) + 1))
        return 0;

    const std::optional<std::vector<uint8_t>> file = ReadWholeFile(path, kMaxBitmapFileBytes);
    if (!file)
        return 0;
    const std::optional<std::vector<uint8_t>> raw = DecodeBitmap(*file);
    if (!raw)
        return 0;
    const std::optional<uint16_t> slot = ChooseSlot(session, count);
    if (!slot)
        return 0;

    const uint32_t page = g->PageSize();
    const uint32_t per_block = g->PagesPerBlock();
    const uint32_t first = uint32_t{*slot} * g->BlocksPerPhoto() * per_block;
    const uint32_t pages = kPhotoSlotBytes / page;
    session.BeginProgress(static_cast<int32_t>(pages));
    for (uint32_t i = 0; i < pages; ++i) {
        if (i % per_block == 0 && !EraseForWriting(*g, first + i))
            return 0;
        if (g->WritePages(first + i, raw->data() + size_t{i} * page, page) == 0)
            return 0;
        session.StepProgress();
    }
    return AppendDirectoryEntry(session, *slot);
}

int DeletePhoto(CardSession& session, int index) {
    FlashGeometry* g = session.geometry.get();
    if (g == nullptr)
        return 0;
    const int count = g->HeaderPhotoCount(session.system_block);
    if (index < 0 || index >= count || !EntriesFit(*g, static_cast<size_t>(count)))
        return 0;
    const int m = count - 1;
    const uint16_t freed = g->EntrySlot(session.system_block, index);
    const SystemBlock before = session.system_block;
    StoreLe16(&session.system_block[kPhotoCountOffset], static_cast<uint16_t>(m));
    if (m > index) {
        std::memmove(Entry(session, static_cast<size_t>(index)),
                     Entry(session, static_cast<size_t>(index) + 1),
                     kDirectoryEntryBytes * static_cast<size_t>(m - index));
    }
    std::memset(Entry(session, static_cast<size_t>(m)), 0xFF, 2 * kDirectoryEntryBytes);
    StoreLe16(Entry(session, static_cast<size_t>(m) + 1) + kEntrySlotOffset, freed);
    return StoreSystemBlock(session, before);
}

}  // namespace quorbit
