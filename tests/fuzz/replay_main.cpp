// Runs a fuzz target over every file of a corpus folder, so that the seeds (and every finding
// added to them) keep being checked by ordinary test runs without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    std::error_code error;
    std::filesystem::directory_iterator entries(argv[1], error);
    if (error) {
        std::fprintf(stderr, "cannot read corpus folder %s\n", argv[1]);
        return 1;
    }
    std::size_t replayed = 0;
    for (const auto& entry : entries) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
        // A non-null pointer even for an empty input, as libFuzzer passes.
        static const std::uint8_t empty = 0;
        LLVMFuzzerTestOneInput(
            bytes.empty() ? &empty : reinterpret_cast<const std::uint8_t*>(bytes.data()),
            bytes.size());
        ++replayed;
    }
    if (replayed == 0) {
        std::fprintf(stderr, "corpus folder %s holds no inputs\n", argv[1]);
        return 1;
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
