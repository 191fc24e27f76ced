#include "tools/cli/image_card.h"

#include <sys/stat.h>

#include <vector>

#include "cardlib/session.h"
#include "sim/camera.h"
#include "sim/card_image.h"

namespace cli {
namespace {

constexpr const char* kDeviceName = "image";

std::string SizeText(uint64_t bytes) {
    if (bytes % (1 << 20) == 0)
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

quorbit::GeometryKind KindOf(sim::Variant variant) {
    // Both list the kinds in the library's probe order.
    static_assert(
        static_cast<int>(sim::Variant::k8MbLe) == static_cast<int>(quorbit::GeometryKind::k8MbLe) &&
        static_cast<int>(sim::Variant::k16Mb) == static_cast<int>(quorbit::GeometryKind::k16Mb) &&
        static_cast<int>(sim::Variant::k128Mb) == static_cast<int>(quorbit::GeometryKind::k128Mb));
    return static_cast<quorbit::GeometryKind>(variant);
}

std::unique_ptr<ImageCard> ImageCard::Open(const std::string& path, const std::string& geometry,
                                           bool writable, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = "cannot open the image " + path + ": no such file";
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a card image (not a regular file)";
        return nullptr;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    std::vector<sim::Variant> candidates;
    if (!geometry.empty()) {
        const std::optional<sim::Variant> v = sim::ParseVariant(geometry);
        if (!v) {
            *error = "--geometry takes " + sim::VariantList() + ", not " + geometry;
            return nullptr;
        }
        if (sim::GeometryOf(*v).card_bytes != size) {
            *error = path + " holds " + SizeText(size) + "; an image of a " + geometry +
                     " card holds exactly " + SizeText(sim::GeometryOf(*v).card_bytes);
            return nullptr;
        }
        candidates.push_back(*v);
    } else {
        for (sim::Variant v : sim::kAllVariants) {
            if (sim::GeometryOf(v).card_bytes == size)
                candidates.push_back(v);
        }
    }
    if (candidates.empty()) {
        *error = path + " holds " + SizeText(size) +
                 "; a card image holds exactly 8, 16, 32, 64 or 128 MB (a truncated copy, or "
                 "not a card image)";
        return nullptr;
    }
    std::unique_ptr<ImageCard> card(new ImageCard);
    card->clock_guard_ = std::make_unique<platform::ScopedClock>(&card->clock_);
    platform::SetBackends({&card->backend_});
    for (sim::Variant v : candidates) {
        if (!card->Attach(path, v, writable, error))
            return nullptr;
        quorbit::CardSession probe;
        probe.Open();
        if (probe.geometry != nullptr) {
            card->variant_ = v;
            card->recognised_ = true;
            return card;
        }
        probe.Close();
        card->backend_.Detach(kDeviceName);
    }
    // Not recognised: the first kind of its size (the one a format of that
    // size tries first), so that the slots can still be looked at.
    if (!card->Attach(path, candidates.front(), writable, error))
        return nullptr;
    card->variant_ = candidates.front();
    card->kind_guessed_ = candidates.size() > 1;
    return card;
}

bool ImageCard::Attach(const std::string& path, sim::Variant variant, bool writable,
                       std::string* error) {
    const uint64_t bytes = sim::GeometryOf(variant).card_bytes;
    std::unique_ptr<sim::CardImage> image =
        writable ? sim::CardImage::Open(path, bytes, error, /*exclusive=*/true)
                 : sim::CardImage::OpenReadOnly(path, bytes, error);
    if (image == nullptr)
        return false;
    // The library tries every kind of card in turn; the commands of the
    // other kinds are refused by this firmware, which is not worth a word.
    auto camera = std::make_shared<sim::Camera>(variant, std::move(image), sim::DefaultAttributes(),
                                                [](std::string_view) {});
    backend_.Attach(kDeviceName, std::move(camera));
    return true;
}

ImageCard::~ImageCard() {
    platform::SetBackends({});
}

const QuorbitApi& LinkedLibraryApi() {
    static const QuorbitApi api{
        &::OpenDevice,        &::CloseDevice,  &::IsConnect,       &::GetPhotoCount,
        &::GetPhotoTotalSize, &::GetFlashSize, &::ReadPhotoToFile, &::DeletePhoto,
        &::WriteFileToFlash,  &::FormatFlash,  &::ReadAll,         &::GetString,
        &::SetProcessFunc,
    };
    return api;
}

}  // namespace cli
