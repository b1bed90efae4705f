// Writes valid streams (3-byte total + stream) for the decoder fuzzer to start
// from: short texts, runs, binary-like bytes and mixtures at several levels.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "stubkit/encoder/encoder.h"

namespace {

std::vector<uint8_t> Sample(int kind, size_t size, std::mt19937& random)
{
    std::vector<uint8_t> bytes;
    const std::string text = "the payload stream of the installer, block by block; ";
    while (bytes.size() < size) {
        switch (kind) {
        case 0: bytes.push_back(static_cast<uint8_t>(text[bytes.size() % text.size()])); break;
        case 1: bytes.push_back(random() % 8 == 0 ? static_cast<uint8_t>(random()) : 0); break;
        case 2: bytes.push_back(static_cast<uint8_t>(random())); break;
        default: bytes.push_back(static_cast<uint8_t>("abcab"[random() % 5])); break;
        }
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
        return 2;
    }
    std::mt19937 random(2026);
    int written = 0;
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t size : {0, 1, 5, 300, 5000, 40000}) {
            for (int level : {1, 5, 9, stubkit::kUltraLevel}) {
                std::vector<uint8_t> input = Sample(kind, size, random);
                std::vector<uint8_t> stream = stubkit::EncodeBuffer(input.data(), input.size(), level);
                std::string path = std::string(argv[1]) + "/seed-" + std::to_string(written++);
                std::FILE* file = std::fopen(path.c_str(), "wb");
                if (file == nullptr) {
                    std::perror(path.c_str());
                    return 1;
                }
                uint8_t total[3] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                    static_cast<uint8_t>(size >> 16)};
                std::fwrite(total, 1, 3, file);
                std::fwrite(stream.data(), 1, stream.size(), file);
                std::fclose(file);
            }
        }
    }
    std::printf("make_fuzz_seeds: %d seed streams in %s\n", written, argv[1]);
    return 0;
}
