#include "cardlib/tests/fault_matrix.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quorbit::testing {
namespace {

const char* NameOf(FaultKind kind) {
    switch (kind) {
        case FaultKind::Aborted:
            return "aborted";
        case FaultKind::Gone:
            return "gone";
        case FaultKind::Failed:
            return "failed";
        case FaultKind::Unplug:
            return "unplug";
        case FaultKind::BadPage:
            return "bad page";
    }
    return "?";
}

platform::IoError ErrorOf(FaultKind kind) {
    switch (kind) {
        case FaultKind::Aborted:
            return platform::IoError::Aborted;
        case FaultKind::Failed:
        case FaultKind::BadPage:
            return platform::IoError::Failed;
        case FaultKind::Gone:
        case FaultKind::Unplug:
            return platform::IoError::DeviceGone;
    }
    return platform::IoError::Failed;
}

size_t KeptSystemBlockBytes(const sim::Geometry& g) {
    return std::min<size_t>(g.block_bytes, kSystemBlockBytes);
}

}  // namespace

std::vector<Fault> FaultsAt(size_t at, bool page_data) {
    std::vector<Fault> faults;
    for (FaultKind kind : {FaultKind::Aborted, FaultKind::Gone, FaultKind::Failed}) {
        faults.push_back({kind, false, at});
        faults.push_back({kind, true, at});
    }
    faults.push_back({FaultKind::Unplug, true, at});
    if (page_data)
        faults.push_back({FaultKind::BadPage, false, at});
    return faults;
}

bool StillAnswers(const Fault& fault) {
    switch (fault.kind) {
        case FaultKind::Aborted:
        case FaultKind::Failed:
            return !fault.from_then_on;
        case FaultKind::BadPage:
            return true;
        case FaultKind::Gone:
        case FaultKind::Unplug:
            return false;
    }
    return false;
}

std::string Describe(const Fault& fault) {
    std::string text = NameOf(fault.kind);
    if (fault.kind == FaultKind::Unplug || fault.kind == FaultKind::BadPage)
        return text + " at " + std::to_string(fault.at);
    if (fault.from_then_on)
        return text + " from " + std::to_string(fault.at) + " on";
    return text + " once at " + std::to_string(fault.at);
}

std::string Describe(const Listing& listing) {
    if (!listing.recognised)
        return "not recognised";
    std::string text = std::to_string(listing.slots.size()) + " photos [";
    for (size_t i = 0; i < listing.slots.size(); ++i)
        text += (i ? " " : "") + std::to_string(listing.slots[i]);
    return text + "]";
}

std::vector<uint8_t> CardSystemBlock(const sim::Camera& camera) {
    const sim::Geometry& g = camera.geometry();
    return camera.Peek(g.system_block_offset, KeptSystemBlockBytes(g));
}

Listing DecodeListing(std::span<const uint8_t> block, const sim::Geometry& g) {
    Listing listing;
    if (block.size() < g.page_bytes ||
        std::memcmp(block.data(), kMagic.data(), kMagic.size()) != 0 ||
        LoadLe16(&block[kCapacityOffset]) != g.max_photos) {
        return listing;
    }
    const uint16_t count = LoadLe16(&block[kPhotoCountOffset]);
    if (count > g.max_photos || EntryOffset(g.page_bytes, count) > block.size())
        return listing;
    listing.recognised = true;
    for (size_t i = 0; i < count; ++i)
        listing.slots.push_back(LoadLe16(&block[EntryOffset(g.page_bytes, i) + kEntrySlotOffset]));
    return listing;
}

Listing CardListing(const sim::Camera& camera) {
    return DecodeListing(CardSystemBlock(camera), camera.geometry());
}

Listing SessionListing(const CardSession& session) {
    Listing listing;
    const FlashGeometry* g = session.geometry.get();
    if (g == nullptr)
        return listing;
    listing.recognised = true;
    const int count = g->HeaderPhotoCount(session.system_block);
    for (int i = 0; i < count; ++i)
        listing.slots.push_back(g->EntrySlot(session.system_block, i));
    return listing;
}

