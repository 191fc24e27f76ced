#include "tools/cli/doctor_card.h"

#include <algorithm>
#include <cstring>

#include "cardlib/photo_io.h"
#include "cardlib/transport.h"

namespace cli {
namespace {

using quorbit::GeometryKind;

bool AllErased(const std::vector<uint8_t>& page) {
    return std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0xFF; });
}

// The two forms of the 8 and 16 MB cards, little-endian first (as a format
// tries them); one kind for the other sizes.
std::vector<GeometryKind> KindsOfSize(int size_mb) {
    switch (size_mb) {
        case 8:
            return {GeometryKind::k8MbLe, GeometryKind::k8Mb};
        case 16:
            return {GeometryKind::k16MbLe, GeometryKind::k16Mb};
        case 32:
            return {GeometryKind::k32Mb};
        case 64:
            return {GeometryKind::k64Mb};
        case 128:
            return {GeometryKind::k128Mb};
        default:
            return {};
    }
}

uint8_t* EntryAt(const quorbit::FlashGeometry& g, quorbit::SystemBlock& block, int index) {
    return block.data() + quorbit::EntryOffset(g.PageSize(), static_cast<size_t>(index));
}

}  // namespace

DoctorCard::~DoctorCard() {
    session_.Close();
}

bool DoctorCard::Open() {
    if (session_.Open() != 1)
        return false;
    recognised_ = session_.geometry != nullptr;
    return true;
}

void DoctorCard::AssumeGeometry(int size_mb, std::optional<GeometryKind> kind) {
    std::vector<GeometryKind> kinds =
        kind ? std::vector<GeometryKind>{*kind} : KindsOfSize(size_mb);
    if (kinds.empty())
        return;
    GeometryKind chosen = kinds.front();
    if (kinds.size() > 1) {
        // Which form's commands the camera takes. A big-endian camera reads
        // a little-endian read command's address bytes as some page of its
        // own and answers it, but the little-endian firmware refuses a
        // command with a byte where its address field ends: the big-endian
        // read of the system block (a page number whose low byte is not 0)
        // is that command. A question to the camera, not a read the user
        // asked for.
        const quorbit::QuietCardErrors quiet;
        auto be = quorbit::MakeGeometry(kinds.back(), session_.device.get());
        std::vector<uint8_t> page(be->PageSize());
        if (be->ReadPages(be->SystemBlockPage(), page.data(), be->PageSize()) != 0)
            chosen = kinds.back();
    }
    session_.geometry = quorbit::MakeGeometry(chosen, session_.device.get());
    recognised_ = false;
    // The session's copy is what the card holds there: what a write-back
    // that fails puts back. A block that cannot be read counts as erased.
    quorbit::FlashGeometry& g = *session_.geometry;
    const quorbit::QuietCardErrors quiet;
    if (g.ReadPages(g.SystemBlockPage(), session_.system_block.data(), g.SystemBlockBytes()) == 0)
        session_.system_block.fill(0xFF);
}

std::vector<SlotState> DoctorCard::ScanSlots() {
    quorbit::FlashGeometry& g = *session_.geometry;
    const int slots = g.MaxPhotos();
    std::vector<SlotState> states(static_cast<size_t>(slots), SlotState::kUnreadable);
    std::vector<uint8_t> page(g.PageSize());
    // A slot that cannot be read is reported by the survey, once.
    const quorbit::QuietCardErrors quiet;
    session_.BeginProgress(slots);
    for (int s = 0; s < slots && !g.invalidated(); ++s) {
        const uint32_t first = g.BlockToPage(static_cast<uint32_t>(s) * g.BlocksPerPhoto());
        if (g.ReadPages(first, page.data(), g.PageSize()) != 0)
            states[static_cast<size_t>(s)] =
                AllErased(page) ? SlotState::kErased : SlotState::kData;
        session_.StepProgress();
    }
    return states;
}

CardSurvey DoctorCard::Survey() {
    const std::vector<SlotState> slots = ScanSlots();
    return SurveyCard(*session_.geometry, session_.system_block, recognised_, slots);
}

std::optional<std::vector<uint8_t>> DoctorCard::ReadSlotPhoto(uint16_t slot) {
    return quorbit::ReadRawSlot(session_, slot);
}

bool DoctorCard::StoreSystemBlock(const quorbit::SystemBlock& block) {
    const quorbit::SystemBlock before = session_.system_block;
    session_.system_block = block;
    return quorbit::StoreSystemBlock(session_, before) == 1;
}

bool DoctorCard::Rebuild(const CardSurvey& survey) {
    const quorbit::SystemBlock block = RebuiltSystemBlock(*session_.geometry, session_.system_block,
                                                          survey.recognised, survey.data_slots);
    return StoreSystemBlock(block) && Verify(static_cast<int>(survey.data_slots.size()));
}

bool DoctorCard::Verify(int expected_count) {
    if (quorbit::ProbeGeometry(session_) != 1) {
        recognised_ = false;
        return false;
    }
    recognised_ = true;
    return session_.geometry->HeaderPhotoCount(session_.system_block) == expected_count;
}

quorbit::SystemBlock WithRestoredPhoto(const quorbit::FlashGeometry& g,
                                       const quorbit::SystemBlock& block, uint16_t slot) {
    quorbit::SystemBlock out = block;
    const int count = g.HeaderPhotoCount(block);
    const int room = DirectoryRoom(g);
    std::vector<uint16_t> hints;
    for (int i = count + 1; i < room; ++i) {
        const uint16_t hint = g.EntrySlot(block, i);
        if (g.IsNoSlot(hint))
            break;
        if (hint != slot)
            hints.push_back(hint);
    }
    quorbit::StoreLe16(&out[quorbit::kPhotoCountOffset], static_cast<uint16_t>(count + 1));
    quorbit::StoreEntry(out, g.PageSize(), static_cast<size_t>(count), slot);
    // Entry count + 1 is erased, as after an upload; the hints follow it,
    // so that the next upload still takes the one freed last.
    for (int i = count + 1; i < room; ++i)
        std::memset(EntryAt(g, out, i), 0xFF, quorbit::kDirectoryEntryBytes);
    for (size_t h = 0; h < hints.size() && count + 2 + static_cast<int>(h) < room; ++h) {
        uint8_t* e = EntryAt(g, out, count + 2 + static_cast<int>(h));
        quorbit::StoreLe16(e + quorbit::kEntrySlotOffset, hints[h]);
    }
    return out;
}

quorbit::SystemBlock RebuiltSystemBlock(const quorbit::FlashGeometry& g,
                                        const quorbit::SystemBlock& old, bool recognised,
                                        const std::vector<uint16_t>& slots) {
    quorbit::SystemBlock out;
    out.fill(0xFF);
    const bool le = dynamic_cast<const quorbit::LittleEndianGeometry*>(&g) != nullptr;
    if (recognised) {
        std::memcpy(out.data(), old.data(), 512);
    } else {
        std::fill(out.begin(), out.begin() + 512, uint8_t{0});
        const char* header = le ? quorbit::kHeaderV10 : quorbit::kHeaderV15;
        std::memcpy(out.data(), header, sizeof quorbit::kHeaderV15);
    }
    quorbit::StoreLe16(&out[quorbit::kPhotoCountOffset], static_cast<uint16_t>(slots.size()));
    quorbit::StoreLe16(&out[quorbit::kCapacityOffset], static_cast<uint16_t>(g.MaxPhotos()));
    for (size_t i = 0; i < slots.size(); ++i)
        quorbit::StoreEntry(out, g.PageSize(), i, slots[i]);
    return out;
}

}  // namespace cli
