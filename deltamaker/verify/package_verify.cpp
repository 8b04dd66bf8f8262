#include "deltamaker/verify/package_verify.h"

#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/format/package_layout.h"
#include "deltamaker/format/patch_layout.h"
#include "deltamaker/io/whole_file.h"
#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/verify/package_verify_p.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace detail = deltamaker::detail;

namespace {

constexpr uint8_t kProps[5] = {0x00, 0x00, 0x20, 0x00, 0x00};
using detail::format_text;

bool isZ(PackageLayout l) { return l == PackageLayout::Z1 || l == PackageLayout::Z3; }

// A NUL-padded text field: the text, and whether everything after it is zero.
std::string fieldText(const uint8_t *p, size_t width, bool *padded)
{
    size_t n = 0;
    while (n < width && p[n] != 0)
        ++n;
    bool ok = true;
    for (size_t i = n; i < width; ++i)
        ok = ok && p[i] == 0;
    if (padded)
        *padded = ok;
    return std::string(reinterpret_cast<const char *>(p), n);
}

bool allZero(const uint8_t *p, size_t n)
{
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

std::string hex32(uint32_t v) { return format_text("0x%08x", v); }

// Tells methods 0 / 4 and 1 / 3 apart from the bytes when no method is given.
PackageLayout inferK(const uint8_t *pkg, size_t size, uint8_t code, int hint)
{
    if (code == kMethodCodeAB)
        return PackageLayout::AB;
    if (code == kMethodCodeCZ) {
        if (hint == 0)
            return PackageLayout::KBlocks;
        if (hint == 4)
            return PackageLayout::KWhole;
    } else {
        if (hint == 1)
            return PackageLayout::KBlocks;
        if (hint == 3)
            return PackageLayout::KInplace;
    }
    const uint32_t w0 = fota_get32(pkg + 16);
    const uint32_t w4 = fota_get32(pkg + 32);
    if (code == kMethodCodeDiff) {
        const size_t at = kKHeaderSize + w0;
        if (w4 == 0 && w0 <= size && at <= size - 8 && std::memcmp(pkg + at, kPatchMagic, kPatchMagicSize) == 0)
            return PackageLayout::KInplace;
        return PackageLayout::KBlocks;
    }
    // Blocks start with a "uboot" or "cpu" record.
    if (size >= kKHeaderSize + kBlockRecordSize && w0 > 0) {
        const uint8_t *rec = pkg + kKHeaderSize;
        bool padded = false;
        const std::string name = fieldText(rec, kPartNameSize, &padded);
        if (padded && (name == "uboot" || name == "cpu") && rec[kRecOne] == 1)
            return PackageLayout::KBlocks;
    }
    return PackageLayout::KWhole;
}

void readRecords(const uint8_t *pkg, size_t size, PackageInfo &info,
                 std::vector<std::string> &findings)
{
    const uint32_t n = info.words[0];
    const size_t room = size - info.headerSize;
    if (n == 0) {
        findings.push_back("package holds no block records");
        return;
    }
    if (n > room / kBlockRecordSize) {
        findings.push_back(format_text("%u block records do not fit in the package", n));
        return;
    }
    size_t expected = info.headerSize + n * kBlockRecordSize;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t *p = pkg + info.headerSize + i * kBlockRecordSize;
        PackageRecord r;
        bool padded = false;
        r.name = fieldText(p + kRecName, kPartNameSize, &padded);
        r.addr = fota_get32(p + kRecAddr);
        r.oldLen = fota_get32(p + kRecOldLen);
        r.addr2 = fota_get32(p + kRecAddr2);
        r.newLen = fota_get32(p + kRecNewLen);
        r.offset = fota_get32(p + kRecOffset);
        r.dataLen = fota_get32(p + kRecDataLen);
        r.type = p[kRecType];
        r.one = p[kRecOne];
        std::memcpy(r.props, p + kRecProps, 5);
        r.zero = p[kRecZero];
        std::memcpy(r.oldHash, p + kRecOldHash, 32);
        std::memcpy(r.newHash, p + kRecNewHash, 32);
        const std::string at = format_text("record %u (%s)", i, r.name.c_str());
        if (!padded)
            findings.push_back(at + ": name is not NUL-padded");
        if (r.addr != r.addr2)
            findings.push_back(at + ": the two flash addresses differ");
        if (r.type > 1)
            findings.push_back(at + format_text(": type byte %u", r.type));
        if (r.one != 1)
            findings.push_back(at + format_text(": byte 41 is %u, not 1", r.one));
        if (std::memcmp(r.props, kProps, 5) != 0)
            findings.push_back(at + ": LZMA property bytes are not 00 00 20 00 00");
        if (r.zero != 0)
            findings.push_back(at + ": byte 47 is not 0");
        if (r.newLen == 0 || r.newLen > kBlockSize)
            findings.push_back(at + format_text(": new block length %u", r.newLen));
        if (r.oldLen > kBlockSize)
            findings.push_back(at + format_text(": old block length %u", r.oldLen));
        if (r.type == 0 && (r.oldLen != 0 || !allZero(r.oldHash, 32)))
            findings.push_back(at + ": compressed block names an old block");
        if (r.type == 1 && r.oldLen == 0)
            findings.push_back(at + ": patched block has no old block");
        if (r.dataLen == 0 || r.dataLen > kBlockSize)
            findings.push_back(at + format_text(": data length %u", r.dataLen));
        if (r.offset != expected) {
            findings.push_back(at + format_text(": data offset 0x%x, expected 0x%zx", r.offset,
                                                expected));
        } else if (expected > size || r.dataLen > size - expected) {
            findings.push_back(at + ": data reaches past the end of the package");
        } else {
            const size_t end = expected + r.dataLen;
            const size_t rounded = std::min(size, expected + fota_round16(r.dataLen));
            if (!std::all_of(pkg + end, pkg + rounded, [](uint8_t b) { return b == 0xFF; }))
                findings.push_back(at + ": data rounding is not 0xFF filler");
        }
        expected += fota_round16(r.dataLen);
        info.records.push_back(r);
    }
    if (expected != size)
        findings.push_back(format_text("block data ends at 0x%zx, package size 0x%zx", expected,
                                       size));
}

} // namespace

