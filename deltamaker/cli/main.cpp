// deltamaker: builds, inspects and verifies FotaPKG upgrade packages from the command line.
// Exit codes: 0 success, 1 failure, 2 usage error.

#include "common/log_levels.h"
#include "common/terminal_text.h"
#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota.h"
#include "deltamaker/format/package_layout.h"
#include "deltamaker/report/device_report.h"
#include "deltamaker/report/package_picture.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"
#include "deltamaker/verify/package_verify_p.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <string>
#include <vector>

namespace detail = deltamaker::detail;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFail = 1;
constexpr int kExitUsage = 2;

const char *const kMainHelp =
    "usage: deltamaker COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  build       build an upgrade package\n"
    "  info        show the fields of a package\n"
    "  verify      check a package against its inputs\n"
    "  simulate    dry-run a package on a model of the board's flash, with power cuts\n"
    "  partitions  list or create a partition table\n"
    "  samples     write demo inputs for both boards\n"
    "\n"
    "Boards and methods: ZN3150 images take methods 1 and 3; KLM4410 images take methods 0 to 4.\n"
    "Run 'deltamaker COMMAND --help' for the arguments of a command.\n";

const char *const kBuildHelp =
    "usage: deltamaker build --method N --partition FILE --new FILE [--old FILE] [--boot FILE]\n"
    "                        [--nv1 FILE] [--nv2 FILE] --output FILE [--optimize] [--threads N]\n"
    "                        [--power-safe] [--quiet]\n"
    "\n"
    "Builds the package for the board of the new image. Methods:\n"
    "  0  blocks compressed alone                  KLM4410\n"
    "  1  blocks patched against the old image     KLM4410, ZN3150 (boot and NV files too)\n"
    "  2  A (--old) and B (--new) images whole     KLM4410\n"
    "  3  in-place patch                           KLM4410 (boot too), ZN3150\n"
    "  4  whole image compressed                   KLM4410\n"
    "Methods 1, 2 and 3 need --old. Every builder message is printed with its level. While the\n"
    "build runs, its stage and progress show on one line of standard error when that is a\n"
    "terminal; --quiet turns that off. The package is written beside the output and renamed into\n"
    "place once verified (mode 0644 less the umask); Ctrl-C removes the build's files, and what a\n"
    "killed build left is removed by the next build to the same output. --optimize selects the\n"
    "optimising encoder: a smaller package in the same format, read by the same device code,\n"
    "built several times slower. --threads N builds the independent pieces on N threads (1 to\n"
    "64; default: every core); the package is the same byte for byte whatever N is.\n"
    "--power-safe makes a method 3 package that no power cut can spoil under the loader's\n"
    "resume model (see 'deltamaker simulate --help'), on flash erased in units of 4 KiB or\n"
    "less: the same format, a larger package and more flash work. Methods 0, 2 and 4 are safe\n"
    "as they are; method 1 cannot be made safe and is refused.\n"
    "Exit code 0 when the package was built and verified, 1 otherwise.\n";

const char *const kInfoHelp =
    "usage: deltamaker info FILE [--json] [--method N]\n"
    "       deltamaker info FILE --html OUT [--partition FILE] [--old FILE] [--new FILE]\n"
    "                       [--boot FILE] [--nv1 FILE] [--nv2 FILE] [--method N] [--flash PROFILE]\n"
    "\n"
    "Shows the layout, every header field, the records and the stream sizes of a package, with\n"
    "each CRC marked valid or not. --method tells layouts that share a method code apart\n"
    "(0 or 4, 1 or 3); without it they are told apart from the package bytes. In the A/B layout\n"
    "(method 2) no checksum covers the boot image: info says so, and only 'deltamaker verify\n"
    "--boot' can check it. Names and versions from the package are printed with control\n"
    "characters escaped (\\xNN).\n"
    "--html writes a picture of the package to OUT, one HTML page that needs nothing else: the\n"
    "header facts, each partition drawn to scale with every record, window and move coloured\n"
    "by kind (patched, stored alone, moved, and unsafe under the resume model when --old is\n"
    "given), and the steps on a time line of the dry run's estimate (see 'deltamaker simulate\n"
    "--help' for the flash model and --flash). Without --partition each partition is drawn at\n"
    "the extent of what the package writes.\n"
    "Exit code 0 when nothing info can check is wrong, 1 otherwise.\n";

const char *const kVerifyHelp =
    "usage: deltamaker verify FILE --partition FILE --new FILE [--old FILE] [--boot FILE]\n"
    "                         [--nv1 FILE] [--nv2 FILE] [--method N]\n"
    "\n"
    "Checks every field, CRC and hash of the package, decodes every stream, applies every patch\n"
    "and compares the result with the given files. Prints one finding per line and a verdict.\n"
    "Exit code 0 when the package is sound, 1 otherwise.\n";

