// Whole-card operations: the block-by-block backup into an image file and
// the format, which writes a fresh header and an empty directory.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cardlib/files.h"
#include "cardlib/photo_io.h"

namespace quorbit {
namespace {

std::optional<GeometryKind> KindForSize(int size_mb) {
    switch (size_mb) {
        case 8:
            return GeometryKind::k8MbLe;
        case 16:
            return GeometryKind::k16MbLe;
        case 32:
            return GeometryKind::k32Mb;
        case 64:
            return GeometryKind::k64Mb;
        case 128:
            return GeometryKind::k128Mb;
        default:
            return std::nullopt;
    }
}

// Writes the fresh header page with the session's geometry: magic, count 0,
// capacity, and on 2048-byte pages the start of the directory erased. The
// rest of the block reads erased after the erase that precedes the write;
// the session's copy says so too, so that a header write that fails leaves
// no old entries behind the count of 0.
bool WriteFreshHeader(CardSession& session, const char (&header)[25]) {
    FlashGeometry& g = *session.geometry;
    uint8_t* block = session.system_block.data();
    std::memcpy(block, header, sizeof header);
    StoreLe16(block + kPhotoCountOffset, 0);
    StoreLe16(block + kCapacityOffset, static_cast<uint16_t>(g.MaxPhotos()));
    std::fill(block + 512, block + session.system_block.size(), uint8_t{0xFF});
    g.EraseBlock(g.DirectoryPage());
    return g.WritePages(g.DirectoryPage(), block, g.PageSize()) != 0;
}

// The big-endian form of a little-endian 8 or 16 MB geometry, when the size
// asked for is that card's.
std::optional<GeometryKind> SecondTry(GeometryKind formatted, int size_mb) {
    if (formatted == GeometryKind::k8MbLe && size_mb == 8)
        return GeometryKind::k8Mb;
    if (formatted == GeometryKind::k16MbLe && size_mb == 16)
        return GeometryKind::k16Mb;
    return std::nullopt;
}

std::optional<GeometryKind> KindOf(const FlashGeometry& g) {
    if (dynamic_cast<const Geometry8MbLe*>(&g))
        return GeometryKind::k8MbLe;
    if (dynamic_cast<const Geometry16MbLe*>(&g))
        return GeometryKind::k16MbLe;
    return std::nullopt;
}

// A big-endian 8 or 16 MB camera that reads the little-endian commands'
// address bytes as one page number keeps only the bits its card needs, and
// the little-endian header write and read-back can then meet in one page
// that is not the system block: the check passes, and every later write-back
// would program all its pages into that one page. Such a camera shows the
// header also at the read address that differs from the system block's only
// in the bits above the card's page count; a little-endian camera holds photo
// data there.
bool HeaderAliasesElsewhere(CardSession& session) {
    FlashGeometry& g = *session.geometry;
    const uint32_t card_pages = uint32_t{g.FlashSizeMb()} * 1024 * 1024 / g.PageSize();
    const uint32_t alias = g.SystemBlockPage() & (card_pages - 1);
    if (alias == g.SystemBlockPage())
        return false;
    std::vector<uint8_t> page(g.PageSize());
    if (g.ReadPages(alias, page.data(), g.PageSize()) == 0)
        return false;
    return std::memcmp(page.data(), kMagic.data(), kMagic.size()) == 0;
}

}  // namespace

int ReadAll(CardSession& session, const std::string& path) {
    FlashGeometry* g = session.geometry.get();
    if (g == nullptr || path.empty())
        return 0;
    const uint32_t n = g->BlockBytes();
    const uint32_t blocks = uint32_t{g->FlashSizeMb()} * 1024 / (n / 1024);
    OutputFile file;
    if (!file.Create(path))
        return 0;
    std::vector<uint8_t> buffer(n);
    session.BeginProgress(static_cast<int32_t>(blocks));
    int result = 1;
    for (uint32_t i = 0; i < blocks; ++i) {
        if (g->ReadPages(g->BlockToPage(i), buffer.data(), n) == 0 || !file.Write(buffer)) {
            result = 0;
            break;
        }
        session.StepProgress();
    }
    if (!file.Close())
        result = 0;
    return result;
}

int FormatFlash(CardSession& session, int size_arg) {
    if (!session.IsOpen())
        return 0;
    const int size_mb = size_arg & 0xFFFF;
    bool chosen_here = false;
    if (session.geometry == nullptr) {
        const std::optional<GeometryKind> kind = KindForSize(size_mb);
        if (!kind)
            return 0;
        session.geometry = MakeGeometry(*kind, session.device.get());
        chosen_here = true;
    }
    const std::optional<GeometryKind> formatted = KindOf(*session.geometry);
    const bool little_endian_choice = chosen_here && formatted.has_value();

    session.BeginProgress(1);
    const bool written = WriteFreshHeader(session, little_endian_choice ? kHeaderV10 : kHeaderV15);
    if (written) {
        session.StepProgress();
        if (ProbeGeometry(session) == 1) {
            if (!little_endian_choice || !HeaderAliasesElsewhere(session))
                return 1;
            // Not a little-endian camera: take back the header just written,
            // or the next detection would find it again.
            session.geometry->EraseBlock(session.geometry->DirectoryPage());
            session.geometry.reset();
        }
    }
    // The 8 and 16 MB cards come in a little-endian and a big-endian form.
    // When the little-endian form this call chose does not take the header
    // (its commands are refused) or does not read it back, the big-endian
    // form of the same size is tried.
    const std::optional<GeometryKind> second =
        formatted ? SecondTry(*formatted, size_mb) : std::nullopt;
    if (!written && (!little_endian_choice || !second)) {
        // A geometry this call guessed is not kept for a card it could not format.
        if (chosen_here)
            session.geometry.reset();
        return 0;
    }
    if (!second)
        return 0;
    // Written, not only read back: otherwise a blank big-endian card could
    // never be formatted, and an old directory would pass the check.
    session.geometry = MakeGeometry(*second, session.device.get());
    if (!WriteFreshHeader(session, kHeaderV15)) {
        session.geometry.reset();
        return 0;
    }
    if (!written)
        session.StepProgress();
    return ProbeGeometry(session);
}

}  // namespace quorbit
