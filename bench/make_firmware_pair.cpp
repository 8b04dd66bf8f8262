// Writes one firmware-like KLM4410 image pair for measurements:
//   make-firmware-pair SIZE SEED OLD_FILE NEW_FILE
// The update is an inserted function, changed constants and appended data, the kind of change
// a real release makes; both images carry the KLM4410 header with the diff method byte 0x42.
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/samples/firmware_gen.h"

#include <cstdio>
#include <cstdlib>

static bool writeAll(const char *path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: make-firmware-pair SIZE SEED OLD_FILE NEW_FILE\n");
        return 2;
    }
    const long size = std::strtol(argv[1], nullptr, 0);
    if (size < 256) {
        std::fprintf(stderr, "SIZE must be at least 256 bytes\n");
        return 2;
    }
    Samples::PairSpec spec;
    spec.size = size_t(size);
    spec.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
                  Samples::Mutation::AppendData};
    Samples::FirmwarePair pair = Samples::makePair(std::strtoull(argv[2], nullptr, 0), spec);
    Samples::stampKlm4410(pair.oldImage, "V2.3.0", 0x42);
    Samples::stampKlm4410(pair.newImage, "V2.4.0", 0x42);
    if (!writeAll(argv[3], pair.oldImage) || !writeAll(argv[4], pair.newImage)) {
        std::fprintf(stderr, "cannot write the pair\n");
        return 1;
    }
    return 0;
}
