// Whole-card backup of a 32 MB card and a photo upload against a simulated
// camera served on a socket: wall time against the mandated pauses, the
// sleeps' overshoot, and the backup's peak memory (it streams one erase block
// at a time).
//
//   cardlib_backup [variant, default 32Mb]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/cardlib_bench_rig.h"
#include "cardlib/quorbit.h"

int main(int argc, char** argv) {
    const std::string name = argc > 1 ? argv[1] : "32Mb";
    const auto variant = sim::ParseVariant(name);
    if (!variant) {
        std::fprintf(stderr, "unknown card %s (%s)\n", name.c_str(), sim::VariantList().c_str());
        return 2;
    }
    const auto& g = sim::GeometryOf(*variant);
    bench::MeasuringClock clock;
    platform::ScopedClock scoped(&clock);
    bench::ServedCamera served(*variant, 4);
    if (OpenDevice() != 1 || GetFlashSize() == 0)
        return 1;

    // Backup.
    const std::string image = served.dir() + "/card.img";
    const long rss_before = bench::CurrentMemoryKb();
    bench::ResetPeakMemory();
    clock.Reset();
    double cpu0 = bench::ThreadCpuMs();
    auto start = std::chrono::steady_clock::now();
    if (ReadAll(image.c_str()) != 1)
        return 1;
    double wall = bench::WallMs(start);
    double cpu = bench::ThreadCpuMs() - cpu0;
    const long peak = bench::PeakMemoryKb();
    const double blocks = double(g.card_bytes) / g.block_bytes;
    const double mandated =
        g.little_endian ? blocks * 10.0 : double(g.card_bytes / g.page_bytes) * 2.0;
    std::printf("backup %s: %.0f blocks of %u bytes\n", std::string(g.name).c_str(), blocks,
                g.block_bytes);
    std::printf("  mandated pauses %.1f ms, wall %.1f ms, ratio %.3f\n", mandated, wall,
                wall / mandated);
    std::printf("  sleep overshoot %.1f ms (%ld pauses, %.1f us each); ratio without it %.3f\n",
                clock.overshoot.count() / 1000.0, clock.pauses,
                clock.pauses ? double(clock.overshoot.count()) / clock.pauses : 0.0,
                (wall - clock.overshoot.count() / 1000.0) / mandated);
    std::printf("  library CPU %.1f ms\n", cpu);
    std::printf("  peak memory during the backup: %ld KB above the %ld KB before (block %u KB)\n",
                peak - rss_before, rss_before, g.block_bytes / 1024);
    ::unlink(image.c_str());

    // Upload: first read a photo as a bitmap, then store it as a new photo.
    const std::string bmp = served.dir() + "/photo.bmp";
    if (ReadPhotoToFile(0, bmp.c_str()) != 1)
        return 1;
    clock.Reset();
    cpu0 = bench::ThreadCpuMs();
    start = std::chrono::steady_clock::now();
    if (WriteFileToFlash(bmp.c_str()) != 1)
        return 1;
    wall = bench::WallMs(start);
    cpu = bench::ThreadCpuMs() - cpu0;
    std::printf(
        "upload: %u pages written; mandated pauses %.1f ms (writes never pause); wall %.1f ms, "
        "library CPU %.1f ms\n",
        0x4C000 / g.page_bytes, clock.requested.count() / 1000.0, wall, cpu);
    ::unlink(bmp.c_str());
    CloseDevice();
    return 0;
}
