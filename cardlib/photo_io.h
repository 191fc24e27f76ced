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
int ReadPhotoToFile(CardSession& session, int index, const std::string& path);

// Upload and deletion (photo_write.cpp).
int WriteFileToFlash(CardSession& session, const std::string& path);
int AppendDirectoryEntry(CardSession& session, uint16_t slot);
int DeletePhoto(CardSession& session, int index);
// Erases the system block on the card and rewrites it from the session's
// copy, a second time when the first attempt fails. When both fail, the
// block is read back: 1 when the card holds the copy whole after all, else
// 0 (text 14 reported).
int StoreSystemBlock(CardSession& session);
// Erases the block at a write address before pages are programmed into it,
// a second time when the first erase fails; false (text 14 reported) when
// both fail: nothing may then be written there.
bool EraseForWriting(FlashGeometry& geometry, uint32_t address);

// Whole-card backup and format (card_image.cpp).
int ReadAll(CardSession& session, const std::string& path);
int FormatFlash(CardSession& session, int size_mb);

}  // namespace quorbit
