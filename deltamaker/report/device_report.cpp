#include "deltamaker/report/device_report.h"

#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/io/whole_file.h"

#include <cstdio>

using deltamaker::detail::format_text;

const char *const kResumeModelText =
    "The loader keeps, in storage that survives a power cut, the index of the last step it "
    "finished (a block record, a stored image, the image stream, a relocation move or a window "
    "write), and after a cut it runs again from the first unfinished step over what the flash "
    "then holds. A step is unsafe when a cut inside it can make that rerun end in a wrong "
    "image: it reads bytes its own write has changed or erased, the bytes its window is built "
    "from change before the window is written, or it erases bytes beside its range that are "
    "still needed.";

namespace {

struct Loaded {
    std::vector<uint8_t> pkg, table, oldImage, newImage, boot, nv1, nv2;
};

bool load(const std::string &path, const char *what, std::vector<uint8_t> &out,
          DeviceImage *image, uint64_t max, std::string &error)
{
    if (path.empty())
        return true;
    std::string why;
    if (!deltamaker::detail::read_file_bytes(path, out, why, max)) {
        error = std::string("cannot read the ") + what + ": " + why;
        return false;
    }
    if (image) {
        image->data = out.data();
        image->size = out.size();
        image->given = true;
    }
    return true;
}

std::string kib(uint64_t bytes) { return format_text("%.1f KiB", double(bytes) / 1024.0); }

std::string seconds(double ms) { return format_text("%.2f s", ms / 1000.0); }

std::string matchText(int matches)
{
    return matches > 0 ? "matches" : matches == 0 ? "DIFFERS" : "not compared";
}

const char *boolText(bool b) { return b ? "true" : "false"; }

std::string triState(int v) { return v > 0 ? "true" : v == 0 ? "false" : "null"; }

std::string number(double v) { return format_text("%.3f", v); }

} // namespace

std::string json_quote(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += format_text("\\u%04x", c);
        } else {
            out += static_cast<char>(c); // UTF-8 passes as it is
        }
    }
    return out + "\"";
}

bool device_run_files(const DeviceRunFiles &files, const FlashProfile &flash, bool powerCuts,
                      DeviceRunResult &result, std::string &error,
                      const std::vector<PartEntry> *parts)
{
    using deltamaker::detail::kMaxInputFile;
    using deltamaker::detail::kMaxPackageFile;
    Loaded d;
    DeviceRunInputs in;
    in.flash = flash;
    in.powerCuts = powerCuts;
    in.method = files.method;
    in.requireOld = files.requireOld;
    if (!load(files.package, "package", d.pkg, nullptr, kMaxPackageFile, error) ||
        !load(files.partition, "partition table", d.table, nullptr, kPartTableFileSize, error) ||
        !load(files.oldImage, "old image", d.oldImage, &in.oldImage, kMaxInputFile, error) ||
        !load(files.newImage, "new image", d.newImage, &in.newImage, kMaxInputFile, error) ||
        !load(files.boot, "boot image", d.boot, &in.boot, kMaxInputFile, error) ||
        !load(files.nv1, "first NV file", d.nv1, &in.nv1, kMaxInputFile, error) ||
        !load(files.nv2, "second NV file", d.nv2, &in.nv2, kMaxInputFile, error))
        return false;
    PackageInfo info;
    std::vector<std::string> findings;
    if (!package_read(d.pkg.data(), d.pkg.size(), info, findings, files.method)) {
        error = "the package cannot be read: " + (findings.empty() ? "" : findings.front());
        return false;
    }
    const bool z = info.layout == PackageLayout::Z1 || info.layout == PackageLayout::Z3;
    std::string why;
    if (files.partition.empty() && parts) {
        in.parts = *parts;
    } else if (files.partition.empty()) {
        error = "no partition table given";
        return false;
    } else if (!deltamaker::detail::parse_part_table(d.table.data(), d.table.size(),
                                                     z ? kBoardZN3150 : kBoardKLM4410, in.parts,
                                                     why)) {
        error = "partition table: " + why.substr(0, why.find('\n'));
        return false;
    }
    return device_run(d.pkg.data(), d.pkg.size(), in, result, error);
}

