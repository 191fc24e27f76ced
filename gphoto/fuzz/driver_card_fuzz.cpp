// Untrusted card content through the camera driver's list, info, get and
// preview paths: the desktop loads the driver into a session daemon on every
// plug, so the card's bytes must not make it read or write outside its
// buffers, loop without end or crash. The input chooses a geometry and
// supplies the system block and the first photo slots of a simulated card;
// the driver opens it, lists it, reads every listed photo as its PNG file and
// its JPEG preview, and looks up names and folders taken from the input.
//
// Input: byte 0 the variant (mod 7); byte 1 flags (bit 0: force the magic,
// bit 1: force the variant's capacity); then up to 16 KB of system block;
// the rest is written from the start of the card (photo slots 0 and 1).
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cardlib/fuzz/fuzz_support.h"
#include "gphoto/camera_layout.h"
#include "gphoto/photo_card.h"
#include "gphoto/picture_codec.h"
#include "platform/device.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/camera.h"
#include "sim/card_image.h"
#include "sim/geometry.h"

namespace {

using quorbit_gphoto::PhotoCard;
using quorbit_gphoto::PhotoFile;

struct Rig {
    platform::ScopedInProcessBackend backend;
    std::array<std::shared_ptr<sim::Camera>, 7> cameras;
    std::array<sim::CardImage*, 7> cards{};  // owned by the cameras

    Rig() {
        quorbit::fuzz::Silence();
        for (size_t i = 0; i < cameras.size(); ++i) {
            const sim::Variant v = sim::kAllVariants[i];
            std::string error;
            auto card = sim::CardImage::CreateInMemory(sim::GeometryOf(v).card_bytes, &error);
            if (!card)
                std::abort();
            cards[i] = card.get();
            cameras[i] = std::make_shared<sim::Camera>(v, std::move(card), sim::DefaultAttributes(),
                                                       [](std::string_view) {});
        }
    }
};

Rig& TheRig() {
    static Rig* rig = new Rig;  // kept for the whole run
    return *rig;
}

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
    if (size < 2)
        return 0;
    Rig& rig = TheRig();
    const size_t which = data[0] % 7;
    const uint8_t flags = data[1];
    data += 2;
    size -= 2;
    const sim::Geometry& g = sim::GeometryOf(sim::kAllVariants[which]);

    const size_t block_bytes = std::min<size_t>(g.block_bytes, 16384);
    std::vector<uint8_t> block(block_bytes, 0xFF);
    const size_t take = std::min(size, block_bytes);
    std::copy(data, data + take, block.begin());
    if (flags & 1)
        std::memcpy(block.data(), "ZPX PHOTO CAM IMAGE", 19);
    if (flags & 2) {
        block[258] = static_cast<uint8_t>(g.max_photos);
        block[259] = static_cast<uint8_t>(g.max_photos >> 8);
    }
    sim::CardImage& image = *rig.cards[which];
    std::string error;
    image.Overwrite(g.system_block_offset, block, &error);
    const size_t photo_bytes = std::min<size_t>(size - take, 2 * 0x60000);
    if (photo_bytes > 0)
        image.Overwrite(0, std::span<const uint8_t>(data + take, photo_bytes), &error);
    rig.backend.backend().Attach("cam", rig.cameras[which]);

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
        const std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(take, 64));
        (void)card.Find(text);
        (void)quorbit_gphoto::FolderOf(text.c_str());
    }
    rig.backend.backend().Detach("cam");
    if (photo_bytes > 0)
        image.Fill(0, photo_bytes, 0xFF, &error);
    return 0;
}
