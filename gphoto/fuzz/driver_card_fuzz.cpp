// Untrusted card content through the camera driver's list, info, get and
// preview paths: the desktop loads the driver into a session daemon on every
// plug, so the card's bytes must not make it read or write outside its
// buffers, loop without end or crash. The input chooses a geometry and
// supplies the system block and the first photo slots of a simulated card;
// the driver opens it, lists it, reads every listed photo as its PNG file and
// its JPEG preview, and looks up names and folders taken from the input.
//
// Input: as cardlib/fuzz/fuzz_card.h describes it.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "cardlib/fuzz/fuzz_card.h"
#include "gphoto/camera_layout.h"
#include "gphoto/photo_card.h"
#include "gphoto/picture_codec.h"
#include "platform/device.h"

namespace {

using quorbit_gphoto::PhotoCard;
using quorbit_gphoto::PhotoFile;

// What the driver does for one listed photo: its file, its preview.
void GetPhoto(PhotoCard& card, const PhotoFile& file) {
    std::string error;
    const std::optional<quorbit_gphoto::RgbPicture> picture = card.ReadPhoto(file, &error);
    if (!picture)
        return;
    const std::vector<uint8_t> png = quorbit_gphoto::PhotoPng(*picture);
    if (png.size() != quorbit_gphoto::PhotoPngBytes(picture->width, picture->height))
        std::abort();  // the size the listing announced
    (void)quorbit_gphoto::EncodeJpeg(quorbit_gphoto::HalfSize(*picture), 85);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<quorbit::fuzz::FuzzCard> plugged =
        quorbit::fuzz::FuzzCard::Plug(data, size);
    if (!plugged)
        return 0;
    {
        PhotoCard card;
        card.Open(platform::OpenPath("mem:cam").handle);
        const quorbit_gphoto::CardStatus status = card.Status();
        if (status.photos < 0 || status.photos > status.slots || status.free_slots() < 0)
            std::abort();
        const std::vector<PhotoFile> files = card.List();
        if (files.size() != static_cast<size_t>(status.photos))
            std::abort();
        // Every listed name finds its own photo; reading them all would
        // repeat the same paths, so the first two and the last are read.
        for (size_t i = 0; i < files.size(); ++i) {
            const std::optional<PhotoFile> found = card.Find(files[i].name);
            if (!found || found->slot != files[i].slot)
                std::abort();
            if (i < 2 || i + 1 == files.size())
                GetPhoto(card, files[i]);
        }
        // Names and folders as a program might send them, from the input.
        const std::string text(reinterpret_cast<const char*>(plugged->block_input()),
                               std::min<size_t>(plugged->block_input_size(), 64));
        (void)card.Find(text);
        (void)quorbit_gphoto::FolderOf(text.c_str());
    }
    return 0;
}
