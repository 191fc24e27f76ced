// Untrusted card content through detection and read-out: the input chooses a
// geometry and supplies the system block and photo data of a simulated card;
// the library opens it, answers the queries and reads the photos the
// directory lists (and a few it does not), then deletes one. Nothing may read
// or write outside the library's buffers.
//
// Input: as fuzz_card.h describes it; flag bit 2 also deletes a photo.
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "cardlib/fuzz/fuzz_card.h"
#include "cardlib/quorbit.h"

namespace {

// Where read-out writes its bitmaps, made once for the whole run.
const std::string& BitmapPath() {
    static const std::string* path = [] {
        char dir[] = "/tmp/cardlib-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        return new std::string(std::string(dir) + "/photo.bmp");
    }();
    return *path;
}

void Progress(int32_t) {}
void Step() {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<quorbit::fuzz::FuzzCard> card = quorbit::fuzz::FuzzCard::Plug(data, size);
    if (!card)
        return 0;
    const std::string& bitmap_path = BitmapPath();
    SetProcessFunc(Step, Progress);
    if (OpenDevice() == 1) {
        (void)GetFlashSize();
        (void)GetPhotoTotalSize();
        const int count = GetPhotoCount();
        for (int i : {0, 1, count - 1, count, count + 1, 0xFFFF}) {
            if (ReadPhotoToFile(i, bitmap_path.c_str()) == 1)
                ::unlink(bitmap_path.c_str());
        }
        if (card->flags() & 4)
            (void)DeletePhoto(count > 0 ? count - 1 : 0);
    }
    CloseDevice();
    return 0;
}
