// The checks of sizes against the partitions: of every input before any work, and of the
// package and firmware once the package is written.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/fota_log_p.h"

#include <algorithm>
#include <utility>

namespace deltamaker::detail {

namespace {

constexpr int kError = FOTA_LOG_ERROR;
constexpr int kInfo = FOTA_LOG_INFO;

int64_t packRound(int64_t size) { return (size + 4095) & ~int64_t(4095); }
int64_t firmwareRound(int64_t size) { return (size + 4097) & ~int64_t(4095); }

} // namespace

bool fits_partition(const char *path, int64_t size, const char *part, uint32_t partSize)
{
    if (size > static_cast<int64_t>(partSize)) {
        fota_log(kError, "%s is 0x%llx bytes, larger than its partition %s of 0x%x bytes\n", path,
                 static_cast<unsigned long long>(size), part, partSize);
        return false;
    }
    return true;
}

bool inputs_fit(int type, const PackRequest &req, const BuildInputs &inputs)
{
    const bool z = type == kBoardZN3150;
    const bool ab = !z && req.method == 2;
    const char *masterPart = z ? "cpu1" : "cpu";
    const char *boot = inputs.path(Input::Boot);
    const char *old = inputs.path(Input::Old);
    uint32_t addr = 0;
    uint32_t bootPart = 0;
    uint32_t master = 0;
    uint32_t ota = 0;
    if ((boot || ab) && part_find(z ? "boot" : "uboot", &addr, &bootPart) != 0)
        return false;
    if (part_find(masterPart, &addr, &master) != 0)
        return false;
    if (z && part_find("data_ota", &addr, &ota) != 0)
        return false;
    const int64_t newSize = inputs.size(Input::New);
    const int64_t oldSize = old ? inputs.size(Input::Old) : 0;
    const int64_t bootSize = boot ? inputs.size(Input::Boot) : 0;
    if (ab) {
        if (bootSize > static_cast<int64_t>(bootPart)) {
            fota_log(kError, "boot size 0x%llx too big\n", static_cast<unsigned long long>(bootSize));
            return false;
        }
        const int64_t larger = std::max(oldSize, newSize);
        if (larger > static_cast<int64_t>(master / 2)) {
            fota_log(kError, "master part size 0x%x not enough, firmware size:0x%llx\n",
                     master / 2, static_cast<unsigned long long>(larger));
            return false;
        }
        int64_t left = static_cast<int64_t>(kBuildAreaSize);
        for (const auto &f : {std::make_pair(boot, bootSize), std::make_pair(old, oldSize),
                              std::make_pair(inputs.path(Input::New), newSize)}) {
            if (!f.first)
                continue;
            if (f.second > left) {
                fota_log(kError, "data area full: %s needs 0x%llx bytes, 0x%llx left\n", f.first,
                         static_cast<unsigned long long>(f.second),
                         static_cast<unsigned long long>(left));
                return false;
            }
            left -= f.second;
        }
        return true;
    }
    if (boot && bootSize > static_cast<int64_t>(bootPart)) {
        fota_log(kError, "boot file 0x%llx too big than boot part 0x%x\n", static_cast<unsigned long long>(bootSize),
                 bootPart);
        return false;
    }
    if (newSize > static_cast<int64_t>(master)) {
        fota_log(kError, "master part 0x%x not enough, new file size:0x%llx\n", master,
                 static_cast<unsigned long long>(newSize));
        return false;
    }
    if (old && !fits_partition(old, oldSize, masterPart, master))
        return false;
    if (!z && boot && (req.method == 3 || req.method == 4) &&
        bootSize > static_cast<int64_t>(kBuildAreaSize)) {
        fota_log(kError, "data area full: %s needs 0x%llx bytes, 0x%zx left\n", boot,
                 static_cast<unsigned long long>(bootSize), kBuildAreaSize);
        return false;
    }
    if (z) {
        const struct {
            Input in;
            const char *part;
        } nv[] = {{Input::Nv1, "nv_usr"}, {Input::Nv2, "nv_amt"}};
        for (const auto &f : nv) {
            if (!inputs.given(f.in))
                continue;
            uint32_t size = 0;
            if (part_find(f.part, &addr, &size) != 0 ||
                !fits_partition(inputs.path(f.in), inputs.size(f.in), f.part, size))
                return false;
        }
    }
    return true;
}

bool size_check(const Build &b, int64_t packageSize, const char *bootPart,
                const char *masterPart, const char *otaPart, int64_t reserve)
{
    if (const ImageRecord *boot = b.optional(Input::Boot)) {
        if (boot->size() == 0) {
            fota_log(kError, "file %s is empty\n", boot->path());
            return false;
        }
        uint32_t addr = 0;
        uint32_t size = 0;
        if (part_find(bootPart, &addr, &size) != 0)
            return false;
        if (boot->size() > static_cast<int64_t>(size)) {
            fota_log(kError, "boot file 0x%llx too big than boot part 0x%x\n",
                     static_cast<unsigned long long>(boot->size()), size);
            return false;
        }
    }
    uint32_t addr = 0;
    uint32_t master = 0;
    uint32_t ota = 0;
    if (part_find(masterPart, &addr, &master) != 0)
        return false;
    if (otaPart && part_find(otaPart, &addr, &ota) != 0)
        return false;
    const int64_t newSize = b.image(Input::New).size();
    const ImageRecord *old = b.optional(Input::Old);
    const int64_t oldSize = old ? old->size() : 0;
    if (newSize > static_cast<int64_t>(master)) {
        fota_log(kError, "master part 0x%x not enough, new file size:0x%llx\n", master,
                 static_cast<unsigned long long>(newSize));
        return false;
    }
    const int64_t pack = packRound(packageSize);
    const int64_t fw = firmwareRound(std::max(oldSize, newSize));
    const int64_t room = static_cast<int64_t>(master) + static_cast<int64_t>(ota);
    const int64_t need = pack + fw + reserve;
    const bool pass = room >= need;
    const int level = pass ? kInfo : kError;
    const int packK = static_cast<int>(pack >> 10);
    const int fwK = static_cast<int>(fw >> 10);
    const int masterK = static_cast<int>(master >> 10);
    if (otaPart) {
        fota_log(level, "packsize:\t\t %dK\n", packK);
        fota_log(level, pass ? "firamwaresize:\t %dK\n" : "firmwaresize:\t %dK\n", fwK);
        fota_log(level, "mastersize:\t %dK\n", masterK);
        fota_log(level, "otasize:\t\t %dK\n", static_cast<int>(ota >> 10));
    } else {
        fota_log(level, "packsize:\t %dK\n", packK);
        fota_log(level, "firamwaresize:\t %dK\n", fwK);
        fota_log(level, "mastersize:\t %dK\n", masterK);
    }
    if (pass)
        fota_log(kInfo, "partsize check pass, extra %dK\n", static_cast<int>((room - need) >> 10));
    else
        fota_log(kError, "size not enough for upgrade, also need %dK\n",
                 static_cast<int>((need - room) >> 10));
    return pass;
}

bool size_check_ab(const uint8_t *header)
{
    const uint32_t boot = fota_get32(header + 16);
    const uint32_t a = fota_get32(header + 20);
    const uint32_t b = fota_get32(header + 24);
    uint32_t addr = 0;
    uint32_t size = 0;
    if (part_find("uboot", &addr, &size) != 0)
        return false;
    if (boot > size) {
        fota_log(kError, "boot size 0x%x too big\n", boot);
        return false;
    }
    if (a == 0 || b == 0) {
        fota_log(kError, "firmware size error %d with %d\n", static_cast<int>(a),
                 static_cast<int>(b));
        return false;
    }
    if (part_find("cpu", &addr, &size) != 0)
        return false;
    const uint32_t larger = std::max(a, b);
    if (larger > size / 2) {
        fota_log(kError, "master part size 0x%x not enough, firmware size:0x%x\n", size / 2,
                 larger);
        return false;
    }
    fota_log(kInfo, "partsize check pass\n");
    return true;
}

} // namespace deltamaker::detail
