#include "cardlib/fuzz/fuzz_card.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cardlib/fuzz/fuzz_support.h"
#include "sim/geometry.h"

namespace quorbit::fuzz {

FuzzCameras::FuzzCameras() {
    Silence();
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

FuzzCameras& TheCameras() {
    static FuzzCameras* cameras = new FuzzCameras;  // kept for the whole run
    return *cameras;
}

std::optional<FuzzCard> FuzzCard::Plug(const uint8_t* data, size_t size) {
    if (size < 2)
        return std::nullopt;
    FuzzCameras& rig = TheCameras();
    FuzzCard card;
    card.which_ = data[0] % rig.cameras.size();
    card.flags_ = data[1];
    data += 2;
    size -= 2;
    const sim::Geometry& g = sim::GeometryOf(sim::kAllVariants[card.which_]);

    // The system block: erased, then the input's bytes.
    const size_t block_bytes = std::min<size_t>(g.block_bytes, 16384);
    std::vector<uint8_t> block(block_bytes, 0xFF);
    const size_t take = std::min(size, block_bytes);
    std::copy(data, data + take, block.begin());
    if (card.flags_ & 1)
        std::memcpy(block.data(), "ZPX PHOTO CAM IMAGE", 19);
    if (card.flags_ & 2) {
        block[258] = static_cast<uint8_t>(g.max_photos);
        block[259] = static_cast<uint8_t>(g.max_photos >> 8);
    }
    card.block_input_ = data;
    card.block_input_size_ = take;

    sim::CardImage& image = *rig.cards[card.which_];
    std::string error;
    image.Overwrite(g.system_block_offset, block, &error);
    card.photo_bytes_ = std::min<size_t>(size - take, 2 * 0x60000);
    if (card.photo_bytes_ > 0)
        image.Overwrite(0, std::span<const uint8_t>(data + take, card.photo_bytes_), &error);
    rig.backend.backend().Attach("cam", rig.cameras[card.which_]);
    card.plugged_ = true;
    return card;
}

FuzzCard::FuzzCard(FuzzCard&& other) noexcept
    : which_(other.which_),
      flags_(other.flags_),
      block_input_(other.block_input_),
      block_input_size_(other.block_input_size_),
      photo_bytes_(other.photo_bytes_),
      plugged_(other.plugged_) {
    other.plugged_ = false;
}

FuzzCard::~FuzzCard() {
    if (!plugged_)
        return;
    FuzzCameras& rig = TheCameras();
    rig.backend.backend().Detach("cam");
    std::string error;
    if (photo_bytes_ > 0)
        rig.cards[which_]->Fill(0, photo_bytes_, 0xFF, &error);
}

}  // namespace quorbit::fuzz
