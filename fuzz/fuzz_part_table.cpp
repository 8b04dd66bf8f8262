// The partition table reader, for both boards, as the builder calls it.
#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/fota.h"
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

#include "deltamaker/samples/board_samples.h"

#include <cstring>

void fuzzSeeds(FuzzSeeds &seeds)
{
    const std::string dir = fuzzTempDir("fuzz-seeds");
    std::vector<FuzzSamples::PackageCase> cases;
    std::string error;
    if (dir.empty() || !FuzzSamples::writePackageInputs(dir, cases, error))
        return;
    for (const char *board : {"/zn3150/partition.bin", "/klm4410/partition.bin"}) {
        seeds.emplace_back();
        FuzzSamples::readBytes(dir + board, seeds.back());
    }
    // A full table, and one whose records resume at 1024.
    std::vector<Samples::PartitionSpec> many;
    for (uint32_t i = 0; i < 40; ++i)
        many.push_back({"p" + std::to_string(i), i * 0x1000, 0x1000});
    std::vector<uint8_t> table;
    if (Samples::makePartitionTable(many, table, error))
        seeds.push_back(table);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fota_set_log_sink({});
    for (int board : {kBoardZN3150, kBoardKLM4410}) {
        if (part_table_parse(data, size, board) != 0)
            continue;
        for (const PartEntry &e : part_table_entries()) {
            char name[kPartNameSize + 1] = {};
            std::memcpy(name, e.name, kPartNameSize);
            uint32_t addr = 0, psize = 0;
            if (part_find(name, &addr, &psize) != 0)
                __builtin_trap(); // every listed entry must be found again
        }
    }
    return 0;
}
