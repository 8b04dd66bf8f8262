// Packages of every method of both boards built from image pairs, for the device-run tests.
#pragma once

#include "deltamaker/builder/fota.h"
#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/device_sim.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace DeviceTest {

using Bytes = std::vector<uint8_t>;

inline Bytes readBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Method {
    bool zn;
    int method;
};
const Method kMethods[] = {{false, 0}, {false, 1}, {false, 2}, {false, 3},
                           {false, 4}, {true, 1},  {true, 3}};

inline std::string methodName(const Method &m)
{
    return std::string(m.zn ? "ZN3150" : "KLM4410") + " method " + std::to_string(m.method);
}

// Partitions of both boards, large enough for every test pair.
constexpr uint32_t kZCpu1Addr = 0x8000, kZCpu1Size = 0x200000;
constexpr uint32_t kZNvUsrAddr = 0x300000, kZNvUsrSize = 0x8000;
constexpr uint32_t kZNvAmtAddr = 0x308000, kZNvAmtSize = 0x4000;
constexpr uint32_t kKBootAddr = 0, kKBootSize = 0x40000;
constexpr uint32_t kKCpuAddr = 0x40000, kKCpuSize = 0x400000;

// A package and the inputs it was built from.
struct Built {
    Bytes pkg;
    Bytes oldImage, newImage, boot, nv1, nv2;
    std::vector<PartEntry> parts;
    std::string error; // empty: built

    DeviceRunInputs inputs(const FlashProfile &flash, bool powerCuts) const
    {
        DeviceRunInputs in;
        in.parts = parts;
        in.flash = flash;
        in.powerCuts = powerCuts;
        const auto give = [](const Bytes &b, DeviceImage &img) {
            if (b.empty())
                return;
            img.data = b.data();
            img.size = b.size();
            img.given = true;
        };
        give(oldImage, in.oldImage);
        give(newImage, in.newImage);
        give(boot, in.boot);
        give(nv1, in.nv1);
        give(nv2, in.nv2);
        return in;
    }
};

// Builds packages in a temporary folder through fota_make_package.
class PackageBench {
public:
    PackageBench()
    {
        dir_ = tmp_.path().toStdString() + "/";
        Bytes t;
        std::string error;
        EXPECT_TRUE(Samples::makePartitionTable({{"cpu1", kZCpu1Addr, kZCpu1Size},
                                                 {"data_ota", kZCpu1Addr + kZCpu1Size, 0x80000},
                                                 {"nv_usr", kZNvUsrAddr, kZNvUsrSize},
                                                 {"nv_amt", kZNvAmtAddr, kZNvAmtSize}},
                                                t, error))
            << error;
        writeBytes(path("z.part"), t);
        detail_parse(t, kBoardZN3150, zParts_);
        EXPECT_TRUE(Samples::makePartitionTable(
            {{"uboot", kKBootAddr, kKBootSize}, {"cpu", kKCpuAddr, kKCpuSize}}, t, error))
            << error;
        writeBytes(path("k.part"), t);
        detail_parse(t, kBoardKLM4410, kParts_);
    }

    std::string path(const std::string &name) const { return dir_ + name; }

    // Stamps the images for the board and method, writes the inputs and builds. Boot and NV
    // files are passed where the method takes them.
    Built build(const Method &m, Bytes oldImg, Bytes newImg, const Bytes &boot = Bytes(),
                const Bytes &nv1 = Bytes(), const Bytes &nv2 = Bytes(), bool powerSafe = false)
    {
        Built b;
        if (m.zn) {
            Samples::stampZn3150(oldImg, "1.0.0");
            Samples::stampZn3150(newImg, "1.0.1");
        } else {
            Samples::stampKlm4410(oldImg, "KLM_1.0", m.method == 2 ? 0x82 : 0x42);
            Samples::stampKlm4410(newImg, "KLM_1.1", m.method == 2 ? 0x82 : 0x42);
        }
        const bool takesOld = m.method != 0 && m.method != 4;
        b.oldImage = takesOld ? oldImg : Bytes();
        b.newImage = newImg;
        b.boot = m.zn && m.method == 3 ? Bytes() : boot;
        b.nv1 = m.zn && m.method == 1 ? nv1 : Bytes();
        b.nv2 = m.zn && m.method == 1 ? nv2 : Bytes();
        b.parts = m.zn ? zParts_ : kParts_;
        writeBytes(path("old.bin"), b.oldImage);
        writeBytes(path("new.bin"), b.newImage);
        writeBytes(path("boot.bin"), b.boot);
        writeBytes(path("nv1.bin"), b.nv1);
        writeBytes(path("nv2.bin"), b.nv2);
        PackRequest r;
        std::memset(&r, 0, sizeof r);
        const auto set = [](char (&field)[256], const std::string &p) {
            std::strncpy(field, p.c_str(), 255);
        };
        set(r.partition_path, path(m.zn ? "z.part" : "k.part"));
        set(r.new_path, path("new.bin"));
        if (takesOld)
            set(r.old_path, path("old.bin"));
        if (!b.boot.empty())
            set(r.boot_path, path("boot.bin"));
        if (!b.nv1.empty())
            set(r.nv1_path, path("nv1.bin"));
        if (!b.nv2.empty())
            set(r.nv2_path, path("nv2.bin"));
        r.method = m.method;
        r.threads = 1;
        r.powerSafe = powerSafe ? 1 : 0;
        const std::string out = path("out.pkg");
        r.output_path = out.c_str();
        std::string messages;
        fota_set_log_sink([&messages](int level, const char *text) {
            if (level == FOTA_LOG_ERROR)
                messages += text;
        });
        const int rc = fota_make_package(r);
        fota_set_log_sink(nullptr);
        if (rc != 0)
            b.error = "build failed: " + messages;
        else
            b.pkg = readBytes(out);
        return b;
    }

private:
    static void detail_parse(const Bytes &table, int board, std::vector<PartEntry> &out)
    {
        std::string error;
        EXPECT_TRUE(deltamaker::detail::parse_part_table(table.data(), table.size(), board, out,
                                                         error))
            << error;
    }

    QTemporaryDir tmp_;
    std::string dir_;
    std::vector<PartEntry> zParts_, kParts_;
};

} // namespace DeviceTest
