// The card as the card doctor reaches it: a card session of its own (not the
// library's static one) over the camera, or over the image an ImageCard put
// in its place, worked through the card library's own operations: detection,
// the geometry's page reads and photo read-out, the whole-card backup and the
// system block's write-back. The doctor writes nothing but the system block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cardlib/session.h"
#include "tools/cli/card_survey.h"

namespace cli {

class DoctorCard {
  public:
    DoctorCard() = default;
    ~DoctorCard();
    DoctorCard(const DoctorCard&) = delete;
    DoctorCard& operator=(const DoctorCard&) = delete;

    // Opens the first camera and recognises its card; false when there is
    // no camera.
    bool Open();
    bool recognised() const { return recognised_; }
    bool has_geometry() const { return session_.geometry != nullptr; }
    const quorbit::FlashGeometry& geometry() const { return *session_.geometry; }
    const quorbit::SystemBlock& system_block() const { return session_.system_block; }
    quorbit::CardSession& session() { return session_; }

    // For a card that was not recognised: the geometry of a card of size_mb.
    // `kind` fixes it (an image's kind); otherwise 8 and 16 MB cards, which
    // come in two forms, are asked which form's read command they take.
    void AssumeGeometry(int size_mb, std::optional<quorbit::GeometryKind> kind);

    // The state of every slot from its first page (one page read a slot).
    std::vector<SlotState> ScanSlots();
    CardSurvey Survey();

    // The photo in a slot whether or not an entry names it, read as the
    // library reads a listed photo (kRawPhotoBytes, the part past the slot
    // black); nullopt when it cannot be read.
    std::optional<std::vector<uint8_t>> ReadSlotPhoto(uint16_t slot);

    // Stores `block` as the card's system block through the library's
    // write-back. On failure the session's copy is as before, and so is the
    // card's block while the camera answers; one that stopped answering
    // may leave it erased from some page on.
    bool StoreSystemBlock(const quorbit::SystemBlock& block);

    // Writes a fresh system block listing every slot of the survey that
    // holds picture data, in slot order, and reads it back: true when the
    // card is recognised with them listed. The repair's write.
    bool Rebuild(const CardSurvey& survey);

    // Reads the system block back: whether the card is recognised with the
    // geometry and holds `block`'s header count.
    bool Verify(int expected_count);

  private:
    quorbit::CardSession session_;
    bool recognised_ = false;
};

// The system block with one more photo, in `slot`, listed after the others:
// as an upload's entry, and with every free-slot hint that names the slot
// taken out (the others keep their order and stay where the next uploads
// look for them).
quorbit::SystemBlock WithRestoredPhoto(const quorbit::FlashGeometry& g,
                                       const quorbit::SystemBlock& block, uint16_t slot);

// A fresh system block listing `slots` in order: the header of `old` when
// the card was recognised (magic, version, the bytes nobody uses), else a
// format's header; count, capacity, the entries; everything else erased.
quorbit::SystemBlock RebuiltSystemBlock(const quorbit::FlashGeometry& g,
                                        const quorbit::SystemBlock& old, bool recognised,
                                        const std::vector<uint16_t>& slots);

}  // namespace cli
