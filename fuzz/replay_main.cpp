// Runs a fuzz target's entry point over kept inputs, in the normal build: each argument is a
// file or a folder of files. Files in a folder named "pending" are listed and skipped: they
// wait for a fix that is not yet in (see tests/fuzz-regressions/README.md). An input that
// takes longer than 10 seconds (the fuzzers allow 2) fails the replay: slowness is a finding.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> files;
    int pending = 0;
    int slow = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_regular_file(arg, ec)) {
            files.push_back(arg);
            continue;
        }
        if (!fs::is_directory(arg, ec))
            continue; // no inputs kept yet
        for (const auto &entry : fs::recursive_directory_iterator(arg, ec)) {
            if (!entry.is_regular_file() || entry.path().filename() == "README.md")
                continue;
            if (entry.path().parent_path().filename() == "pending") {
                std::printf("skipped (pending a fix): %s\n", entry.path().c_str());
                ++pending;
                continue;
            }
            files.push_back(entry.path());
        }
    }
    for (const fs::path &file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        std::printf("replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
        std::fflush(stdout);
        const auto start = std::chrono::steady_clock::now();
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > 10) {
            std::printf("too slow: %s took %.1f s\n", file.c_str(), seconds);
            ++slow;
        }
    }
    std::printf("%zu inputs replayed, %d pending, %d too slow\n", files.size(), pending, slow);
    return slow == 0 ? 0 : 1;
}
