// Driver for the fuzz targets when libFuzzer is not available: replays the
// seed files named on the command line (the committed corpus), then a fixed
// pseudo-random sweep of their mutations, so that ctest exercises the target
// under the sanitizers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::vector<uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(seeds.back().data(), seeds.back().size());
    }
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> input =
            seeds.empty() ? std::vector<uint8_t>{} : seeds[round % seeds.size()];
        const int mutations = 1 + static_cast<int>(rng() % 8);
        for (int m = 0; m < mutations; ++m) {
            switch (rng() % 4) {
                case 0:  // flip a byte
                    if (!input.empty())
                        input[rng() % input.size()] = static_cast<uint8_t>(rng());
                    break;
                case 1:  // truncate
                    if (!input.empty())
                        input.resize(rng() % input.size());
                    break;
                case 2:  // append noise
                    for (int k = static_cast<int>(rng() % 32); k > 0; --k) {
                        input.push_back(static_cast<uint8_t>(rng()));
                    }
                    break;
                default:  // overwrite a 32-bit field
                    if (input.size() >= 4) {
                        const size_t at = rng() % (input.size() - 3);
                        const uint32_t v = rng();
                        for (int b = 0; b < 4; ++b)
                            input[at + b] = static_cast<uint8_t>(v >> (8 * b));
                    }
                    break;
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("fuzz replay: %zu seeds and 3000 mutations, no crash\n", seeds.size());
    return 0;
}