std::string device_run_text(const DeviceRunResult &r, const std::string &package, bool powerCuts)
{
    std::string s;
    s += format_text("package:  %s (%s)\n", package.c_str(), package_layout_name(r.layout));
    s += format_text("flash:    %s: erase unit %u bytes %g ms, program unit %u bytes %g ms, "
                     "read %g MB/s\n",
                     r.flash.name.c_str(), r.flash.eraseUnit, r.flash.eraseMs,
                     r.flash.programUnit, r.flash.programMs, r.flash.readMBps);
    if (!r.flash.note.empty())
        s += "          (" + r.flash.note + ")\n";
    s += format_text("\n%-9s %-9s %-10s %9s %6s %7s %11s %10s %6s %9s %10s  %s\n", "image",
                     "partition", "address", "size", "steps", "erased", "programmed", "moved",
                     "wear", "time", "RAM", "result");
    const auto row = [&s](const DeviceImageResult &x, bool total) {
        s += format_text("%-9s %-9s %-10s %9llu %6llu %7llu %11llu %10llu %6llu %9s %10s  %s\n",
                         x.image.c_str(), total ? "" : x.partition.c_str(),
                         total ? "" : format_text("0x%08llx", (unsigned long long)x.addr).c_str(),
                         (unsigned long long)x.size, (unsigned long long)x.steps,
                         (unsigned long long)x.sectorsErased, (unsigned long long)x.bytesProgrammed,
                         (unsigned long long)x.bytesMoved, (unsigned long long)x.maxEraseCount,
                         seconds(x.ms).c_str(), kib(x.peakRam).c_str(),
                         matchText(x.matches).c_str());
    };
    for (const DeviceImageResult &x : r.images)
        row(x, false);
    row(r.total, true);
    s += "\n(erased: erase units; programmed: bytes; moved: bytes relocated in place; wear: the "
         "most erases of any one unit; RAM: the loader's peak)\n";
    if (!r.oldGiven)
        s += "no old image given: the flash starts erased, and the result is not the device's\n";
    for (const std::string &n : r.notes)
        s += "note: " + n + "\n";
    if (!powerCuts)
        return s;
    s += "\npower cuts: " + std::string(kResumeModelText) + "\n\n";
    uint64_t unsafe = 0;
    for (size_t i = 0; i < r.steps.size(); ++i) {
        const DeviceStep &st = r.steps[i];
        if (!st.unsafe)
            continue;
        if (unsafe++ == 0)
            s += format_text("%-6s %-20s %-9s %-23s %-23s %9s  %s\n", "step", "what", "partition",
                             "writes", "bytes at risk in", "at risk", "why");
        s += format_text("%-6zu %-20s %-9s 0x%08llx..0x%08llx 0x%08llx..0x%08llx %9llu  %s\n", i,
                         st.what.c_str(), st.partition.c_str(), (unsigned long long)st.addr,
                         (unsigned long long)(st.addr + st.len), (unsigned long long)st.riskAddr,
                         (unsigned long long)st.riskEnd, (unsigned long long)st.bytesAtRisk,
                         st.reason.c_str());
    }
    s += format_text("summary: %zu steps, %llu unsafe, %llu bytes at risk%s\n", r.steps.size(),
                     (unsigned long long)unsafe, (unsigned long long)r.total.bytesAtRisk,
                     r.completed ? "" : " (the run stopped early)");
    return s;
}

