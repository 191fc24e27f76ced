// Untrusted card content through detection and read-out: the input chooses a
// geometry and supplies the system block and photo data of a simulated card;
// the library opens it, answers the queries and reads the photos the
// directory lists (and a few it does not), then deletes one. Nothing may read
// or write outside the library's buffers.
//
// Input: byte 0 the variant (mod 7); byte 1 flags (bit 0: force the magic,
// bit 1: force the variant's capacity); then up to 16 KB of system block;
// the rest is written from the start of the card (photo slots 0 and 1).
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cardlib/fuzz/fuzz_support.h"
#include "cardlib/quorbit.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/camera.h"
#include "sim/card_image.h"
#include "sim/geometry.h"

namespace {

struct Rig {
    platform::ScopedInProcessBackend backend;
    std::array<std::shared_ptr<sim::Camera>, 7> cameras;
    std::array<sim::CardImage*, 7> cards{};  // owned by the cameras
    std::string bitmap_path;

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
        char dir[] = "/tmp/cardlib-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        bitmap_path = std::string(dir) + "/photo.bmp";
    }
};

Rig& TheRig() {
    static Rig* rig = new Rig;  // kept for the whole run
    return *rig;
}

void Progress(int32_t) {}
void Step() {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    Rig& rig = TheRig();
    const size_t which = data[0] % 7;
    const uint8_t flags = data[1];
    data += 2;
    size -= 2;
    const sim::Variant v = sim::kAllVariants[which];
    const sim::Geometry& g = sim::GeometryOf(v);

    // The system block: erased, then the input's bytes.
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
    // The card keeps its erased state between inputs but for what an input
    // writes, which is undone afterwards.
    sim::CardImage& card = *rig.cards[which];
    std::string error;
    card.Overwrite(g.system_block_offset, block, &error);
    const size_t photo_bytes = std::min<size_t>(size - take, 2 * 0x60000);
    if (photo_bytes > 0)
        card.Overwrite(0, std::span<const uint8_t>(data + take, photo_bytes), &error);
    rig.backend.backend().Attach("cam", rig.cameras[which]);

    SetProcessFunc(Step, Progress);
    if (OpenDevice() == 1) {
        (void)GetFlashSize();
        (void)GetPhotoTotalSize();
        const int count = GetPhotoCount();
        for (int i : {0, 1, count - 1, count, count + 1, 0xFFFF}) {
            if (ReadPhotoToFile(i, rig.bitmap_path.c_str()) == 1)
                ::unlink(rig.bitmap_path.c_str());
        }
        if (flags & 4)
            (void)DeletePhoto(count > 0 ? count - 1 : 0);
    }
    CloseDevice();
    rig.backend.backend().Detach("cam");
    if (photo_bytes > 0)
        card.Fill(0, photo_bytes, 0xFF, &error);
    return 0;
}
