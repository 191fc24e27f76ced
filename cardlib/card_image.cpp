// Whole-card operations: the block-by-block backup into an image file and
// the format, which writes a fresh header and an empty directory.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cardlib/files.h"
#include "cardlib/photo_io.h"
#include "cardlib/transport.h"

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

// A read changes nothing: the check of a written header reads again when
// its read fails (the little-endian cards' reads are never retried by the
// transport), so that a format that reached the card is not reported as
// failed, nor its geometry given up, for one lost answer.
constexpr int kCheckReads = 2;

enum class HeaderWrite { Written, NotErased, Failed };

// Writes the fresh header page with the session's geometry: magic, count 0,
// capacity, and on 2048-byte pages the start of the directory erased. The
// rest of the block reads erased after the erase that precedes the write;
// the session's copy says so too, so that a header write that fails leaves
// no old entries behind the count of 0. When the block cannot be erased,
// nothing is written and the card keeps its old system block.
HeaderWrite WriteFreshHeader(CardSession& session, const char (&header)[25]) {
    FlashGeometry& g = *session.geometry;
    if (!EraseForWriting(g, g.DirectoryPage()))
        return HeaderWrite::NotErased;
    uint8_t* block = session.system_block.data();
    std::memcpy(block, header, sizeof header);
    StoreLe16(block + kPhotoCountOffset, 0);
    StoreLe16(block + kCapacityOffset, static_cast<uint16_t>(g.MaxPhotos()));
    std::fill(block + 512, block + session.system_block.size(), uint8_t{0xFF});
    // Quiet: the caller reports a failure once it knows whether the card
    // could be put back as it was.
    const QuietCardErrors quiet;
    return g.WritePages(g.DirectoryPage(), block, g.PageSize()) != 0 ? HeaderWrite::Written
                                                                     : HeaderWrite::Failed;
}

// The 8 and 16 MB cards come in a little-endian and a big-endian form: the
// big-endian form of the size asked for is checked when the first check fails.
std::optional<GeometryKind> SecondTry(int size_mb) {
    if (size_mb == 8)
        return GeometryKind::k8Mb;
    if (size_mb == 16)
        return GeometryKind::k16Mb;
    return std::nullopt;
}

bool IsLittleEndian(const FlashGeometry& g) {
    return dynamic_cast<const LittleEndianGeometry*>(&g) != nullptr;
}

// The one read a format adds to the check, and only after it chose the
// little-endian form for a blank 8 or 16 MB card: the check alone cannot
// tell a little-endian camera from a big-endian one that reads the
// little-endian commands' address bytes as one page number. Such a camera
// keeps only the bits its card needs, so the header write and the read-back
// meet in one page that is not the system block: the check passes, and
// every later write-back would program all its pages into that one page.
// Such a camera shows the header also at the read address that differs from
// the system block's only in the bits above the card's page count; a
// little-endian camera holds photo data (or erased bytes) there.
bool HeaderAliasesElsewhere(CardSession& session) {
    FlashGeometry& g = *session.geometry;
    const uint32_t card_pages = uint32_t{g.FlashSizeMb()} * 1024 * 1024 / g.PageSize();
    const uint32_t alias = g.SystemBlockPage() & (card_pages - 1);
    if (alias == g.SystemBlockPage())
        return false;
    std::vector<uint8_t> page(g.PageSize());
    // A check of the camera's kind, as in detection, not a read the user
    // asked for: a format that succeeds shows no read error for it.
    const QuietCardErrors quiet;
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
    for (uint32_t i = 0; i < blocks; ++i) {
        // On failure an existing backup stays as it was; a new file keeps
        // the blocks read so far.
        if (g->ReadPages(g->BlockToPage(i), buffer.data(), n) == 0 || !file.Write(buffer))
            return 0;
        session.StepProgress();
    }
    return file.Commit() ? 1 : 0;
}

int FormatFlash(CardSession& session, int size_arg) {
    if (!session.IsOpen())
        return 0;
    const int size_mb = size_arg & 0xFFFF;
    const SystemBlock before = session.system_block;
    bool chosen_here = false;
    if (session.geometry == nullptr) {
        const std::optional<GeometryKind> kind = KindForSize(size_mb);
        if (!kind)
            return 0;
        session.geometry = MakeGeometry(*kind, session.device.get());
        chosen_here = true;
    }
    const bool little_endian_choice = chosen_here && IsLittleEndian(*session.geometry);

    session.BeginProgress(1);
    switch (WriteFreshHeader(session, little_endian_choice ? kHeaderV10 : kHeaderV15)) {
        case HeaderWrite::NotErased:
            // The card is as it was; so is the session.
            session.system_block = before;
            if (chosen_here)
                session.geometry.reset();
            return 0;
        case HeaderWrite::Failed:
            // The block is erased; the geometry stays for the host's retry.
            // A card that was recognised gets its old system block back, so
            // that a host that closes the session finds it as before, and
            // the session keeps its copy of the directory: the count the
            // host sees does not drop to 0 for a format that failed.
            if (chosen_here || PutBackSystemBlock(*session.geometry, before)) {
                ReportCardError(kTextWriteError);
            } else {
                ReportSystemBlockLost();
            }
            if (!chosen_here)
                session.system_block = before;
            return 0;
        case HeaderWrite::Written:
            break;
    }
    session.StepProgress();
    if (ProbeGeometry(session, kCheckReads) == 1) {
        // Only the little-endian choice on a blank card can be fooled by an
        // aliased header page (see HeaderAliasesElsewhere).
        if (!little_endian_choice || !HeaderAliasesElsewhere(session))
            return 1;
        // Not a little-endian camera: take back the header just written,
        // or the next detection would find it again.
        session.geometry->EraseBlock(session.geometry->DirectoryPage());
        session.geometry.reset();
    }
    const std::optional<GeometryKind> second = SecondTry(size_mb);
    if (!second)
        return 0;
    session.geometry = MakeGeometry(*second, session.device.get());
    // A card this call took for little-endian took the header but is not
    // one: it is a big-endian card, blank or with a damaged header, and the
    // check alone could never pass (or would pass on an old directory), so
    // the big-endian form writes its own header first. A geometry the host's
    // card was recognised with is only checked: writing an 8 or 16 MB header
    // into a card of another size would land in its photo slots.
    if (little_endian_choice && WriteFreshHeader(session, kHeaderV15) != HeaderWrite::Written) {
        session.geometry.reset();
        return 0;
    }
    return ProbeGeometry(session, kCheckReads);
}

}  // namespace quorbit
