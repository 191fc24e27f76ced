// Shared pieces of the end-to-end tests: where the built programs are, a
// temporary folder, the sample photos as files, and comparing pictures.
#pragma once

#include <string>
#include <vector>

#include "picture/picture.h"
#include "testsupport/temp_dir.h"

namespace e2e {

// A path handed in by ctest through the environment (the test fails if unset).
std::string Required(const char* variable);

using TempDir = testsupport::TempDir;

// Writes sample photo i as "<dir>/sample-<i>.bmp" and returns the paths.
std::vector<std::string> WriteSamplePhotos(const std::string& dir);
const picture::Picture& SamplePicture(size_t i);

// "" when `got` shows `want`, else what differs. The card keeps only the first
// 0x4C000 bytes of a raw photo: pixels 222-321 of the bottom row are not
// stored, so they are not compared.
std::string ComparePhoto(const picture::Picture& got, const picture::Picture& want);
std::string ComparePhotoFile(const std::string& bmp_path, const picture::Picture& want);

bool SameFileContents(const std::string& a, const std::string& b, std::string* why);

}  // namespace e2e
