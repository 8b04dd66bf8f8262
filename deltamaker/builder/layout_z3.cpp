// Layout Z3: a ZN3150 in-place patch under a 64-byte header.
#include "deltamaker/builder/build_p.h"

namespace deltamaker::detail {

int build_z3(Build &b)
{
    constexpr int64_t kInplaceReserve = 40960;
    const ImageRecord &old = b.image(Input::Old);
    const ImageRecord &image = b.image(Input::New);
    uint8_t header[kZHeaderSize] = {};
    fill_magic(header, 3);
    put_versions(b.versions, kZVersionSize, header + 32, header + 48);
    fota_put32(header + 20, static_cast<uint32_t>(old.size()));
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old.crc32());
    if (!append_inplace_patch(b))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kZHeaderSize + b.package.dataLen()));
    fota_put32(header + 12, b.package.crc(header, kZHeaderSize, false, true));
    int64_t size = 0;
    if (!b.writePackage(header, kZHeaderSize, false, kWriteTexts, &size))
        return -1;
    return size_check(b, size, "boot", "cpu1", "data_ota", kInplaceReserve) ? 0 : -1;
}

} // namespace deltamaker::detail