TransferGate::TransferGate(CameraRig& rig) : rig_(rig), geometry_(rig.camera().geometry()) {
    rig_.recorder().SetFault([this](Event::Kind kind, size_t, std::span<const uint8_t> out) {
        return Admit(kind, out);
    });
}

TransferGate::~TransferGate() {
    rig_.recorder().SetFault(nullptr);
}

void TransferGate::Arm(std::optional<Fault> fault) {
    fault_ = fault;
    bad_page_.reset();
    count_ = 0;
    labels_.clear();
}

void TransferGate::Record(bool on) {
    recording_ = on;
    labels_.clear();
}

platform::IoError TransferGate::Admit(Event::Kind kind, std::span<const uint8_t> out) {
    const size_t n = count_++;
    const bool is_out = kind == Event::Kind::Out;
    if (recording_) {
        char label[16] = "I";
        if (is_out && sim::LooksLikeCommand(out))
            std::snprintf(label, sizeof label, "C%02x", out[1]);
        else if (is_out)
            std::snprintf(label, sizeof label, "O%zu", out.size());
        labels_.push_back(label);
    }
    // A bad page fails wherever its data is sent again (a write-back's
    // second attempt); the write position does not move past it.
    if (fault_ && fault_->kind == FaultKind::BadPage && is_out && writing_ &&
        !sim::LooksLikeCommand(out) && (n == fault_->at || bad_page_ == position_)) {
        bad_page_ = position_;
        return ErrorOf(fault_->kind);
    }
    if (fault_ && fault_->kind != FaultKind::BadPage &&
        (n == fault_->at || (fault_->from_then_on && n > fault_->at))) {
        if (fault_->kind == FaultKind::Unplug) {
            // Leaving the bus at this transfer: later ones never reach the
            // recorder, the handle fails them as gone.
            rig_.Detach();
            unplugged_ = true;
        }
        return ErrorOf(fault_->kind);
    }
    if (is_out)
        Follow(out);
    return platform::IoError::None;
}

void TransferGate::Follow(std::span<const uint8_t> out) {
    if (!sim::LooksLikeCommand(out)) {
        if (writing_) {
            Mark(position_, out.size());
            position_ = (position_ + out.size()) % geometry_.card_bytes;
        }
        return;
    }
    const sim::DecodeResult decoded = sim::DecodeCommand(geometry_, out);
    writing_ = false;
    if (!decoded.command)
        return;
    const uint64_t address = decoded.command->byte_address % geometry_.card_bytes;
    switch (decoded.command->opcode) {
        case sim::Opcode::Write:
            writing_ = true;
            position_ = address;
            break;
        case sim::Opcode::Erase:
            Mark(address, 1);
            break;
        case sim::Opcode::Read:
        case sim::Opcode::EndOfWrite:
            break;
    }
}

void TransferGate::Mark(uint64_t address, uint64_t length) {
    const uint64_t block = geometry_.block_bytes;
    for (uint64_t at = address - address % block; at < address + length; at += block) {
        const uint64_t start = at % geometry_.card_bytes;
        if (start == last_marked_)
            continue;  // the pages of one block come one after the other
        last_marked_ = start;
        // Saved before the transfer reaches the camera: still as made.
        if (!pristine_.contains(start))
            pristine_.emplace(start, rig_.camera().Peek(start, block));
        dirty_.insert(start);
    }
}

bool TransferGate::Touched(uint64_t address, uint64_t length) const {
    const uint64_t block = geometry_.block_bytes;
    for (uint64_t at = address - address % block; at < address + length; at += block)
        if (dirty_.contains(at % geometry_.card_bytes))
            return true;
    return false;
}

void TransferGate::Restore() {
    for (uint64_t start : dirty_)
        rig_.camera().Poke(start, pristine_.at(start));
    dirty_.clear();
    last_marked_ = kNoBlock;
    writing_ = false;
    if (unplugged_)
        rig_.Replug();
    unplugged_ = false;
}

}  // namespace quorbit::testing
