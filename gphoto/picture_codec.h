// The picture files the driver hands out: lossless PNG photos and small JPEG
// previews, through the picture wing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/codecs.h"

namespace quorbit_gphoto {

using RgbPicture = picture::Picture;

// A PNG file of the photo, stored without compression: its length then
// depends only on the picture's size, so that a file's size can be told
// before the photo is read from the card (file managers and gphotofs ask for
// it when they list the folder). Empty on failure.
inline std::vector<uint8_t> PhotoPng(const RgbPicture& photo) {
    return picture::EncodePng(photo, picture::PngCompression::kStored);
}
// The PNG file length PhotoPng gives for pictures of this size (0 on failure).
inline size_t PhotoPngBytes(int width, int height) {
    return picture::StoredPngFileBytes(width, height);
}

using picture::EncodeJpeg;
using picture::EncodePng;

// The picture at half its width and height (rounded up), each pixel the mean
// of the two-by-two block it covers: the previews of import dialogs.
RgbPicture HalfSize(const RgbPicture& picture);

}  // namespace quorbit_gphoto
