// The device dry run and its power-cut analysis (deltamaker simulate --power-cuts) on whole
// packages, against the inputs of the board and method the package's header names.
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

#include "deltamaker/io/whole_file.h"
#include "deltamaker/verify/device_sim.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

struct Loaded {
    std::vector<uint8_t> table, oldImage, newImage, boot, nv1, nv2;
    DeviceRunInputs inputs;
};

std::vector<FuzzSamples::PackageCase> g_cases;
std::map<const FuzzSamples::PackageCase *, Loaded> g_loaded;

void load(const std::string &path, std::vector<uint8_t> &bytes, DeviceImage &image)
{
    if (path.empty() || !deltamaker::detail::read_file_bytes(path, bytes))
        return;
    image = {bytes.data(), bytes.size(), true};
}

const DeviceRunInputs &inputsOf(const FuzzSamples::PackageCase &c, bool zn)
{
    Loaded &l = g_loaded[&c];
    if (l.inputs.parts.empty()) {
        std::string error;
        deltamaker::detail::read_file_bytes(c.inputs.partition, l.table);
        deltamaker::detail::parse_part_table(l.table.data(), l.table.size(),
                                             zn ? kBoardZN3150 : kBoardKLM4410, l.inputs.parts,
                                             error);
        load(c.inputs.oldImage, l.oldImage, l.inputs.oldImage);
        load(c.inputs.newImage, l.newImage, l.inputs.newImage);
        load(c.inputs.boot, l.boot, l.inputs.boot);
        load(c.inputs.nv1, l.nv1, l.inputs.nv1);
        load(c.inputs.nv2, l.nv2, l.inputs.nv2);
        l.inputs.powerCuts = l.inputs.oldImage.given;
    }
    return l.inputs;
}

} // namespace

void fuzzSetUp()
{
    const std::string dir = fuzzTempDir("fuzz-device");
    std::string error;
    if (dir.empty() || !FuzzSamples::writePackageInputs(dir, g_cases, error)) {
        std::fprintf(stderr, "cannot write the package inputs: %s\n", error.c_str());
        std::abort();
    }
}

// The packages of every board and method, built by the program's builder.
void fuzzSeeds(FuzzSeeds &seeds) { FuzzSamples::builtPackages(seeds); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzSamples::PackageCase *c = FuzzSamples::caseForPackage(g_cases, data, size);
    if (!c)
        return 0;
    const bool zn = size > 7 && (data[7] == 1 || data[7] == 3);
    DeviceRunResult result;
    std::string error;
    device_run(data, size, inputsOf(*c, zn), result, error);
    return 0;
}
