// Helpers of the builder tests: temporary files, a recording sink and crafted inputs.
#pragma once

#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <QTemporaryDir>

namespace BuilderTest {

inline bool sanitized() { return std::getenv("TESSEL_SANITIZE") != nullptr; }

inline std::vector<uint8_t> readBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool exists(const std::string &path) { return std::ifstream(path).good(); }

inline uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

inline void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Deterministic bytes: `entropy` bits of noise per byte (8 = incompressible).
inline std::vector<uint8_t> noise(uint32_t seed, size_t size, int entropy = 8)
{
    std::vector<uint8_t> out(size);
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < size; ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        out[i] = static_cast<uint8_t>((s >> 24) & ((1u << entropy) - 1));
    }
    return out;
}

// A compressible image with a ZN3150 version trailer.
inline std::vector<uint8_t> zn3150Image(uint32_t seed, size_t size, const char *version)
{
    std::vector<uint8_t> img = noise(seed, size, 3);
    Samples::stampZn3150(img, version);
    return img;
}

// A compressible image with a KLM4410 header (version and method byte).
inline std::vector<uint8_t> klm4410Image(uint32_t seed, size_t size, const char *version, uint8_t code)
{
    std::vector<uint8_t> img = noise(seed, size, 3);
    Samples::stampKlm4410(img, version, code);
    return img;
}

// Collects every builder message while alive.
class SinkRecorder {
public:
    SinkRecorder()
    {
        fota_set_log_sink([this](int level, const char *text) { lines.emplace_back(level, text); });
    }
    ~SinkRecorder() { fota_set_log_sink(nullptr); }
    bool has(int level, const std::string &text) const
    {
        for (const auto &l : lines)
            if (l.first == level && l.second == text)
                return true;
        return false;
    }
    bool hasText(const std::string &text) const
    {
        for (const auto &l : lines)
            if (l.second == text)
                return true;
        return false;
    }
    std::string joined() const
    {
        std::string s;
        for (const auto &l : lines)
            s += std::to_string(l.first) + " " + l.second;
        return s;
    }
    std::vector<std::pair<int, std::string>> lines;
};

// A test with a temporary folder for its files.
class FolderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string path(const std::string &name) const
    {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    // Writes `bytes` to the file `name` in the folder; its path.
    std::string file(const std::string &name, const std::vector<uint8_t> &bytes) const
    {
        writeBytes(path(name), bytes);
        return path(name);
    }
    QTemporaryDir dir;
};

// A request with the given paths ("" = none).
inline PackRequest request(int method, const std::string &partition, const std::string &newPath,
                           const std::string &oldPath, const std::string &output,
                           const std::string &boot = "", const std::string &nv1 = "",
                           const std::string &nv2 = "")
{
    PackRequest r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.partition_path, partition.c_str(), 255);
    std::strncpy(r.new_path, newPath.c_str(), 255);
    std::strncpy(r.old_path, oldPath.c_str(), 255);
    std::strncpy(r.boot_path, boot.c_str(), 255);
    std::strncpy(r.nv1_path, nv1.c_str(), 255);
    std::strncpy(r.nv2_path, nv2.c_str(), 255);
    r.method = method;
    r.output_path = output.c_str();
    return r;
}

} // namespace BuilderTest
