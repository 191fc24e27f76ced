// The simulated card a fuzz input describes, shared by the fuzz targets that
// feed untrusted card content to the card code.
//
// Input: byte 0 the variant (mod 7); byte 1 flags (bit 0: force the magic,
// bit 1: force the variant's capacity; higher bits are the target's); then up
// to 16 KB of system block; the rest is written from the start of the card
// (photo slots 0 and 1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/inprocess/inprocess_backend.h"
#include "sim/camera.h"
#include "sim/card_image.h"

namespace quorbit::fuzz {

// One camera of each kind with an erased in-memory card, made once for the
// whole run; a card keeps its erased state between inputs but for what an
// input writes, which is undone afterwards.
struct FuzzCameras {
    FuzzCameras();
    platform::ScopedInProcessBackend backend;
    std::array<std::shared_ptr<sim::Camera>, 7> cameras;
    std::array<sim::CardImage*, 7> cards{};  // owned by the cameras
};
FuzzCameras& TheCameras();

// An input's card, plugged in as "mem:cam" while the object lives.
class FuzzCard {
  public:
    // Nothing for an input too short to choose a card.
    static std::optional<FuzzCard> Plug(const uint8_t* data, size_t size);
    FuzzCard(FuzzCard&& other) noexcept;
    FuzzCard(const FuzzCard&) = delete;
    FuzzCard& operator=(const FuzzCard&) = delete;
    FuzzCard& operator=(FuzzCard&&) = delete;
    ~FuzzCard();

    uint8_t flags() const { return flags_; }
    // The input's system block bytes (for targets that reuse them as text).
    const uint8_t* block_input() const { return block_input_; }
    size_t block_input_size() const { return block_input_size_; }

  private:
    FuzzCard() = default;
    size_t which_ = 0;
    uint8_t flags_ = 0;
    const uint8_t* block_input_ = nullptr;
    size_t block_input_size_ = 0;
    size_t photo_bytes_ = 0;
    bool plugged_ = false;
};

}  // namespace quorbit::fuzz
