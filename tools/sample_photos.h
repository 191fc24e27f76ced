// A few pleasant pictures of the camera's photo size for demonstrations and
// tests: a sunset over the sea, a colour chart, a mountain lake and balloons.
// They are computed, so every build has the same pixels without keeping
// binary files in the repository.
#pragma once

#include <string>
#include <vector>

#include "picture/picture.h"

namespace tools {

struct SamplePhoto {
    std::string name;        // file name stem, e.g. "sunset"
    picture::Picture image;  // kPhotoWidth x kPhotoHeight
};

std::vector<SamplePhoto> SamplePhotos();

}  // namespace tools
