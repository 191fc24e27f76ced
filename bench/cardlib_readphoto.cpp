// ReadPhotoToFile on every geometry against a simulated camera served on a
// socket: wall time against the pauses the protocol mandates, how much of the
// excess is the sleeps overshooting, and the library's own CPU time per photo
// (the calling thread only; the camera runs in another thread).
//
//   cardlib_readphoto [photos per geometry, default 3]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/cardlib_bench_rig.h"
#include "cardlib/quorbit.h"

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::atoi(argv[1]) : 3;
    bench::MeasuringClock clock;
    platform::ScopedClock scoped(&clock);
    std::printf("%-7s %6s %10s %10s %7s %12s %9s %10s\n", "card", "reads", "mandated", "wall",
                "ratio", "overshoot", "ratio-os", "cpu/photo");
    for (sim::Variant v : sim::kAllVariants) {
        const auto& g = sim::GeometryOf(v);
        bench::ServedCamera served(v, 3);
        if (OpenDevice() != 1 || GetFlashSize() == 0) {
            std::fprintf(stderr, "%s: card not recognised\n", std::string(g.name).c_str());
            return 1;
        }
        const std::string path = served.dir() + "/photo.bmp";
        // Mandated: 10 ms per 16 KB read command (little-endian, 20 a photo);
        // 2 ms per page (big-endian).
        const double mandated_ms = g.little_endian ? 20 * 10.0 : (0x4C000 / g.page_bytes) * 2.0;
        clock.Reset();
        const double cpu0 = bench::ThreadCpuMs();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < reads; ++i) {
            if (ReadPhotoToFile(i % 3, path.c_str()) != 1) {
                std::fprintf(stderr, "read failed\n");
                return 1;
            }
        }
        const double wall = bench::WallMs(start) / reads;
        const double cpu = (bench::ThreadCpuMs() - cpu0) / reads;
        const double overshoot = clock.overshoot.count() / 1000.0 / reads;
        std::printf("%-7s %6d %8.1fms %8.1fms %7.3f %10.2fms %9.3f %8.2fms\n",
                    std::string(g.name).c_str(), reads, mandated_ms, wall, wall / mandated_ms,
                    overshoot, (wall - overshoot) / mandated_ms, cpu);
        ::unlink(path.c_str());
        CloseDevice();
    }
    std::printf("ratio-os: the ratio with the sleeps' overshoot taken out\n");
    return 0;
}
