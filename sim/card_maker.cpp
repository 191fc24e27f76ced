#include "sim/card_maker.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>

#include "picture/codecs.h"
#include "picture/raw_photo.h"

namespace sim {
namespace {

constexpr size_t kHeaderCountOffset = 256;
constexpr size_t kHeaderCapacityOffset = 258;
constexpr size_t kHeaderZeroedBytes = 512;
constexpr size_t kEntryBytes = 16;
constexpr size_t kEntrySlotOffset = 8;

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

void PutU16(std::vector<uint8_t>& v, size_t at, size_t value) {
    v[at] = static_cast<uint8_t>(value);
    v[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Writes to "<path>.partial", then renames over path.
template <typename Fill>
bool WriteCardFile(const std::string& path, Variant variant, std::string* error, Fill&& fill) {
    const std::string temp = path + ".partial";
    {
        std::unique_ptr<CardImage> card =
            CardImage::Create(temp, GeometryOf(variant).card_bytes, error);
        if (!card)
            return false;
        if (!fill(*card)) {
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        SetError(error, "cannot rename " + temp + " to " + path);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// A picture file given to make-card, decoded as quorbit-cli's put does.
std::optional<picture::Picture> LoadPicture(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        SetError(error, "cannot open picture " + path);
        return std::nullopt;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > picture::kMaxPictureFileBytes) {
        SetError(error, path + ": not a picture file of up to 64 MB");
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    std::string why;
    std::optional<picture::Picture> decoded;
    if (!in)
        why = "cannot be read";
    else
        decoded = picture::Decode(bytes, &why);
    if (!decoded)
        SetError(error, path + ": " + why);
    return decoded;
}

}  // namespace

uint64_t PhotoSlotOffset(Variant variant, size_t slot) {
    return static_cast<uint64_t>(slot) * GeometryOf(variant).slot_bytes;
}

std::vector<uint8_t> HeaderPage(Variant variant, size_t photo_count) {
    const Geometry& g = GeometryOf(variant);
    std::vector<uint8_t> page(g.page_bytes, 0xFF);
    std::fill(page.begin(), page.begin() + kHeaderZeroedBytes, 0);
    std::copy(g.header.begin(), g.header.end(), page.begin());  // the NUL is already there
    PutU16(page, kHeaderCountOffset, photo_count);
    PutU16(page, kHeaderCapacityOffset, g.max_photos);
    return page;
}

bool WriteFormattedCard(CardImage& card, Variant variant,
                        const std::vector<picture::Picture>& photos, std::string* error) {
    const Geometry& g = GeometryOf(variant);
    if (photos.size() > g.max_photos) {
        SetError(error, std::to_string(photos.size()) + " photos do not fit on a " +
                            std::string(g.name) + " card, which has " +
                            std::to_string(g.max_photos) + " slots");
        return false;
    }
    if (card.size() != g.card_bytes) {
        SetError(error, "card image has the wrong size for " + std::string(g.name));
        return false;
    }
    if (!card.Overwrite(g.system_block_offset, HeaderPage(variant, photos.size()), error)) {
        return false;
    }
    std::vector<uint8_t> directory(photos.size() * kEntryBytes, 0xFF);
    for (size_t i = 0; i < photos.size(); ++i) {
        uint8_t* entry = &directory[i * kEntryBytes];
        std::fill(entry, entry + kEntrySlotOffset, 0);
        entry[kEntrySlotOffset] = static_cast<uint8_t>(i);
        entry[kEntrySlotOffset + 1] = static_cast<uint8_t>(i >> 8);
    }
    if (!card.Overwrite(g.system_block_offset + g.page_bytes, directory, error))
        return false;
    for (size_t i = 0; i < photos.size(); ++i) {
        const std::vector<uint8_t> raw =
            picture::RawFromPicture(photos[i], picture::SecondGreen::kHalfRowLower);
        const std::span<const uint8_t> stored(raw.data(), picture::kSlotPhotoBytes);
        if (!card.Overwrite(PhotoSlotOffset(variant, i), stored, error))
            return false;
    }
    return true;
}

bool MakeCardFromImages(const std::string& path, Variant variant,
                        const std::vector<picture::Picture>& photos, std::string* error) {
    if (photos.size() > GeometryOf(variant).max_photos) {
        // Checked before the file is created.
        SetError(error, std::to_string(photos.size()) + " photos do not fit on a " +
                            std::string(VariantName(variant)) + " card, which has " +
                            std::to_string(GeometryOf(variant).max_photos) + " slots");
        return false;
    }
    return WriteCardFile(path, variant, error, [&](CardImage& card) {
        return WriteFormattedCard(card, variant, photos, error);
    });
}

bool MakeCard(const std::string& path, Variant variant, const std::vector<std::string>& photos,
              std::string* error) {
    std::vector<picture::Picture> images;
    images.reserve(photos.size());
    for (const std::string& file : photos) {
        std::optional<picture::Picture> image = LoadPicture(file, error);
        if (!image)
            return false;
        images.push_back(std::move(*image));
    }
    return MakeCardFromImages(path, variant, images, error);
}

bool MakeBlankCard(const std::string& path, Variant variant, std::string* error) {
    return WriteCardFile(path, variant, error, [](CardImage&) { return true; });
}

std::unique_ptr<CardImage> MakeCardInMemory(Variant variant,
                                            const std::vector<picture::Picture>& photos,
                                            std::string* error) {
    std::unique_ptr<CardImage> card =
        CardImage::CreateInMemory(GeometryOf(variant).card_bytes, error);
    if (!card || !WriteFormattedCard(*card, variant, photos, error))
        return nullptr;
    return card;
}

}  // namespace sim
