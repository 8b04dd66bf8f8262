// Layout Z1: ZN3150 block records (boot, cpu1, nv_usr, nv_amt) under a 64-byte header.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"

namespace deltamaker::detail {

int build_z1(Build &b)
{
    constexpr int64_t kBootReserve = 0x7000;
    const ImageRecord *old = b.optional(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    if (const ImageRecord *boot = b.optional(Input::Boot))
        if (run_blocks(b, "boot", nullptr, *boot, false) != 0)
            return -1;
    if (run_blocks(b, "cpu1", old, image, b.request.method != 0) != 0)
        return -1;
    if (const ImageRecord *nv = b.optional(Input::Nv1))
        if (run_blocks(b, "nv_usr", nullptr, *nv, false) != 0)
            return -1;
    if (const ImageRecord *nv = b.optional(Input::Nv2))
        if (run_blocks(b, "nv_amt", nullptr, *nv, false) != 0)
            return -1;
    PackageWriter &pkg = b.package;
    if (pkg.dataLen() + pkg.controlLen() + kZHeaderSize > kZPackageLimit) {
        fota_log(FOTA_LOG_ERROR, "patch size bigger than 1M, patchlen=0x%x, controllen=0x%x\n",
                 static_cast<unsigned>(pkg.dataLen()), static_cast<unsigned>(pkg.controlLen()));
        return -1;
    }
    uint8_t header[kZHeaderSize] = {};
    fill_magic(header, 1);
    put_versions(b.versions, kZVersionSize, header + 32, header + 48);
    fota_put32(header + 8, static_cast<uint32_t>(kZHeaderSize + pkg.controlLen() + pkg.dataLen()));
    fota_put32(header + 16, static_cast<uint32_t>(pkg.records()));
    fota_put32(header + 20, old ? static_cast<uint32_t>(old->size()) : 0);
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old ? old->crc32() : 0);
    pkg.raiseOffsets(kZHeaderSize);
    fota_put32(header + 12, pkg.crc(header, kZHeaderSize, true, true));
    int64_t size = 0;
    if (!b.writePackage(header, kZHeaderSize, true, kWriteTexts, &size))
        return -1;
    return size_check(b, size, "boot", "cpu1", "data_ota", kBootReserve) ? 0 : -1;
}

} // namespace deltamaker::detail
