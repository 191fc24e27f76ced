// A card image (a whole-card backup) in place of the camera: the image is the
// card of a simulated camera that lives in this process, attached to the
// in-process device backend, which becomes the only backend while the
// ImageCard exists. Everything that opens "the camera" then opens the image,
// through the same transfer primitives, recognition and write-back as a real
// card: the card library's own code linked into this program
// (LinkedLibraryApi) and the card doctor's sessions alike.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cardlib/geometry.h"
#include "platform/clock.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/geometry.h"
#include "tools/cli/library.h"

namespace cli {

// The card library's geometry for a kind of the simulated camera's firmware.
quorbit::GeometryKind KindOf(sim::Variant variant);

class ImageCard {
  public:
    // Opens the image at path; read-only unless `writable` (then also
    // refused while another program, such as camsim, serves the file).
    // `geometry` ("" or a --geometry name) fixes the kind of card; without
    // it every kind of the image's size is tried in the library's probe
    // order and the first that recognises the card is taken. On failure
    // null, with a sentence in *error.
    static std::unique_ptr<ImageCard> Open(const std::string& path, const std::string& geometry,
                                           bool writable, std::string* error);
    ~ImageCard();
    ImageCard(const ImageCard&) = delete;
    ImageCard& operator=(const ImageCard&) = delete;

    sim::Variant variant() const { return variant_; }
    // Whether the library recognised the card with that kind.
    bool recognised() const { return recognised_; }
    // Whether the size alone does not tell the kind (8 and 16 MB cards come
    // in a little-endian and a big-endian form) and no --geometry said it.
    bool kind_guessed() const { return kind_guessed_; }

  private:
    ImageCard() = default;
    bool Attach(const std::string& path, sim::Variant variant, bool writable, std::string* error);

    // An image has no firmware to wait for: the protocol's pauses are skipped.
    class NoWaitClock final : public platform::Clock {
      public:
        void Sleep(Duration) override {}
        std::chrono::steady_clock::time_point Now() override {
            return std::chrono::steady_clock::now();
        }
    };

    platform::InProcessBackend backend_;
    NoWaitClock clock_;
    std::unique_ptr<platform::ScopedClock> clock_guard_;
    sim::Variant variant_ = sim::Variant::k8MbLe;
    bool recognised_ = false;
    bool kind_guessed_ = false;
};

// The thirteen functions of the card library's code linked into this
// program; with an ImageCard open they work on the image.
const QuorbitApi& LinkedLibraryApi();

}  // namespace cli
