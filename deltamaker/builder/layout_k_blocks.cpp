// Layout K blocks (methods 0 and 1): KLM4410 block records (uboot, cpu) under a 112-byte header.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"

namespace deltamaker::detail {

int build_k_blocks(Build &b)
{
    constexpr int64_t kReserve = 40960;
    const ImageRecord *old = b.optional(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    if (const ImageRecord *boot = b.optional(Input::Boot))
        if (run_blocks(b, "uboot", nullptr, *boot, false) != 0)
            return -1;
    if (run_blocks(b, "cpu", old, image, b.request.method == 1) != 0)
        return -1;
    PackageWriter &pkg = b.package;
    if (pkg.dataLen() + pkg.controlLen() + kKHeaderSize > kKPackageLimit) {
        fota_log(FOTA_LOG_ERROR, "patch size bigger than 2M, patchlen=0x%x, controllen=0x%x\n",
                 static_cast<unsigned>(pkg.dataLen()), static_cast<unsigned>(pkg.controlLen()));
        return -1;
    }
    uint8_t header[kKHeaderSize] = {};
    fill_magic(header, fota_method_code(b.request.method));
    put_versions(b.versions, kKVersionSize, header + 48, header + 80);
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + pkg.controlLen() + pkg.dataLen()));
    fota_put32(header + 16, static_cast<uint32_t>(pkg.records()));
    fota_put32(header + 20, old ? static_cast<uint32_t>(old->size()) : 0);
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old ? old->crc32() : 0);
    fota_put32(header + 32, image.crc32());
    pkg.raiseOffsets(kKHeaderSize);
    fota_put32(header + 12, pkg.crc(header, kKHeaderSize, true, true));
    int64_t size = 0;
    if (!b.writePackage(header, kKHeaderSize, true, kWriteTexts, &size))
        return -1;
    return size_check(b, size, "uboot", "cpu", nullptr, kReserve) ? 0 : -1;
}

} // namespace deltamaker::detail
