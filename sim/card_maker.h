// Making card images: a card as the library's format leaves it, with photos
// in slots 0..n-1 listed in the directory, or an all-erased blank card.
//
// Layout of a made card (G = GeometryOf(variant)):
// - every byte 0xFF except what follows;
// - at G.system_block_offset (where the library's format writes the header
//   page): G.header and a NUL, zeros to byte 255, the photo count at 256 and
//   the capacity G.max_photos at 258 (16-bit little-endian), zeros to byte
//   511; on 2048-byte pages bytes 512-2047 stay 0xFF;
// - from G.page_bytes on within the system block, directory entry i of the n
//   photos: 8 zero bytes, the slot number i (16-bit little-endian), 6 bytes
//   0xFF;
// - photo i's raw image (picture::RawFromPicture, the second green half a
//   row lower, as the sensor sees it) in its first 0x4C000 bytes at
//   PhotoSlotOffset(variant, i).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "sim/card_image.h"
#include "sim/geometry.h"

namespace sim {

// Byte offset of photo slot `slot` (slot x 0x4C000, or x 0x60000 on 128 MB).
uint64_t PhotoSlotOffset(Variant variant, size_t slot);

// The first page of the system block after a format, with `photo_count`
// photos counted (page_bytes long).
std::vector<uint8_t> HeaderPage(Variant variant, size_t photo_count);

// Writes the header, the directory of `photos.size()` entries and the photos
// into a blank (all 0xFF) card. Fails when there are more photos than slots.
bool WriteFormattedCard(CardImage& card, Variant variant,
                        const std::vector<picture::Picture>& photos, std::string* error);

// Creates or replaces the card file at path. Pictures are read (PNG, JPEG,
// BMP; a damaged one is refused)
// before the file is touched, and the card is written under a temporary name
// and renamed into place, so a bad picture leaves an existing file as it was.
bool MakeCard(const std::string& path, Variant variant, const std::vector<std::string>& photos,
              std::string* error);
bool MakeCardFromImages(const std::string& path, Variant variant,
                        const std::vector<picture::Picture>& photos, std::string* error);
// An all-0xFF card file of the variant's size.
bool MakeBlankCard(const std::string& path, Variant variant, std::string* error);

// The same card in memory, for in-process tests (null on failure).
std::unique_ptr<CardImage> MakeCardInMemory(Variant variant,
                                            const std::vector<picture::Picture>& photos,
                                            std::string* error);

}  // namespace sim