namespace {

std::string imageJson(const DeviceImageResult &x, bool total)
{
    std::string s = "{";
    if (!total)
        s += format_text("\"image\": %s, \"partition\": %s, \"partition_address\": %llu, "
                         "\"partition_size\": %llu, \"address\": %llu, ",
                         json_quote(x.image).c_str(), json_quote(x.partition).c_str(),
                         (unsigned long long)x.partAddr, (unsigned long long)x.partSize,
                         (unsigned long long)x.addr);
    s += format_text("\"size\": %llu, \"steps\": %llu, \"sectors_erased\": %llu, "
                     "\"bytes_programmed\": %llu, \"bytes_moved\": %llu, "
                     "\"max_erase_count\": %llu, \"bytes_read\": %llu, \"time_ms\": %s, "
                     "\"peak_ram\": %llu, \"unsafe_steps\": %llu, \"bytes_at_risk\": %llu, ",
                     (unsigned long long)x.size, (unsigned long long)x.steps,
                     (unsigned long long)x.sectorsErased, (unsigned long long)x.bytesProgrammed,
                     (unsigned long long)x.bytesMoved, (unsigned long long)x.maxEraseCount,
                     (unsigned long long)x.bytesRead, number(x.ms).c_str(),
                     (unsigned long long)x.peakRam, (unsigned long long)x.unsafeSteps,
                     (unsigned long long)x.bytesAtRisk);
    if (!total)
        s += format_text("\"sha256\": \"%s\", \"expected_sha256\": %s, ", x.sha256.c_str(),
                         x.expectedSha256.empty() ? "null"
                                                  : json_quote(x.expectedSha256).c_str());
    s += "\"matches\": " + triState(x.matches) + "}";
    return s;
}

std::string stepJson(size_t i, const DeviceStep &st, bool analysed)
{
    std::string s = format_text(
        "{\"step\": %zu, \"kind\": \"%s\", \"what\": %s, \"partition\": %s, \"window\": %s, "
        "\"move\": %s, \"record\": %s, \"patched\": %s, \"address\": %llu, \"length\": %llu, "
        "\"source\": %s, \"erases\": %llu, \"programs\": %llu, \"bytes_read\": %llu, "
        "\"time_ms\": %s, \"ram\": %llu, ",
        i, device_step_kind_name(st.kind), json_quote(st.what).c_str(),
        json_quote(st.partition).c_str(),
        st.window < 0 ? "null" : std::to_string(st.window).c_str(),
        st.move < 0 ? "null" : std::to_string(st.move).c_str(),
        st.record < 0 ? "null" : std::to_string(st.record).c_str(), boolText(st.patched),
        (unsigned long long)st.addr, (unsigned long long)st.len,
        st.kind == DeviceStepKind::Move ? std::to_string(st.src).c_str() : "null",
        (unsigned long long)st.erases, (unsigned long long)st.programs,
        (unsigned long long)st.bytesRead, number(st.ms).c_str(), (unsigned long long)st.ram);
    if (!analysed)
        return s + "\"unsafe\": null}";
    s += format_text("\"unsafe\": %s", boolText(st.unsafe));
    if (st.unsafe)
        s += format_text(", \"risk_address\": %llu, \"risk_end\": %llu, \"bytes_at_risk\": %llu, "
                         "\"reason\": %s",
                         (unsigned long long)st.riskAddr, (unsigned long long)st.riskEnd,
                         (unsigned long long)st.bytesAtRisk, json_quote(st.reason).c_str());
    return s + "}";
}

} // namespace

std::string device_run_json(const DeviceRunResult &r, const std::string &package, bool powerCuts)
{
    std::string s = "{\n";
    s += format_text("  \"version\": %d,\n  \"package\": %s,\n  \"layout\": \"%s\",\n",
                     kDeviceRunJsonVersion, json_quote(package).c_str(),
                     package_layout_name(r.layout));
    s += format_text("  \"flash\": {\"profile\": %s, \"erase_unit\": %u, \"program_unit\": %u, "
                     "\"erase_ms\": %s, \"program_ms\": %s, \"read_mbps\": %s, \"note\": %s},\n",
                     json_quote(r.flash.name).c_str(), r.flash.eraseUnit, r.flash.programUnit,
                     number(r.flash.eraseMs).c_str(), number(r.flash.programMs).c_str(),
                     number(r.flash.readMBps).c_str(), json_quote(r.flash.note).c_str());
    s += format_text("  \"old_image\": %s,\n  \"completed\": %s,\n  \"matches\": %s,\n",
                     boolText(r.oldGiven), boolText(r.completed),
                     triState(r.total.matches).c_str());
    s += "  \"images\": [";
    for (size_t i = 0; i < r.images.size(); ++i)
        s += (i ? ",\n    " : "\n    ") + imageJson(r.images[i], false);
    s += r.images.empty() ? "],\n" : "\n  ],\n";
    s += "  \"total\": " + imageJson(r.total, true) + ",\n";
    s += "  \"notes\": [";
    for (size_t i = 0; i < r.notes.size(); ++i)
        s += (i ? ", " : "") + json_quote(r.notes[i]);
    s += "],\n";
    if (powerCuts && r.analysed) {
        uint64_t unsafe = 0;
        for (const DeviceStep &st : r.steps)
            unsafe += st.unsafe ? 1 : 0;
        s += format_text("  \"power_cuts\": {\"model\": %s, \"steps\": %zu, \"unsafe_steps\": "
                         "%llu, \"bytes_at_risk\": %llu, \"unsafe\": [",
                         json_quote(kResumeModelText).c_str(), r.steps.size(),
                         (unsigned long long)unsafe, (unsigned long long)r.total.bytesAtRisk);
        bool first = true;
        for (size_t i = 0; i < r.steps.size(); ++i)
            if (r.steps[i].unsafe) {
                s += (first ? "\n    " : ",\n    ") + stepJson(i, r.steps[i], true);
                first = false;
            }
        s += first ? "]},\n" : "\n  ]},\n";
    } else {
        s += "  \"power_cuts\": null,\n";
    }
    s += "  \"steps\": [";
    for (size_t i = 0; i < r.steps.size(); ++i)
        s += (i ? ",\n    " : "\n    ") + stepJson(i, r.steps[i], r.analysed);
    s += r.steps.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return s;
}