const char *const kPartitionsHelp =
    "usage: deltamaker partitions FILE [--board zn3150|klm4410]\n"
    "       deltamaker partitions --create FILE NAME:ADDR:SIZE... [--board zn3150|klm4410]\n"
    "\n"
    "The first form lists the entries as the builder reads them (ZN3150 adds its predefined\n"
    "\"boot\" and \"partition\" entries), names with control characters escaped (\\xNN), then\n"
    "what the builder would refuse in the table: entries reaching past 4 GiB, entries that\n"
    "overlap, a package partition too small for a package header. A file without a single\n"
    "valid entry (erased, or not a table) is refused. Without --board the board is worked out\n"
    "from the table: \"cpu1\" means ZN3150, \"cpu\" KLM4410. The second form writes a\n"
    "4096-byte table of at most 64 partitions; ADDR and SIZE are numbers such as 0x40000 or\n"
    "262144. It writes only a table the builder takes for the board: each name once, without\n"
    "control characters, and none of the faults above.\n";

const char *const kSamplesHelp =
    "usage: deltamaker samples DIR\n"
    "\n"
    "Writes demo inputs for both boards below DIR: partition tables, boot images, NV files and\n"
    "old/new image pairs, with a README.txt holding one build command per method.\n";

const char *const kSimulateHelp =
    "usage: deltamaker simulate PACKAGE --partition FILE [--old FILE] [--new FILE] [--boot FILE]\n"
    "                           [--nv1 FILE] [--nv2 FILE] [--method N] [--flash PROFILE]\n"
    "                           [--power-cuts] [--json]\n"
    "\n"
    "Applies the package as the device's loader does, on a model of the board's flash, and\n"
    "reports per image and in total: erase units erased, bytes programmed, bytes moved by\n"
    "in-place relocations, the most erases of any one unit, the estimated time on the device,\n"
    "the loader's peak RAM, and whether each result matches its file (--new, --boot, --nv1,\n"
    "--nv2; the A image of an A/B package is compared with --old) by SHA-256. --old is the\n"
    "image on the device; packages that patch it need it for --power-cuts and a true result.\n"
    "\n"
    "Each step writes one flash range: erase units are erased whole, the bytes outside the\n"
    "range read first and programmed back with it, page by page.\n"
    "--flash PROFILE[,KEY=VALUE...] or KEY=VALUE,... picks the flash (default nor-4k):\n"
    "  nor-4k      4 KiB erase 45 ms, 256-byte page 0.7 ms, read 50 MB/s (typical)\n"
    "  nor-4k-max  the same at datasheet maximum: 400 ms, 3 ms, read 10 MB/s\n"
    "  nor-64k     64 KiB erase 150 ms, 256-byte page 0.7 ms, read 50 MB/s\n"
    "  keys: erase_unit, program_unit (bytes), erase_ms, program_ms, read_mbps\n"
    "These are generic serial NOR figures, assumptions rather than measurements of the boards.\n"
    "\n"
    "--power-cuts lists every step a power cut can spoil, under this resume model: the loader\n"
    "keeps, in storage that survives a power cut, the index of the last step it finished (a\n"
    "block record, a stored image, the image stream, a relocation move or a window write), and\n"
    "after a cut it runs again from the first unfinished step over what the flash then holds\n"
    "(an in-place window is built again first). A step is unsafe when a cut inside it can make\n"
    "that rerun end in a wrong image: it reads bytes its own write changed or erased, its\n"
    "window's source bytes change before the window is written, or it erases needed bytes\n"
    "beside its range. Each unsafe step is listed with its partition, the range it writes, the\n"
    "span of the bytes at risk and their number, then a summary.\n"
    "Exit code 0 when every step ran and no compared image differs, 1 otherwise.\n";

int usage(const char *help, const std::string &message)
{
    std::fprintf(stderr, "deltamaker: %s\n\n%s", message.c_str(), help);
    return kExitUsage;
}

bool isHelp(const std::string &a) { return a == "--help" || a == "-h"; }

// Options of the form --name VALUE, flags listed apart, and positional arguments.
struct Args {
    std::map<std::string, std::string> values;
    std::vector<std::string> flags;
    std::vector<std::string> positional;
    bool help = false;
};

// False (with the message) for an unknown option, a missing value or a repeated option.
bool parseArgs(int argc, char **argv, int first, const std::vector<std::string> &valueOpts,
               const std::vector<std::string> &flagOpts, Args &out, std::string &error)
{
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (isHelp(a)) {
            out.help = true;
            continue;
        }
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            const std::string name = a.substr(2);
            bool isValue = false;
            for (const std::string &v : valueOpts)
                isValue = isValue || v == name;
            bool isFlag = false;
            for (const std::string &f : flagOpts)
                isFlag = isFlag || f == name;
            if (isFlag) {
                out.flags.push_back(name);
                continue;
            }
            if (!isValue) {
                error = "unknown option " + a;
                return false;
            }
            if (i + 1 >= argc) {
                error = "option " + a + " needs a value";
                return false;
            }
            if (out.values.count(name)) {
                error = "option " + a + " is given twice";
                return false;
            }
            out.values[name] = argv[++i];
            continue;
        }
        out.positional.push_back(a);
    }
    return true;
}

