// The operations behind the exports that move photos and card images. Each
// works on the session's geometry and its copy of the system block, and
// returns 1 on success, 0 on failure (touching nothing when the session has
// no recognised geometry).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cardlib/session.h"

namespace quorbit {

// Photo read-out (photo_read.cpp): the raw photo of directory entry `index`
// (kRawPhotoBytes; the part past the slot black), with the progress calls of
// a read-out; nullopt when it cannot be read.
std::optional<std::vector<uint8_t>> ReadRawPhoto(CardSession& session, int index);
// The same for photo slot `slot`, whether or not an entry names it (a deleted
// photo still in its slot); nullopt beyond the card.
std::optional<std::vector<uint8_t>> ReadRawSlot(CardSession& session, uint16_t slot);
int ReadPhotoToFile(CardSession& session, int index, const std::string& path);

// Upload and deletion (photo_write.cpp).
int WriteFileToFlash(CardSession& session, const std::string& path);
int AppendDirectoryEntry(CardSession& session, uint16_t slot);
int DeletePhoto(CardSession& session, int index);
// Writes the session's copy of the system block to the card (see
// WriteSystemBlock): 1 when the card holds it. Else 0 (text 14 reported),
// with the session's copy set to `before` and `before` put back on the card
// while the camera answers, so that the card is as before the call for any
// host; the report says when even that failed.
int StoreSystemBlock(CardSession& session, const SystemBlock& before);
// Erases the system block on the card and rewrites it from `block`, a
// second time when the first attempt fails. When both fail, the block is
// read back: true when the card holds it whole after all. Reports nothing.
bool WriteSystemBlock(FlashGeometry& geometry, const SystemBlock& block);
// Makes the card's system block `before` again after a failed write: true
// when the card holds it (already, or once more written).
bool PutBackSystemBlock(FlashGeometry& geometry, const SystemBlock& before);
// Text 14 with the note that the card's system block is lost.
void ReportSystemBlockLost();
// Erases the block at a write address before pages are programmed into it,
// a second time when the first erase fails; false (text 14 reported) when
// both fail: nothing may then be written there.
bool EraseForWriting(FlashGeometry& geometry, uint32_t address);

// Whole-card backup and format (card_image.cpp).
int ReadAll(CardSession& session, const std::string& path);
int FormatFlash(CardSession& session, int size_mb);

}  // namespace quorbit
