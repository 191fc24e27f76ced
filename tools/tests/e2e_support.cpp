#include "tools/tests/e2e_support.h"
#include "testsupport/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "picture/codecs.h"
#include "tools/sample_photos.h"

namespace e2e {

std::string Required(const char* variable) {
    const char* value = std::getenv(variable);
    EXPECT_TRUE(value && *value) << variable << " is not set (run the test through ctest)";
    return value ? value : "";
}

const picture::Picture& SamplePicture(size_t i) {
    static const std::vector<tools::SamplePhoto> photos = tools::SamplePhotos();
    return photos.at(i % photos.size()).image;
}

std::vector<std::string> WriteSamplePhotos(const std::string& dir) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < tools::SamplePhotos().size(); ++i) {
        const std::string path = dir + "/sample-" + std::to_string(i) + ".bmp";
        std::string error;
        EXPECT_TRUE(testsupport::WriteWholeFile(path, picture::EncodeBmp(SamplePicture(i)), &error))
            << error;
        paths.push_back(path);
    }
    return paths;
}

std::string ComparePhoto(const picture::Picture& got, const picture::Picture& want) {
    if (got.width != want.width || got.height != want.height) {
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
    }
    long differing = 0;
    std::string first;
    for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
            if (y == picture::kPhotoHeight - 1 && x >= 222)
                continue;
            const uint8_t* a = got.At(x, y);
            const uint8_t* b = want.At(x, y);
            if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2])
                continue;
            if (differing++ == 0) {
                char text[128];
                std::snprintf(text, sizeof text, "pixel (%d,%d) is %d,%d,%d (rgb), not %d,%d,%d", x,
                              y, a[0], a[1], a[2], b[0], b[1], b[2]);
                first = text;
            }
        }
    }
    if (differing == 0)
        return "";
    return std::to_string(differing) + " pixels differ; first: " + first;
}

std::string ComparePhotoFile(const std::string& bmp_path, const picture::Picture& want) {
    std::string error;
    const auto bytes = testsupport::ReadWholeFile(bmp_path, &error);
    if (!bytes)
        return error;
    if (bytes->size() != 234310)
        return bmp_path + " has " + std::to_string(bytes->size()) + " bytes";
    const auto image = picture::DecodeBmp(*bytes, &error);
    if (!image)
        return bmp_path + ": " + error;
    return ComparePhoto(*image, want);
}

bool SameFileContents(const std::string& a, const std::string& b, std::string* why) {
    const auto x = testsupport::ReadWholeFile(a, why);
    const auto y = testsupport::ReadWholeFile(b, why);
    if (!x || !y)
        return false;
    if (x->size() != y->size()) {
        *why = a + " has " + std::to_string(x->size()) + " bytes, " + b + " " +
               std::to_string(y->size());
        return false;
    }
    for (size_t i = 0; i < x->size(); ++i) {
        if ((*x)[i] != (*y)[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "first difference at byte 0x%zx", i);
            *why = text;
            return false;
        }
    }
    return true;
}

}  // namespace e2e
