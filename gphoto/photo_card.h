// The card behind one opened camera: a card session of its own (not the
// library's static one) over the camera's port, and the photos on it as
// files. A photo's file name comes from its slot, so it stays the same while
// other photos are deleted or added; every operation finds the photo's
// directory entry again by that slot.
//
// Everything here goes through the card library's own operations
// (DetectGeometry, ReadRawPhoto, DeletePhoto, WriteFileToFlash), so the
// protocol's pauses, retries, geometry recognition and directory rules are
// the library's.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cardlib/session.h"
#include "gphoto/picture_codec.h"
#include "platform/device.h"

namespace quorbit_gphoto {

struct PhotoFile {
    std::string name;  // "slot-007.png"
    uint16_t slot = 0;
    int index = 0;  // directory entry
};

struct CardStatus {
    bool recognised = false;
    int size_mb = 0;
    int photos = 0;
    int slots = 0;
    int free_slots() const { return slots > photos ? slots - photos : 0; }
};

// "slot-007.png" for slot 7; nullopt for any name that is not of that form.
std::string PhotoFileName(uint16_t slot);
std::optional<uint16_t> SlotOfFileName(std::string_view name);

class PhotoCard {
  public:
    PhotoCard() = default;
    ~PhotoCard();
    PhotoCard(const PhotoCard&) = delete;
    PhotoCard& operator=(const PhotoCard&) = delete;

    // Takes the device and recognises the card; false when the card is
    // unformatted or of no known kind (the card stays untouched).
    bool Open(std::unique_ptr<platform::DeviceHandle> device);

    quorbit::CardSession& session() { return session_; }
    CardStatus Status() const;

    // The photos in directory order. An entry naming no slot, a slot beyond
    // the card, or a slot an earlier entry already names is not listed.
    std::vector<PhotoFile> List() const;
    std::optional<PhotoFile> Find(std::string_view name) const;

    // The photo's pixels exactly as the library's bitmap export of it holds
    // them; on failure nullopt and *error says why.
    std::optional<RgbPicture> ReadPhoto(const PhotoFile& photo, std::string* error);

    // Removes the photo from the card as the library's deletion does.
    bool Delete(const PhotoFile& photo, std::string* error);

    // Adds a picture (PNG, JPEG or BMP, fitted to 322 x 242 as quorbit-cli's
    // put does) as a new photo; returns its file. Anything else, a damaged
    // picture, or a full or unrecognised card, is refused before the card is
    // touched.
    struct UploadResult {
        std::optional<PhotoFile> file;
        bool refused = false;  // on failure: the card was not touched
        std::string error;
    };
    UploadResult Upload(std::span<const uint8_t> file);

  private:
    // A private folder for the library's bitmap files (its operations work
    // on paths); made on first use.
    std::optional<std::string> ScratchPath(const char* name, std::string* error);

    quorbit::CardSession session_;
    std::string scratch_dir_;
    // The last photo read, so that a preview after the file (or the other
    // way round) does not read the card twice.
    std::optional<uint16_t> cached_slot_;
    RgbPicture cached_;
};

}  // namespace quorbit_gphoto
