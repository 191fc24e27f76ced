// quorbit-cli check and recover list on full cards: a 16MbLe card (52 photos)
// and a 128Mb card (340 photos) on a simulated camera served on a socket,
// with the protocol's real pauses, and the same cards as image files
// (--image). Both commands read one page a slot, not whole slots.
//
// Targets: on the simulated camera within 2 s (16MbLe) and 5 s (128Mb); on
// an image under 0.2 s.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/cardlib_bench_rig.h"
#include "picture/picture.h"
#include "tools/cli/commands.h"
#include "tools/cli/image_card.h"
#include "tools/cli/options.h"

namespace {

struct Target {
    sim::Variant variant;
    double camera_ms;
    double image_ms;
};

// Runs one command line as quorbit-cli would (output thrown away); its
// exit status and wall time.
std::pair<int, double> Time(std::vector<std::string> words, const std::string& image = "") {
    words.insert(words.begin(), "quorbit-cli");
    if (!image.empty()) {
        words.push_back("--image");
        words.push_back(image);
    }
    std::string error;
    auto options = cli::ParseArguments(words, &error);
    if (!options) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return {-1, 0};
    }
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<cli::ImageCard> card;
    if (!image.empty()) {
        card = cli::ImageCard::Open(image, "", false, &error);
        if (!card) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return {-1, 0};
        }
    }
    cli::CommandContext ctx{cli::LinkedLibraryApi(), *options};
    ctx.image = card.get();
    ctx.io.out = std::fopen("/dev/null", "w");
    ctx.io.err = ctx.io.out;
    const int status = cli::RunCommand(ctx);
    card.reset();
    const double ms = bench::WallMs(start);
    std::fclose(ctx.io.out);
    return {status, ms};
}

std::vector<picture::Picture> Pictures(int n) {
    std::vector<picture::Picture> pictures;
    for (int i = 0; i < n; ++i) {
        picture::Picture p(322, 242);
        for (size_t b = 0; b < p.rgb.size(); ++b)
            p.rgb[b] = static_cast<uint8_t>(b * 31 + i);
        pictures.push_back(std::move(p));
    }
    return pictures;
}

}  // namespace

int main() {
    const Target targets[] = {
        {sim::Variant::k16MbLe, 2000, 200},
        {sim::Variant::k128Mb, 5000, 200},
    };
    int failed = 0;
    for (const Target& t : targets) {
        const sim::Geometry& g = sim::GeometryOf(t.variant);
        const std::string name(g.name);
        std::printf("%s card, %u photos (full):\n", name.c_str(), unsigned{g.max_photos});
        {
            bench::ServedCamera served(t.variant, g.max_photos);
            for (const char* command : {"check", "recover list"}) {
                std::vector<std::string> words{command};
                if (words[0] == "recover list")
                    words = {"recover", "list"};
                const auto [status, ms] = Time(words);
                const bool ok = status == 0 && ms <= t.camera_ms;
                failed += ok ? 0 : 1;
                std::printf("  camera  %-13s %8.1f ms  (target %.0f ms)%s\n", command, ms,
                            t.camera_ms, ok ? "" : "  MISSED");
            }
        }
        char dir[] = "/tmp/cli-doctor-bench-XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            return 1;
        const std::string image = std::string(dir) + "/card.img";
        std::string error;
        if (!sim::MakeCardFromImages(image, t.variant, Pictures(g.max_photos), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        for (const char* command : {"check", "recover list"}) {
            std::vector<std::string> words{command};
            if (words[0] == "recover list")
                words = {"recover", "list"};
            Time(words, image);  // the image in the page cache, as after a backup
            const auto [status, ms] = Time(words, image);
            const bool ok = status == 0 && ms <= t.image_ms;
            failed += ok ? 0 : 1;
            std::printf("  image   %-13s %8.2f ms  (target %.0f ms)%s\n", command, ms, t.image_ms,
                        ok ? "" : "  MISSED");
        }
        ::unlink(image.c_str());
        ::rmdir(dir);
    }
    return failed == 0 ? 0 : 1;
}
