#include "gphoto/photo_card.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cardlib/bitmap.h"
#include "cardlib/files.h"
#include "cardlib/photo_io.h"
#include "picture/raw_photo.h"

namespace quorbit_gphoto {
namespace {

constexpr char kNamePrefix[] = "slot-";
constexpr char kNameSuffix[] = ".png";
constexpr char kExpectedPicture[] =
    "the camera takes PNG, JPEG and BMP pictures, fitted to 322 x 242 with black around";

}  // namespace

std::string PhotoFileName(uint16_t slot) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%03u%s", kNamePrefix, unsigned{slot}, kNameSuffix);
    return name;
}

std::optional<uint16_t> SlotOfFileName(std::string_view name) {
    const std::string_view prefix = kNamePrefix;
    const std::string_view suffix = kNameSuffix;
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return std::nullopt;
    }
    const std::string_view digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFF || PhotoFileName(static_cast<uint16_t>(value)) != name)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

PhotoCard::~PhotoCard() {
    session_.Close();
    if (!scratch_dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_dir_, ignored);
    }
}

bool PhotoCard::Open(std::unique_ptr<platform::DeviceHandle> device) {
    session_.Close();
    cached_slot_.reset();
    session_.device = std::move(device);
    if (session_.device == nullptr)
        return false;
    return quorbit::DetectGeometry(session_) == 1;
}

CardStatus PhotoCard::Status() const {
    CardStatus status;
    const quorbit::FlashGeometry* g = session_.geometry.get();
    if (g == nullptr)
        return status;
    status.recognised = true;
    status.size_mb = g->FlashSizeMb();
    status.slots = g->MaxPhotos();
    status.photos = static_cast<int>(List().size());
    return status;
}

std::vector<PhotoFile> PhotoCard::List() const {
    std::vector<PhotoFile> files;
    const quorbit::FlashGeometry* g = session_.geometry.get();
    if (g == nullptr)
        return files;
    // The count comes from the card: only entries inside the kept part of
    // the system block are read.
    const size_t kept = size_t{g->SystemBlockWritePages()} * g->PageSize();
    const size_t room =
        kept > g->PageSize() ? (kept - g->PageSize()) / quorbit::kDirectoryEntryBytes : 0;
    const int count = std::min<int>(g->HeaderPhotoCount(session_.system_block),
                                    static_cast<int>(std::min<size_t>(room, 0xFFFF)));
    std::vector<bool> seen(static_cast<size_t>(g->MaxPhotos()), false);
    for (int i = 0; i < count; ++i) {
        const uint16_t slot = g->EntrySlot(session_.system_block, i);
        if (g->IsNoSlot(slot) || slot >= g->MaxPhotos() || seen[slot])
            continue;
        seen[slot] = true;
        files.push_back({PhotoFileName(slot), slot, i});
    }
    return files;
}

std::optional<PhotoFile> PhotoCard::Find(std::string_view name) const {
    const std::optional<uint16_t> slot = SlotOfFileName(name);
    if (!slot)
        return std::nullopt;
    for (const PhotoFile& f : List()) {
        if (f.slot == *slot)
            return f;
    }
    return std::nullopt;
}

std::optional<std::string> PhotoCard::ScratchPath(const char* name, std::string* error) {
    if (scratch_dir_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quorbit-gphoto-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            *error = "cannot make a scratch folder for the photo under " + pattern;
            return std::nullopt;
        }
        scratch_dir_ = pattern;
    }
    return scratch_dir_ + "/" + name;
}

std::optional<RgbPicture> PhotoCard::ReadPhoto(const PhotoFile& photo, std::string* error) {
    if (cached_slot_ == photo.slot)
        return cached_;
    // The raw photo the library's bitmap is made of: the same pixels as
    // ReadPhotoToFile writes, with its progress calls, without a file.
    const std::optional<std::vector<uint8_t>> raw = quorbit::ReadRawPhoto(session_, photo.index);
    if (!raw) {
        *error = "cannot read " + photo.name + " from the camera";
        return std::nullopt;
    }
    cached_ = picture::PictureFromRaw(*raw);
    cached_slot_ = photo.slot;
    return cached_;
}

bool PhotoCard::Delete(const PhotoFile& photo, std::string* error) {
    cached_slot_.reset();
    if (quorbit::DeletePhoto(session_, photo.index) != 1) {
        *error = "cannot delete " + photo.name + " from the camera's card";
        return false;
    }
    return true;
}

PhotoCard::UploadResult PhotoCard::Upload(std::span<const uint8_t> file) {
    UploadResult result;
    const auto refuse = [&result](std::string why) {
        result.refused = true;
        result.error = std::move(why);
        return result;
    };
    const CardStatus status = Status();
    if (!status.recognised)
        return refuse("the camera's card is not formatted or not recognised");
    const quorbit::FlashGeometry& g = *session_.geometry;
    const int count = g.HeaderPhotoCount(session_.system_block);
    if (count >= g.MaxPhotos())
        return refuse("the camera's card is full (" + std::to_string(g.MaxPhotos()) + " photos)");
    // Any picture quorbit-cli's put takes, the same way: a damaged file is
    // refused, any size is fitted to the photo.
    std::string why;
    const std::optional<RgbPicture> decoded =
        file.size() <= picture::kMaxPictureFileBytes ? picture::Decode(file, &why) : std::nullopt;
    if (!decoded) {
        return refuse("this file cannot be uploaded (" +
                      (why.empty() ? std::string("larger than any picture taken") : why) +
                      "): " + kExpectedPicture);
    }
    const std::vector<uint8_t> bitmap =
        quorbit::EncodeBitmap(picture::RawFromPicture(*decoded, picture::SecondGreen::kZero));

    const std::optional<std::string> path = ScratchPath("upload.bmp", &result.error);
    if (!path)
        return refuse(result.error);
    if (!quorbit::WriteWholeFile(*path, bitmap))
        return refuse("cannot write the picture to " + *path);
    cached_slot_.reset();
    const int written = quorbit::WriteFileToFlash(session_, *path);
    std::error_code ignored;
    std::filesystem::remove(*path, ignored);
    if (written != 1) {
        result.error = "cannot write the picture to the camera's card";
        return result;
    }
    // The new photo's entry is the one after the photos counted before.
    const uint16_t slot = g.EntrySlot(session_.system_block, count);
    result.file = PhotoFile{PhotoFileName(slot), slot, count};
    return result;
}

}  // namespace quorbit_gphoto