bool hasFlag(const Args &a, const char *name)
{
    for (const std::string &f : a.flags)
        if (f == name)
            return true;
    return false;
}

std::string value(const Args &a, const char *name)
{
    const auto it = a.values.find(name);
    return it == a.values.end() ? std::string() : it->second;
}

bool parseInt(const std::string &text, long long lo, long long hi, long long &out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

const char *levelName(int level)
{
    const char *name = logLevelName(level);
    return name ? name : "INFO";
}

// One updating line on standard error with the build's stage and percent. Log lines go to
// standard output; the progress line is taken away before each and drawn again after it.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    bool enabled() const { return enabled_; }
    void show(const char *stage, int percent)
    {
        if (percent < 0)
            std::snprintf(text_, sizeof text_, "%s ...", stage);
        else
            std::snprintf(text_, sizeof text_, "%s %d%%", stage, percent);
        redraw();
    }
    void redraw()
    {
        if (!enabled_ || text_[0] == '\0')
            return;
        std::fprintf(stderr, "\r\033[K%s", text_);
        std::fflush(stderr);
        shown_ = true;
    }
    void clear()
    {
        if (!shown_)
            return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    char text_[96] = {};
};

// Copies a path into a request field; false when it does not fit in 255 bytes.
bool setField(char (&field)[256], const std::string &path)
{
    if (path.size() > 255)
        return false;
    std::memset(field, 0, sizeof field);
    std::memcpy(field, path.data(), path.size());
    return true;
}

int cmdBuild(int argc, char **argv)
{
    Args a;
    std::string error;
    if (!parseArgs(argc, argv, 2,
                   {"method", "partition", "new", "old", "boot", "nv1", "nv2", "output", "threads"},
                   {"quiet", "optimize", "power-safe"},
                   a, error))
        return usage(kBuildHelp, error);
    if (a.help) {
        std::fputs(kBuildHelp, stdout);
        return kExitOk;
    }
    if (!a.positional.empty())
        return usage(kBuildHelp, "unexpected argument " + a.positional.front());
    long long method = 0;
    if (a.values.count("method") && !parseInt(value(a, "method"), 0, 4, method))
        return usage(kBuildHelp, "--method must be 0, 1, 2, 3 or 4, not \"" + value(a, "method") + "\"");
    long long threads = 0;
    // Decimal digits only: "010" is ten threads, not eight.
    const std::string threadText = value(a, "threads");
    if (a.values.count("threads") &&
        (threadText.empty() || threadText.size() > 9 ||
         threadText.find_first_not_of("0123456789") != std::string::npos ||
         (threads = std::strtoll(threadText.c_str(), nullptr, 10)) < 1 ||
         threads > kFotaMaxThreads))
        return usage(kBuildHelp, "--threads must be a whole number from 1 to " +
                                     std::to_string(kFotaMaxThreads) + ", not \"" +
                                     threadText + "\"");
    for (const char *required : {"method", "partition", "new", "output"})
        if (value(a, required).empty())
            return usage(kBuildHelp, std::string("--") + required + " is required");
    if (method != 0 && method != 4 && value(a, "old").empty())
        return usage(kBuildHelp, "--old is required for method " + std::to_string(method));
    PackRequest req;
    std::memset(&req, 0, sizeof req);
    const std::string output = value(a, "output");
    const struct {
        char (*field)[256];
        const char *opt;
    } fields[] = {{&req.partition_path, "partition"}, {&req.boot_path, "boot"},
                  {&req.old_path, "old"},             {&req.new_path, "new"},
                  {&req.nv1_path, "nv1"},             {&req.nv2_path, "nv2"}};
    for (const auto &f : fields)
        if (!setField(*f.field, value(a, f.opt)))
            return usage(kBuildHelp, std::string("the path of --") + f.opt +
                                         " is longer than 255 bytes");
    if (output.size() > 255)
        return usage(kBuildHelp, "the path of --output is longer than 255 bytes");
    req.method = static_cast<int32_t>(method);
    req.output_path = output.c_str();
    req.optimize = hasFlag(a, "optimize") ? 1 : 0;
    req.threads = static_cast<int32_t>(threads); // 0: every core
    req.powerSafe = hasFlag(a, "power-safe") ? 1 : 0;
    ProgressLine progress(!hasFlag(a, "quiet") && ::isatty(STDERR_FILENO) == 1);
    fota_set_log_sink([&progress](int level, const char *text) {
        progress.clear();
        std::printf("[%s] %s", levelName(level), terminalSafe(text, true).c_str());
        std::fflush(stdout);
        progress.redraw();
    });
    if (progress.enabled())
        fota_set_progress_sink(
            [&progress](const char *stage, int percent) { progress.show(stage, percent); });
    const auto start = std::chrono::steady_clock::now();
    const int rc = fota_make_package(req);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fota_set_progress_sink(nullptr);
    fota_set_log_sink(nullptr);
    progress.clear();
    if (rc != 0) {
        std::printf("build failed\n");
        return kExitFail;
    }
    std::printf("package written: %s (%.2f s)\n", output.c_str(), seconds);
    return kExitOk;
}

std::string hexBytes(const uint8_t *p, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

std::string jsonString(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", c);
            out += b;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The names of the eight header words at 16..47 for a layout.
std::vector<const char *> wordNames(PackageLayout l)
{
    switch (l) {
    case PackageLayout::Z1:
        return {"record_count", "old_size", "new_size", "old_crc32"};
    case PackageLayout::Z3:
        return {"zero", "old_size", "new_size", "old_crc32"};
    case PackageLayout::KBlocks:
        return {"record_count", "old_size", "new_size", "old_crc32", "new_crc32"};
    case PackageLayout::KInplace:
    case PackageLayout::KWhole:
        return {"boot_size", "old_size", "new_size", "old_crc32", "zero"};
    case PackageLayout::AB:
        return {"boot_size", "a_size", "b_size", "a_crc32", "b_crc32"};
    default:
        return {};
    }
}

// A package as `info` shows it: the structural read and what the presenters derive from it.
struct PackageReading {
    std::string file;
    std::vector<uint8_t> bytes;
    PackageInfo info;
    std::vector<std::string> findings;
    bool readable = false;
    bool crcOk = false;
    bool aCrcOk = false; // AB packages: the images against their header words
    bool bCrcOk = false;
    std::vector<const char *> words; // names of the header words of the layout
    // The A/B layout's boot image: no checksum of the package covers it (the header CRC stops
    // at byte 111, the image CRCs cover A and B), so only a comparison with the boot file can
    // tell it intact. Empty for every other layout.
    size_t uncheckedOffset = 0, uncheckedSize = 0;
};

// Reads `path` as a package. False (with the reason) only when the file cannot be read; a
// package that cannot be read as any layout is a reading with findings.
bool readPackage(const std::string &path, long long method, PackageReading &p, std::string &error)
{
    p.file = path;
    if (!detail::read_file_bytes(path, p.bytes, error, detail::kMaxPackageFile))
        return false;
    p.readable = package_read(p.bytes.data(), p.bytes.size(), p.info, p.findings,
                              static_cast<int>(method));
    p.crcOk = p.readable && p.info.crc == p.info.crcComputed;
    if (p.info.layout == PackageLayout::AB && p.info.aOffset) {
        p.aCrcOk = p.info.words[3] == fota_crc32(0, p.bytes.data() + p.info.aOffset, p.info.aSize);
        p.bCrcOk = p.info.words[4] == fota_crc32(0, p.bytes.data() + p.info.bOffset, p.info.bSize);
        p.uncheckedOffset = p.info.bootOffset;
        p.uncheckedSize = p.info.bootSize;
    }
    p.words = wordNames(p.info.layout);
    return true;
}

// A stream of an in-place or whole-image package has no CRC of its own: the header CRC covers it.
void printInfoJson(const PackageReading &p)
{
    std::printf("{\n  \"file\": %s,\n  \"size\": %zu,\n  \"layout\": \"%s\",\n",
                jsonString(p.file).c_str(), p.bytes.size(),
                package_layout_name(p.info.layout));
    std::printf("  \"method_byte\": %u,\n  \"header_size\": %zu,\n  \"total\": %u,\n",
                p.info.method, p.info.headerSize, p.info.total);
    std::printf("  \"crc32\": \"0x%08x\",\n  \"crc32_computed\": \"0x%08x\",\n"
                "  \"crc32_valid\": %s,\n",
                p.info.crc, p.info.crcComputed, p.crcOk ? "true" : "false");
    std::printf("  \"source_version\": %s,\n  \"target_version\": %s,\n  \"header\": {",
                jsonString(p.info.srcVersion).c_str(), jsonString(p.info.tgtVersion).c_str());
    for (size_t i = 0; i < p.words.size(); ++i)
        std::printf(std::strstr(p.words[i], "crc") ? "%s\"%s\": \"0x%08x\"" : "%s\"%s\": %u",
                    i ? ", " : "", p.words[i], p.info.words[i]);
    std::printf("},\n  \"records\": [");
    for (size_t i = 0; i < p.info.records.size(); ++i) {
        const PackageRecord &r = p.info.records[i];
        std::printf("%s\n    {\"name\": %s, \"addr\": %u, \"old_len\": %u, \"new_len\": %u, "
                    "\"offset\": %u, \"data_len\": %u, \"type\": %u, \"props\": \"%s\", "
                    "\"old_sha256\": \"%s\", \"new_sha256\": \"%s\"}",
                    i ? "," : "", jsonString(r.name).c_str(), r.addr, r.oldLen, r.newLen,
                    r.offset, r.dataLen, r.type, hexBytes(r.props, 5).c_str(),
                    hexBytes(r.oldHash, 32).c_str(), hexBytes(r.newHash, 32).c_str());
    }
    std::printf("%s],\n", p.info.records.empty() ? "" : "\n  ");
    std::printf("  \"boot\": {\"offset\": %zu, \"size\": %zu},\n", p.info.bootOffset,
                p.info.bootSize);
    std::printf("  \"stream\": {\"offset\": %zu, \"size\": %zu},\n", p.info.streamOffset,
                p.info.streamSize);
    std::printf("  \"a_image\": {\"offset\": %zu, \"size\": %zu},\n", p.info.aOffset, p.info.aSize);
    std::printf("  \"b_image\": {\"offset\": %zu, \"size\": %zu},\n", p.info.bOffset, p.info.bSize);
    // The parts of the package that no checksum covers.
    if (p.uncheckedSize)
        std::printf("  \"unchecked\": [{\"what\": \"boot image\", \"offset\": %zu, "
                    "\"size\": %zu}],\n",
                    p.uncheckedOffset, p.uncheckedSize);
    else
        std::printf("  \"unchecked\": [],\n");
    std::printf("  \"findings\": [");
    for (size_t i = 0; i < p.findings.size(); ++i)
        std::printf("%s%s", i ? ", " : "", jsonString(p.findings[i]).c_str());
    std::printf("]\n}\n");
}

void printInfoText(const PackageReading &p)
{
    std::printf("file:            %s (%zu bytes)\n", p.file.c_str(), p.bytes.size());
    std::printf("layout:          %s\n", package_layout_name(p.info.layout));
    if (p.info.headerSize) {
        std::printf("method byte:     0x%02x\n", p.info.method);
        std::printf("total length:    %u%s\n", p.info.total,
                    p.info.total == p.bytes.size() ? "" : " (does not match the file size)");
        // The A/B header CRC covers the header alone.
        const char *scope =
            p.info.layout == PackageLayout::AB ? " (covers header bytes 16-111 only)" : "";
        if (p.crcOk)
            std::printf("CRC-32:          0x%08x valid%s\n", p.info.crc, scope);
        else
            std::printf("CRC-32:          0x%08x INVALID, computed 0x%08x%s\n", p.info.crc,
                        p.info.crcComputed, scope);
        for (size_t i = 0; i < p.words.size(); ++i) {
            const bool isCrc = std::strstr(p.words[i], "crc") != nullptr;
            std::printf(isCrc ? "%-16s 0x%08x\n" : "%-16s %u\n",
                        (std::string(p.words[i]) + ":").c_str(), p.info.words[i]);
        }
        std::printf("source version:  \"%s\"\n", terminalSafe(p.info.srcVersion).c_str());
        std::printf("target version:  \"%s\"\n", terminalSafe(p.info.tgtVersion).c_str());
    }
    if (p.info.layout == PackageLayout::AB && p.info.aOffset) {
        std::printf("boot image:      %zu bytes at %zu%s\n", p.info.bootSize, p.info.bootOffset,
                    p.uncheckedSize ? ", covered by no checksum" : "");
        std::printf("A image:         %zu bytes at %zu, CRC-32 %s\n", p.info.aSize, p.info.aOffset,
                    p.aCrcOk ? "valid" : "INVALID");
        std::printf("B image:         %zu bytes at %zu, CRC-32 %s\n", p.info.bSize, p.info.bOffset,
                    p.bCrcOk ? "valid" : "INVALID");
    }
    if (p.info.layout == PackageLayout::KInplace || p.info.layout == PackageLayout::KWhole)
        std::printf("boot image:      %zu bytes at %zu\n", p.info.bootSize, p.info.bootOffset);
    if (p.info.streamSize)
        std::printf("%s %zu bytes at %zu\n",
                    p.info.layout == PackageLayout::KWhole ? "image stream:   "
                                                         : "in-place patch: ",
                    p.info.streamSize, p.info.streamOffset);
    if (!p.info.records.empty()) {
        std::printf("records:         %zu\n", p.info.records.size());
        std::printf("  #   name             address    old    new    offset     data   type\n");
        for (size_t i = 0; i < p.info.records.size(); ++i) {
            const PackageRecord &r = p.info.records[i];
            std::printf("  %-3zu %-16s 0x%08x %-6u %-6u 0x%08x %-6u %s\n", i,
                        terminalSafe(r.name).c_str(),
                        r.addr, r.oldLen, r.newLen, r.offset, r.dataLen,
                        r.type == 1 ? "patch" : "packed");
        }
    }
    for (const std::string &f : p.findings)
        std::printf("finding: %s\n", terminalSafe(f).c_str());
    if (p.uncheckedSize)
        std::printf("note: in the A/B layout no checksum covers the boot image (bytes %zu-%zu): the\n"
                    "      CRC-32s above say nothing of it, and only a comparison with the boot file,\n"
                    "      \"deltamaker verify FILE --boot BOOT ...\", can check it.\n",
                    p.uncheckedOffset, p.uncheckedOffset + p.uncheckedSize - 1);
}

int cmdInfoHtml(const Args &a, long long method);

int cmdInfo(int argc, char **argv)
{
    Args a;
    std::string error;
    if (!parseArgs(argc, argv, 2,
                   {"method", "html", "partition", "old", "new", "boot", "nv1", "nv2", "flash"},
                   {"json"}, a, error))
        return usage(kInfoHelp, error);
    if (a.help) {
        std::fputs(kInfoHelp, stdout);
        return kExitOk;
    }
    if (a.positional.size() != 1)
        return usage(kInfoHelp, a.positional.empty() ? "a package file is required"
                                                     : "only one package file is allowed");
    long long method = -1;
    if (!value(a, "method").empty() && !parseInt(value(a, "method"), 0, 4, method))
        return usage(kInfoHelp, "--method needs a number from 0 to 4");
    if (a.values.count("html"))
        return cmdInfoHtml(a, method);
    for (const char *htmlOnly : {"partition", "old", "new", "boot", "nv1", "nv2", "flash"})
        if (a.values.count(htmlOnly))
            return usage(kInfoHelp, std::string("--") + htmlOnly + " goes with --html");
    PackageReading reading;
    if (!readPackage(a.positional[0], method, reading, error)) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    if (hasFlag(a, "json"))
        printInfoJson(reading);
    else
        printInfoText(reading);
    return reading.readable && reading.findings.empty() ? kExitOk : kExitFail;
}

int cmdVerify(int argc, char **argv)
{
    Args a;
    std::string error;
    if (!parseArgs(argc, argv, 2, {"partition", "new", "old", "boot", "nv1", "nv2", "method"}, {},
                   a, error))
        return usage(kVerifyHelp, error);
    if (a.help) {
        std::fputs(kVerifyHelp, stdout);
        return kExitOk;
    }
    if (a.positional.size() != 1)
        return usage(kVerifyHelp, a.positional.empty() ? "a package file is required"
                                                       : "only one package file is allowed");
    for (const char *required : {"partition", "new"})
        if (value(a, required).empty())
            return usage(kVerifyHelp, std::string("--") + required + " is required");
    long long method = -1;
    if (!value(a, "method").empty() && !parseInt(value(a, "method"), 0, 4, method))
        return usage(kVerifyHelp, "--method needs a number from 0 to 4");
    PackageInputs in;
    in.partition = value(a, "partition");
    in.newImage = value(a, "new");
    in.oldImage = value(a, "old");
    in.boot = value(a, "boot");
    in.nv1 = value(a, "nv1");
    in.nv2 = value(a, "nv2");
    in.method = static_cast<int>(method);
    const std::vector<std::string> findings = package_verify_file(a.positional[0], in);
    for (const std::string &f : findings)
        std::printf("%s\n", terminalSafe(f).c_str());
    if (findings.empty()) {
        std::printf("package is sound\n");
        return kExitOk;
    }
    std::printf("package is NOT sound: %zu finding%s\n", findings.size(),
                findings.size() == 1 ? "" : "s");
    return kExitFail;
}

int cmdSimulate(int argc, char **argv)
{
    Args a;
    std::string error;
    if (!parseArgs(argc, argv, 2,
                   {"partition", "old", "new", "boot", "nv1", "nv2", "method", "flash"},
                   {"power-cuts", "json"}, a, error))
        return usage(kSimulateHelp, error);
    if (a.help) {
        std::fputs(kSimulateHelp, stdout);
        return kExitOk;
    }
    if (a.positional.size() != 1)
        return usage(kSimulateHelp, a.positional.empty() ? "a package file is required"
                                                         : "only one package file is allowed");
    if (value(a, "partition").empty())
        return usage(kSimulateHelp, "--partition is required");
    long long method = -1;
    if (!value(a, "method").empty() && !parseInt(value(a, "method"), 0, 4, method))
        return usage(kSimulateHelp, "--method needs a number from 0 to 4");
    FlashProfile flash = flash_profiles().front();
    if (a.values.count("flash") && !flash_profile_parse(value(a, "flash"), flash, error))
        return usage(kSimulateHelp, "--flash: " + error);
    DeviceRunFiles files;
    files.package = a.positional[0];
    files.partition = value(a, "partition");
    files.oldImage = value(a, "old");
    files.newImage = value(a, "new");
    files.boot = value(a, "boot");
    files.nv1 = value(a, "nv1");
    files.nv2 = value(a, "nv2");
    files.method = static_cast<int>(method);
    const bool cuts = hasFlag(a, "power-cuts");
    DeviceRunResult result;
    if (!device_run_files(files, flash, cuts, result, error)) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    const std::string report = hasFlag(a, "json") ? device_run_json(result, files.package, cuts)
                                                  : device_run_text(result, files.package, cuts);
    std::fputs(report.c_str(), stdout);
    return result.completed && result.total.matches != 0 ? kExitOk : kExitFail;
}

// The board a table is for, from the table's own entries: ZN3150 tables name "cpu1", KLM4410
// tables "cpu". KLM4410 when they name neither.
int boardOfEntries(const std::vector<PartEntry> &parts)
{
    for (const PartEntry &e : parts)
        if (std::strncmp(e.name, "cpu1", kPartNameSize) == 0)
            return kBoardZN3150;
    return kBoardKLM4410;
}

// Writes `bytes` to a private file beside `path` and renames it into place. An existing path
// that is not a regular file is left alone.
bool writeFileInPlace(const std::string &path, const std::vector<uint8_t> &bytes,
                      std::string &error)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + " exists and is not a regular file: it is left alone";
        return false;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(&temp[0]);
    if (fd < 0) {
        error = "cannot write beside " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    // mkstemp makes the file 0600; tables are shared like packages.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ok && ::fchmod(fd, 0644 & ~mask) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// info --html: the picture of the package as one self-contained page.
int cmdInfoHtml(const Args &a, long long method)
{
    if (hasFlag(a, "json"))
        return usage(kInfoHelp, "--json and --html do not go together");
    const std::string out = value(a, "html");
    if (out.empty())
        return usage(kInfoHelp, "--html needs an output file");
    std::string error;
    FlashProfile flash = flash_profiles().front();
    if (a.values.count("flash") && !flash_profile_parse(value(a, "flash"), flash, error))
        return usage(kInfoHelp, "--flash: " + error);
    DeviceRunFiles files;
    files.package = a.positional[0];
    files.partition = value(a, "partition");
    files.oldImage = value(a, "old");
    files.newImage = value(a, "new");
    files.boot = value(a, "boot");
    files.nv1 = value(a, "nv1");
    files.nv2 = value(a, "nv2");
    files.method = static_cast<int>(method);
    PackagePicture picture;
    if (!package_picture_files(files, flash, picture, error)) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    const std::string page = package_picture_html(picture);
    if (!writeFileInPlace(out, std::vector<uint8_t>(page.begin(), page.end()), error)) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    std::printf("wrote %s\n", out.c_str());
    return kExitOk;
}

// The board a table is read and checked for: the one --board names, else the one the table's
// own entries point to ("cpu1" means ZN3150, any other KLM4410), said on standard output.
int tableBoard(int named, const std::vector<PartEntry> &own)
{
    if (named != kBoardUnknown)
        return named;
    const int type = boardOfEntries(own);
    std::printf("board: %s (worked out from the table; --board sets it)\n",
                type == kBoardZN3150 ? "ZN3150" : "KLM4410");
    return type;
}

// What the builder refuses in a parsed table, one line each in its own words; true when sound.
bool reportTableFaults(const std::vector<PartEntry> &parts, int board, FILE *out,
                       const char *prefix)
{
    const std::vector<std::string> faults = detail::check_part_table(parts, board);
    for (const std::string &fault : faults)
        std::fprintf(out, "%s%s", prefix, terminalSafe(fault, true).c_str());
    return faults.empty();
}

// partitions --create: writes only a table the builder takes. Each name is given once and
// prints as it is; the written table, read back as the builder reads it (with the board's
// predefined entries), passes the builder's own check of the table.
int cmdPartitionsCreate(const Args &a, int board)
{
    const std::string create = value(a, "create");
    if (a.positional.empty())
        return usage(kPartitionsHelp, "--create needs at least one NAME:ADDR:SIZE");
    std::vector<Samples::PartitionSpec> parts;
    for (const std::string &spec : a.positional) {
        const size_t c1 = spec.find(':');
        const size_t c2 = c1 == std::string::npos ? c1 : spec.find(':', c1 + 1);
        long long addr = 0;
        long long size = 0;
        if (c2 == std::string::npos || spec.find(':', c2 + 1) != std::string::npos ||
            !parseInt(spec.substr(c1 + 1, c2 - c1 - 1), 0, UINT32_MAX, addr) ||
            !parseInt(spec.substr(c2 + 1), 0, UINT32_MAX, size))
            return usage(kPartitionsHelp, "bad partition \"" + terminalSafe(spec) +
                                              "\", expected NAME:ADDR:SIZE");
        const std::string name = spec.substr(0, c1);
        if (!isTerminalSafe(name))
            return usage(kPartitionsHelp, "partition name \"" + terminalSafe(name) +
                                              "\" holds control characters or bytes that are "
                                              "not UTF-8");
        for (const Samples::PartitionSpec &earlier : parts)
            if (earlier.name == name) // the reader would keep the first and skip this one
                return usage(kPartitionsHelp, "partition name \"" + name + "\" is given twice");
        parts.push_back({name, static_cast<uint32_t>(addr), static_cast<uint32_t>(size)});
    }
    std::string error;
    std::vector<uint8_t> table;
    if (!Samples::makePartitionTable(parts, table, error))
        return usage(kPartitionsHelp, error);
    std::vector<PartEntry> read;
    if (!detail::parse_part_table(table.data(), table.size(), kBoardKLM4410, read, error)) {
        std::fprintf(stderr, "deltamaker: %s", terminalSafe(error, true).c_str());
        return kExitFail;
    }
    board = tableBoard(board, read);
    if (!detail::parse_part_table(table.data(), table.size(), board, read, error)) {
        std::fprintf(stderr, "deltamaker: %s", terminalSafe(error, true).c_str());
        return kExitFail;
    }
    if (!reportTableFaults(read, board, stderr, "deltamaker: ")) {
        std::fprintf(stderr, "deltamaker: %s not written: the builder refuses this table\n",
                     create.c_str());
        return kExitFail;
    }
    if (!writeFileInPlace(create, table, error)) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    std::printf("wrote %s with %zu partitions\n", create.c_str(), parts.size());
    return kExitOk;
}

int cmdPartitions(int argc, char **argv)
{
    Args a;
    std::string error;
    if (!parseArgs(argc, argv, 2, {"board", "create"}, {}, a, error))
        return usage(kPartitionsHelp, error);
    if (a.help) {
        std::fputs(kPartitionsHelp, stdout);
        return kExitOk;
    }
    const std::string board = value(a, "board");
    int type = kBoardUnknown;
    if (board == "zn3150" || board == "ZN3150")
        type = kBoardZN3150;
    else if (board == "klm4410" || board == "KLM4410")
        type = kBoardKLM4410;
    else if (!board.empty())
        return usage(kPartitionsHelp, "unknown board " + board);
    if (!value(a, "create").empty())
        return cmdPartitionsCreate(a, type);
    if (a.positional.size() != 1)
        return usage(kPartitionsHelp, a.positional.empty() ? "a partition table file is required"
                                                           : "only one table file is allowed");
    std::vector<uint8_t> table;
    // Larger than a table, so that a wrong size is reported by the table's own check.
    if (!detail::read_file_bytes(a.positional[0], table, error, 1 << 20)) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    // The table's own entries, without a board's predefined ones. Erased space ends the records,
    // so an erased file, like most files that are no table, reads as a table of none.
    std::vector<PartEntry> own;
    if (detail::parse_part_table(table.data(), table.size(), kBoardKLM4410, own, error) &&
        own.empty()) {
        std::printf("error: %s holds no partition entry: it is erased or not a partition table\n",
                    terminalSafe(a.positional[0]).c_str());
        return kExitFail;
    }
    type = tableBoard(type, own);
    std::vector<PartEntry> parts;
    error.clear();
    const bool ok = detail::parse_part_table(table.data(), table.size(), type, parts, error);
    std::printf("%-16s %-10s %-10s\n", "name", "address", "size");
    for (const PartEntry &e : parts)
        std::printf("%-16s 0x%08x 0x%08x\n",
                    terminalSafe(std::string(e.name, strnlen(e.name, kPartNameSize))).c_str(),
                    e.addr, e.size);
    if (!ok) {
        std::printf("error: %s", terminalSafe(error, true).c_str());
        return kExitFail;
    }
    // What every build on this table would refuse.
    return reportTableFaults(parts, type, stdout, "error: ") ? kExitOk : kExitFail;
}

int cmdSamples(int argc, char **argv)
{
    Args a;
    std::string error;
    if (!parseArgs(argc, argv, 2, {}, {}, a, error))
        return usage(kSamplesHelp, error);
    if (a.help) {
        std::fputs(kSamplesHelp, stdout);
        return kExitOk;
    }
    if (a.positional.size() != 1)
        return usage(kSamplesHelp, "one output folder is required");
    std::vector<Samples::WrittenSample> written;
    const bool ok = Samples::writeBoardSamples(a.positional[0], written, error);
    for (const Samples::WrittenSample &w : written)
        std::printf("%-40s %s\n", w.path.c_str(), w.description.c_str());
    if (!ok) {
        std::fprintf(stderr, "deltamaker: %s\n", error.c_str());
        return kExitFail;
    }
    return kExitOk;
}

// glibc raises its mmap threshold each time a large mapped buffer is freed (up to 32 MiB), after
// which the multi-megabyte buffers of a build come from the heap and stay resident once freed:
// every stage's peak then stacks on the stages before it. Fixing the threshold at glibc's own
// starting value keeps large buffers mapped, so freeing one gives it back at once. Set here,
// for this program only: the plug-in leaves its host's allocator as it is.
void keepLargeBuffersMapped()
{
#ifdef __GLIBC__
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}
} // namespace

int main(int argc, char **argv)
{
    keepLargeBuffersMapped();
    if (argc < 2)
        return usage(kMainHelp, "a command is required");
    const std::string cmd = argv[1];
    if (isHelp(cmd) || cmd == "help") {
        std::fputs(kMainHelp, stdout);
        return kExitOk;
    }
    if (cmd == "build")
        return cmdBuild(argc, argv);
    if (cmd == "info")
        return cmdInfo(argc, argv);
    if (cmd == "verify")
        return cmdVerify(argc, argv);
    if (cmd == "simulate")
        return cmdSimulate(argc, argv);
    if (cmd == "partitions")
        return cmdPartitions(argc, argv);
    if (cmd == "samples")
        return cmdSamples(argc, argv);
    return usage(kMainHelp, "unknown command " + cmd);
}