namespace deltamaker::detail {

bool lzma_decode_exact(const uint8_t *src, size_t srcLen, size_t size, std::vector<uint8_t> &out,
                       std::string &error)
{
    out.assign(size, 0);
    size_t outLen = size;
    size_t inLen = srcLen;
    int status = 0;
    const int rc = LzmaDecodeRaw(out.data(), &outLen, src, &inLen, kProps, sizeof kProps, 1,
                                 &status);
    if (rc != LZMA_LIB_OK || outLen != size) {
        error = "stream is damaged or too short";
        return false;
    }
    if (inLen != srcLen) {
        error = format_text("stream ends %zu bytes early", srcLen - inLen);
        return false;
    }
    return true;
}


} // namespace deltamaker::detail

const char *package_layout_name(PackageLayout layout)
{
    switch (layout) {
    case PackageLayout::Z1:
        return "Z1";
    case PackageLayout::Z3:
        return "Z3";
    case PackageLayout::KBlocks:
        return "K-blocks";
    case PackageLayout::KInplace:
        return "K-inplace";
    case PackageLayout::KWhole:
        return "K-whole";
    case PackageLayout::AB:
        return "AB";
    default:
        return "unknown";
    }
}

bool package_read(const uint8_t *pkg, size_t size, PackageInfo &info,
                  std::vector<std::string> &findings, int methodHint)
{
    info = PackageInfo();
    info.fileSize = size;
    if (size < 8 || std::memcmp(pkg, kPackageMagic, kPackageMagicSize) != 0) {
        findings.push_back("no \"FotaPKG\" magic");
        return false;
    }
    info.method = pkg[7];
    if (info.method == 1 || info.method == 3) {
        info.headerSize = kZHeaderSize;
    } else if (info.method == kMethodCodeCZ || info.method == kMethodCodeDiff ||
               info.method == kMethodCodeAB) {
        info.headerSize = kKHeaderSize;
    } else {
        findings.push_back(format_text("unknown method byte 0x%02x", info.method));
        return false;
    }
    if (size < info.headerSize) {
        findings.push_back(format_text("package of %zu bytes is shorter than its %zu-byte header",
                                       size, info.headerSize));
        return false;
    }
    if (info.headerSize == kZHeaderSize)
        info.layout = info.method == 1 ? PackageLayout::Z1 : PackageLayout::Z3;
    else
        info.layout = inferK(pkg, size, info.method, methodHint);
    info.total = fota_get32(pkg + 8);
    info.crc = fota_get32(pkg + 12);
    for (int i = 0; i < 8; ++i)
        info.words[i] = fota_get32(pkg + 16 + 4 * i);
    if (info.total != size)
        findings.push_back(format_text("total length %u differs from the package size %zu",
                                       info.total, size));
    const size_t crcEnd = info.layout == PackageLayout::AB ? info.headerSize : size;
    info.crcComputed = fota_crc32(0, pkg + 16, crcEnd - 16);
    if (info.crc != info.crcComputed)
        findings.push_back("header CRC-32 " + hex32(info.crc) + " does not match " +
                           hex32(info.crcComputed));
    const size_t verAt = isZ(info.layout) ? 32 : 48;
    const size_t verWidth = isZ(info.layout) ? kZVersionSize : kKVersionSize;
    bool padded = true;
    info.srcVersion = fieldText(pkg + verAt, verWidth, &padded);
    if (!padded)
        findings.push_back("source version field is not NUL-padded");
    info.tgtVersion = fieldText(pkg + verAt + verWidth, verWidth, &padded);
    if (!padded)
        findings.push_back("target version field is not NUL-padded");
    if (!isZ(info.layout) && !allZero(pkg + 36, 12))
        findings.push_back("header bytes 36..47 are not zero");

    switch (info.layout) {
    case PackageLayout::Z1:
    case PackageLayout::KBlocks:
        readRecords(pkg, size, info, findings);
        break;
    case PackageLayout::Z3:
        if (info.words[0] != 0)
            findings.push_back("header word at 16 is not 0");
        info.streamOffset = kZHeaderSize;
        info.streamSize = size - kZHeaderSize;
        break;
    case PackageLayout::KInplace:
    case PackageLayout::KWhole:
        if (info.words[4] != 0)
            findings.push_back("header word at 32 is not 0");
        info.bootOffset = kKHeaderSize;
        info.bootSize = info.words[0];
        if (info.bootSize > size - kKHeaderSize) {
            findings.push_back("boot image reaches past the end of the package");
            return false;
        }
        info.streamOffset = kKHeaderSize + info.bootSize;
        info.streamSize = size - info.streamOffset;
        break;
    case PackageLayout::AB: {
        info.bootOffset = kKHeaderSize;
        info.bootSize = info.words[0];
        info.aSize = info.words[1];
        info.bSize = info.words[2];
        const uint64_t need = uint64_t(kKHeaderSize) + info.bootSize + info.aSize + info.bSize;
        if (need != size) {
            findings.push_back(format_text("boot, A and B sizes add up to %llu, package size %zu",
                                           static_cast<unsigned long long>(need), size));
            return need <= size;
        }
        info.aOffset = kKHeaderSize + info.bootSize;
        info.bOffset = info.aOffset + info.aSize;
        if (fota_crc32(0, pkg + info.aOffset, info.aSize) != info.words[3])
            findings.push_back("CRC-32 of the A image does not match its header word");
        if (fota_crc32(0, pkg + info.bOffset, info.bSize) != info.words[4])
            findings.push_back("CRC-32 of the B image does not match its header word");
        break;
    }
    default:
        break;
    }
    return true;
}

