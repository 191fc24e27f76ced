// The operations behind the exports that move photos and card images. Each
// works on the session's geometry and its copy of the system block, and
// returns 1 on success, 0 on failure (touching nothing when the session has
// no recognised geometry).
#pragma once

#include <cstdint>
#include <string>

#include "cardlib/session.h"

namespace quorbit {

// Photo read-out (photo_read.cpp).
int ReadPhotoToFile(CardSession& session, int index, const std::string& path);

// Upload and deletion (photo_write.cpp).
int WriteFileToFlash(CardSession& session, const std::string& path);
int AppendDirectoryEntry(CardSession& session, uint16_t slot);
int DeletePhoto(CardSession& session, int index);
// Erases the system block on the card and rewrites it from the session's copy.
int StoreSystemBlock(CardSession& session);

// Whole-card backup and format (card_image.cpp).
int ReadAll(CardSession& session, const std::string& path);
int FormatFlash(CardSession& session, int size_mb);

}  // namespace quorbit
