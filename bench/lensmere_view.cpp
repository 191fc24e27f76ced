// lensmere: one photo view end to end (the window, its worker, the device
// link and a simulated 16 MB little-endian camera in process) against the
// pauses the protocol demands, 10 x (20 + 20) ms; and the JPEG conversion of
// a 644 x 484 bitmap against running cjpeg on the same pixels.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QListWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/devicelink.h"
#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/photofiles.h"
#include "platform/inprocess/inprocess_backend.h"
#include "sim/camera.h"
#include "sim/card_maker.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

picture::Picture Picture(int seed) {
    picture::Picture image(picture::kPhotoWidth, picture::kPhotoHeight);
    std::mt19937 rng(seed);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            uint8_t* p = image.At(x, y);
            p[0] = static_cast<uint8_t>(x + (rng() & 15));
            p[1] = static_cast<uint8_t>(y + (rng() & 15));
            p[2] = static_cast<uint8_t>((x ^ y) + seed);
        }
    return image;
}

bool RunCjpeg(const std::string& in, const std::string& out) {
    pid_t pid = ::fork();
    if (pid == 0) {
        execl("/usr/bin/cjpeg", "cjpeg", "-quality", "90", "-outfile", out.c_str(), in.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    lensmere::TApplication app(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("lensmere-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);

    // A view, end to end, on the system clock.
    {
        platform::ScopedInProcessBackend backend;
        std::string error;
        auto card = sim::MakeCardInMemory(sim::Variant::k16MbLe,
                                          {Picture(1), Picture(2), Picture(3)}, &error);
        if (!card) {
            std::fprintf(stderr, "cannot make card: %s\n", error.c_str());
            return 1;
        }
        backend.backend().Attach(
            "cam", std::make_shared<sim::Camera>(sim::Variant::k16MbLe, std::move(card)));
        TZarvoLink window;
        window.findChild<QListWidget*>("ListBox1")->setCurrentRow(1);
        const int runs = 10;
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            auto start = Clock::now();
            // The button's handler, as a click runs it.
            QMetaObject::invokeMethod(&window, "ViewPICButtonClick", Qt::DirectConnection);
            times.push_back(Ms(Clock::now() - start));
        }
        const double mandated = 10 * (20 + 20);
        const double median = Median(times);
        std::printf("view end to end: median %.1f ms over %d views (min %.1f, max %.1f)\n", median,
                    runs, *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()));
        std::printf("mandated pauses: %.0f ms; ratio %.3f; overhead %.1f ms per view\n", mandated,
                    median / mandated, median - mandated);
    }
    devicelink::Shutdown();

    // JPEG conversion of the doubled bitmap against cjpeg.
    {
        std::vector<uint8_t> raw(0x80000);
        std::mt19937 rng(5);
        for (size_t i = 0; i < raw.size(); ++i)
            raw[i] = static_cast<uint8_t>((i / 4 % 322) + (i / 1288) + (rng() & 31));
        const std::string bmp = (dir / "TEMP.BMP").string();
        lensmere::WriteDoubledBitmap(bmp, raw);
        // cjpeg gets the same pixels with no resolution, so that both write
        // the same JFIF header.
        std::ifstream in(bmp, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::fill(bytes.begin() + 38, bytes.begin() + 46, 0);
        const std::string zero = (dir / "zero.bmp").string();
        std::ofstream(zero, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

        const int runs = 40;
        std::vector<double> ours, theirs;
        for (int i = 0; i < runs; ++i) {
            auto a = Clock::now();
            lensmere::ConvertToJpeg(bmp, (dir / "ours.jpg").string());
            auto b = Clock::now();
            if (!RunCjpeg(zero, (dir / "theirs.jpg").string())) {
                std::fprintf(stderr, "cjpeg did not run\n");
                return 1;
            }
            auto c = Clock::now();
            ours.push_back(Ms(b - a));
            theirs.push_back(Ms(c - b));
        }
        const double o = Median(ours), t = Median(theirs);
        const bool same = fs::file_size(dir / "ours.jpg") == fs::file_size(dir / "theirs.jpg");
        std::printf(
            "jpeg 644x484 q90: ConvertToJpeg median %.2f ms, cjpeg process %.2f ms; "
            "ratio %.2f (target <= 1.2); same size: %s\n",
            o, t, o / t, same ? "yes" : "no");
    }

    fs::current_path(previous);
    fs::remove_all(dir);
    return 0;
}