namespace {

struct Inputs {
    std::vector<uint8_t> boot, oldImage, newImage, nv1, nv2;
    bool hasBoot = false, hasOld = false, hasNv1 = false, hasNv2 = false;
    std::vector<PartEntry> parts;
};

bool loadInput(const std::string &path, const char *what, std::vector<uint8_t> &out, bool &has,
               std::vector<std::string> &findings)
{
    has = !path.empty();
    if (!has)
        return true;
    std::string error;
    if (!detail::read_file_bytes(path, out, error, detail::kMaxInputFile)) {
        findings.push_back(format_text("cannot read the %s: %s", what, error.c_str()));
        return false;
    }
    return true;
}

const PartEntry *findPart(const std::vector<PartEntry> &parts, const char *name)
{
    for (const PartEntry &e : parts)
        if (std::strncmp(e.name, name, kPartNameSize) == 0)
            return &e;
    return nullptr;
}

// For a record met where another partition's records were expected: which input, left out,
// would have accounted for it.
std::string missingInput(const std::string &name)
{
    if (name == "boot" || name == "uboot")
        return ": the package holds boot records, and verifying it needs the boot image (--boot)";
    if (name == "nv_usr")
        return ": the package holds NV records, and verifying it needs the first NV file (--nv1)";
    if (name == "nv_amt")
        return ": the package holds NV records, and verifying it needs the second NV file (--nv2)";
    return "";
}

// Checks the records of one partition and rebuilds its image from them.
bool checkBlocks(const uint8_t *pkg, const PackageInfo &info, size_t &next, const char *part,
                 const std::vector<uint8_t> &image, const std::vector<uint8_t> *old,
                 const std::vector<PartEntry> &parts, std::vector<std::string> &findings)
{
    const PartEntry *entry = findPart(parts, part);
    if (!entry) {
        findings.push_back(format_text("partition \"%s\" is not in the table", part));
        return false;
    }
    const size_t blocks = (image.size() + kBlockSize - 1) / kBlockSize;
    for (size_t k = 0; k < blocks; ++k, ++next) {
        if (next >= info.records.size()) {
            findings.push_back(format_text("record for %s block %zu is missing", part, k));
            return false;
        }
        const PackageRecord &r = info.records[next];
        const std::string at = format_text("record %zu (%s block %zu)", next, part, k);
        const size_t off = k * kBlockSize;
        const size_t newLen = std::min(kBlockSize, image.size() - off);
        bool withOld = old && off < old->size();
        // A block whose patch could not fit is stored compressed alone, without its old block.
        if (withOld && r.type == 0 && r.oldLen == 0)
            withOld = false;
        const size_t oldLen = withOld ? std::min(kBlockSize, old->size() - off) : 0;
        if (r.name != part) {
            // Records out of step with the inputs: later comparisons would only repeat this.
            findings.push_back(at + ": record is named \"" + r.name + "\"" + missingInput(r.name));
            return false;
        }
        const uint64_t partEnd = uint64_t(entry->addr) + entry->size;
        if (uint64_t(r.addr) < entry->addr || uint64_t(r.addr) + r.newLen > partEnd)
            findings.push_back(at + format_text(": flash range 0x%x..0x%llx lies outside partition "
                                                "%s (0x%x..0x%llx)",
                                                r.addr,
                                                static_cast<unsigned long long>(uint64_t(r.addr) +
                                                                                r.newLen),
                                                part, entry->addr,
                                                static_cast<unsigned long long>(partEnd)));
        if (r.addr != entry->addr + off)
            findings.push_back(at + format_text(": address 0x%x, expected 0x%zx", r.addr,
                                                entry->addr + off));
        if (r.newLen != newLen || r.oldLen != oldLen) {
            findings.push_back(at + format_text(": lengths old %u new %u, expected %zu and %zu",
                                                r.oldLen, r.newLen, oldLen, newLen));
            continue;
        }
        if (r.type != (withOld ? 1 : 0)) {
            findings.push_back(at + format_text(": type byte %u", r.type));
            continue;
        }
        const uint8_t *newBlock = image.data() + off;
        uint8_t hash[32];
        SHA256(newBlock, newLen, hash);
        if (std::memcmp(hash, r.newHash, 32) != 0)
            findings.push_back(at + ": SHA-256 of the new block does not match");
        if (withOld) {
            SHA256(old->data() + off, oldLen, hash);
            if (std::memcmp(hash, r.oldHash, 32) != 0)
                findings.push_back(at + ": SHA-256 of the old block does not match");
        }
        if (r.offset > info.fileSize || r.dataLen > info.fileSize - r.offset)
            continue; // reported by the structural read
        std::vector<uint8_t> rebuilt;
        std::string error;
        bool ok;
        if (withOld)
            ok = apply_block_patch(old->data() + off, oldLen, pkg + r.offset, r.dataLen, newLen,
                                   rebuilt, error);
        else
            ok = detail::lzma_decode_exact(pkg + r.offset, r.dataLen, newLen, rebuilt, error);
        if (!ok)
            findings.push_back(at + ": " + error);
        else if (rebuilt.size() != newLen || std::memcmp(rebuilt.data(), newBlock, newLen) != 0)
            findings.push_back(at + ": rebuilt block differs from the new image");
    }
    return true;
}

void checkVersions(const PackageInfo &info, const Inputs &in, int board,
                   std::vector<std::string> &findings)
{
    const size_t width = isZ(info.layout) ? kZVersionSize : kKVersionSize;
    char text[kKVersionSize + 1];
    std::string error;
    if (detail::version_of_image(board, in.newImage.data(), in.newImage.size(), text,
                                 width + 1, error)) {
        if (info.tgtVersion != text)
            findings.push_back("target version \"" + info.tgtVersion + "\", image says \"" +
                               text + "\"");
    } else {
        findings.push_back("new image version: " + error);
    }
    if (!in.hasOld) {
        if (!info.srcVersion.empty())
            findings.push_back("source version set without an old image");
        return;
    }
    if (detail::version_of_image(board, in.oldImage.data(), in.oldImage.size(), text,
                                 width + 1, error)) {
        if (info.srcVersion != text)
            findings.push_back("source version \"" + info.srcVersion + "\", image says \"" +
                               text + "\"");
    } else {
        findings.push_back("old image version: " + error);
    }
}

void expectWord(const PackageInfo &info, int index, uint32_t value, const char *what,
                std::vector<std::string> &findings)
{
    if (info.words[index] != value)
        findings.push_back(format_text("header %s is 0x%x, expected 0x%x", what,
                                       info.words[index], value));
}

void expectBytes(const uint8_t *pkg, size_t at, size_t len, const std::vector<uint8_t> &want,
                 const char *what, std::vector<std::string> &findings)
{
    if (len != want.size() || (len > 0 && std::memcmp(pkg + at, want.data(), len) != 0))
        findings.push_back(format_text("%s in the package differs from its file", what));
}

void checkInplace(const uint8_t *pkg, const PackageInfo &info, const Inputs &in,
                  std::vector<std::string> &findings)
{
    std::vector<uint8_t> rebuilt;
    std::string error;
    if (!apply_inplace_patch(in.oldImage.data(), in.oldImage.size(), in.newImage.size(),
                             pkg + info.streamOffset, info.streamSize, rebuilt, error))
        findings.push_back("in-place patch: " + error);
    else if (rebuilt != in.newImage)
        findings.push_back("in-place patch rebuilds an image that differs from the new image");
}

uint32_t crcOf(const std::vector<uint8_t> &v) { return fota_crc32(0, v.data(), v.size()); }

} // namespace

std::vector<std::string> package_verify(const uint8_t *pkg, size_t size,
                                        const PackageInputs &inputs)
{
    std::vector<std::string> findings;
    Inputs in;
    bool hasNew = false;
    if (inputs.newImage.empty()) {
        findings.push_back("no new image given");
        return findings;
    }
    if (!loadInput(inputs.newImage, "new image", in.newImage, hasNew, findings) ||
        !loadInput(inputs.oldImage, "old image", in.oldImage, in.hasOld, findings) ||
        !loadInput(inputs.boot, "boot image", in.boot, in.hasBoot, findings) ||
        !loadInput(inputs.nv1, "first NV file", in.nv1, in.hasNv1, findings) ||
        !loadInput(inputs.nv2, "second NV file", in.nv2, in.hasNv2, findings))
        return findings;

    PackageInfo info;
    if (!package_read(pkg, size, info, findings, inputs.method))
        return findings;
    const int board = isZ(info.layout) ? kBoardZN3150 : kBoardKLM4410;
    const int imageBoard =
        in.newImage.size() >= 4 ? board_type_of_word(fota_get32(in.newImage.data())) : 0;
    if (imageBoard != board)
        findings.push_back("package layout does not suit the new image's board");
    if (inputs.method >= 0) {
        const bool suits = isZ(info.layout) ? info.method == inputs.method
                                            : info.method == fota_method_code(inputs.method);
        if (!suits)
            findings.push_back(format_text("method byte 0x%02x does not suit method %d",
                                           info.method, inputs.method));
    }
    std::vector<uint8_t> table;
    std::string error;
    if (inputs.partition.empty()) {
        findings.push_back("no partition table given");
        return findings;
    }
    if (!detail::read_file_bytes(inputs.partition, table, error, kPartTableFileSize)) {
        findings.push_back("cannot read the partition table: " + error);
        return findings;
    }
    if (!detail::parse_part_table(table.data(), table.size(), board, in.parts, error)) {
        findings.push_back("partition table: " + error.substr(0, error.find('\n')));
        return findings;
    }
    const std::vector<std::string> faults = detail::check_part_table(in.parts, board);
    for (const std::string &fault : faults)
        findings.push_back("partition table: " + fault.substr(0, fault.find('\n')));
    if (!faults.empty())
        return findings;
    checkVersions(info, in, board, findings);

    const uint32_t oldSize = static_cast<uint32_t>(in.oldImage.size());
    const uint32_t newSize = static_cast<uint32_t>(in.newImage.size());
    const uint32_t oldCrc = in.hasOld ? crcOf(in.oldImage) : 0;
    switch (info.layout) {
    case PackageLayout::Z1:
    case PackageLayout::KBlocks: {
        const bool z = info.layout == PackageLayout::Z1;
        const bool useOld = in.hasOld && (z || info.method == kMethodCodeDiff);
        expectWord(info, 0, static_cast<uint32_t>(info.records.size()), "record count", findings);
        expectWord(info, 1, oldSize, "old image size", findings);
        expectWord(info, 2, newSize, "new image size", findings);
        expectWord(info, 3, oldCrc, "old image CRC-32", findings);
        if (!z)
            expectWord(info, 4, crcOf(in.newImage), "new image CRC-32", findings);
        if (!z && (in.hasNv1 || in.hasNv2))
            findings.push_back("KLM4410 packages carry no NV files");
        size_t next = 0;
        bool inStep = true;
        if (in.hasBoot)
            inStep = checkBlocks(pkg, info, next, z ? "boot" : "uboot", in.boot, nullptr,
                                 in.parts, findings);
        if (inStep)
            inStep = checkBlocks(pkg, info, next, z ? "cpu1" : "cpu", in.newImage,
                                 useOld ? &in.oldImage : nullptr, in.parts, findings);
        if (inStep && z && in.hasNv1)
            inStep = checkBlocks(pkg, info, next, "nv_usr", in.nv1, nullptr, in.parts, findings);
        if (inStep && z && in.hasNv2)
            inStep = checkBlocks(pkg, info, next, "nv_amt", in.nv2, nullptr, in.parts, findings);
        if (inStep && next < info.records.size())
            findings.push_back(format_text("%zu records more than the inputs need",
                                           info.records.size() - next) +
                               missingInput(info.records[next].name));
        break;
    }
    case PackageLayout::Z3:
    case PackageLayout::KInplace:
        if (!in.hasOld) {
            findings.push_back("an in-place package needs the old image (--old) to be verified");
            break;
        }
        if (info.layout == PackageLayout::KInplace) {
            expectWord(info, 0, static_cast<uint32_t>(in.boot.size()), "boot image size",
                       findings);
            if (info.bootSize == in.boot.size())
                expectBytes(pkg, info.bootOffset, info.bootSize, in.boot, "boot image",
                            findings);
        }
        expectWord(info, 1, oldSize, "old image size", findings);
        expectWord(info, 2, newSize, "new image size", findings);
        expectWord(info, 3, oldCrc, "old image CRC-32", findings);
        if (info.layout == PackageLayout::KInplace && info.bootSize != in.boot.size())
            break;
        checkInplace(pkg, info, in, findings);
        break;
    case PackageLayout::KWhole: {
        expectWord(info, 0, static_cast<uint32_t>(in.boot.size()), "boot image size", findings);
        expectWord(info, 1, oldSize, "old image size", findings);
        expectWord(info, 2, newSize, "new image size", findings);
        expectWord(info, 3, oldCrc, "old image CRC-32", findings);
        if (info.bootSize != in.boot.size())
            break;
        expectBytes(pkg, info.bootOffset, info.bootSize, in.boot, "boot image", findings);
        std::vector<uint8_t> rebuilt;
        if (!detail::lzma_decode_exact(pkg + info.streamOffset, info.streamSize,
                                       in.newImage.size(), rebuilt, error))
            findings.push_back("whole-image stream: " + error);
        else if (rebuilt != in.newImage)
            findings.push_back("whole-image stream differs from the new image");
        break;
    }
    case PackageLayout::AB:
        expectWord(info, 0, static_cast<uint32_t>(in.boot.size()), "boot image size", findings);
        expectWord(info, 1, oldSize, "A image size", findings);
        expectWord(info, 2, newSize, "B image size", findings);
        expectWord(info, 3, oldCrc, "A image CRC-32", findings);
        expectWord(info, 4, crcOf(in.newImage), "B image CRC-32", findings);
        if (info.aOffset != 0 && info.bootSize == in.boot.size() &&
            info.aSize == in.oldImage.size() && info.bSize == in.newImage.size()) {
            expectBytes(pkg, info.bootOffset, info.bootSize, in.boot, "boot image", findings);
            expectBytes(pkg, info.aOffset, info.aSize, in.oldImage, "A image", findings);
            expectBytes(pkg, info.bOffset, info.bSize, in.newImage, "B image", findings);
        }
        break;
    default:
        findings.push_back("unknown layout");
        break;
    }
    return findings;
}

std::vector<std::string> package_verify_file(const std::string &path, const PackageInputs &inputs)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!detail::read_file_bytes(path, bytes, error, detail::kMaxPackageFile))
        return {"cannot read the package: " + error};
    return package_verify(bytes.data(), bytes.size(), inputs);
}
