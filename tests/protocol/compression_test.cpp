#include "capture.h"
#include "compression.h"

#include "flashmate/errors.h"
#include "sim/image.h"
#include "sim/lzma_unpack.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t Le(const uint8_t* p, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The SDK's own decoder, as a separate program on files.
bool SdkDecode(const Bytes& stream, Bytes* out)
{
    const std::string base = ::testing::TempDir() + "flashmate_compression_" + std::to_string(::getpid());
    WriteFile(base + ".lzma", stream);
    const std::string command = "lzma_alone d '" + base + ".lzma' '" + base + ".out' >/dev/null 2>&1";
    const bool ran = std::system(command.c_str()) == 0;
    *out = ReadFile(base + ".out");
    std::remove((base + ".lzma").c_str());
    std::remove((base + ".out").c_str());
    return ran;
}

struct CompressibleCase {
    const char* name;
    Bytes data;
};

class CompressibleTest : public ::testing::TestWithParam<CompressibleCase> {};

TEST_P(CompressibleTest, BothIndependentDecodersGiveTheDataBack)
{
    const Bytes& data = GetParam().data;
    Bytes buffer = data;
    uint32_t compressed = 0;
    ASSERT_EQ(CompressForTransfer(buffer.data(), static_cast<uint32_t>(buffer.size()), buffer.data(), &compressed), 0);
    ASSERT_LE(compressed, data.size());
    ASSERT_GT(compressed, sim::kLzmaHeaderSize);
    const Bytes stream(buffer.begin(), buffer.begin() + compressed);

    EXPECT_EQ(stream[0], 0x6C) << "lc 0, lp 2, pb 2";
    EXPECT_EQ(Le(&stream[1], 4), 1u << 23);
    EXPECT_EQ(Le(&stream[5], 8), data.size()) << "the real size, not 'unknown'";
    // Behind the stream the buffer still holds the data's tail.
    EXPECT_TRUE(std::equal(buffer.begin() + compressed, buffer.end(), data.begin() + compressed));

    Bytes strict;
    EXPECT_TRUE(sim::UnpackLzma(stream, static_cast<uint32_t>(data.size()), &strict));
    EXPECT_TRUE(strict == data);
    Bytes sdk;
    EXPECT_TRUE(SdkDecode(stream, &sdk));
    EXPECT_TRUE(sdk == data);
}

Bytes Text(size_t count)
{
    const std::string line = "Channel list entry: 11.766 GHz H 27500 3/4\n";
    Bytes bytes;
    while (bytes.size() < count) {
        bytes.insert(bytes.end(), line.begin(), line.end());
    }
    bytes.resize(count);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CompressibleTest,
    ::testing::Values(CompressibleCase{"firmware_like_300_kib", sim::FirmwareLikeBytes(300 * 1024, 11)},
                      CompressibleCase{"erased_flash", Bytes(64 * 1024, 0xFF)},
                      CompressibleCase{"text", Text(10000)},
                      CompressibleCase{"tiny", Bytes(40, 'a')}),
    testsupport::CaseName());

struct PlainCase {
    const char* name;
    Bytes data;
};

class PlainTest : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainTest, DataThatDoesNotShrinkStaysUntouched)
{
    const Bytes& data = GetParam().data;
    Bytes buffer = data;
    uint32_t compressed = 12345;
    EXPECT_NE(CompressForTransfer(buffer.data(), static_cast<uint32_t>(buffer.size()), buffer.data(), &compressed), 0);
    EXPECT_EQ(compressed, data.size());
    EXPECT_TRUE(buffer == data);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PlainTest,
                         ::testing::Values(PlainCase{"random_64_kib", sim::RandomBytes(64 * 1024, 5)},
                                           PlainCase{"empty", Bytes{}},
                                           PlainCase{"one_byte", Bytes{0x41}},
                                           PlainCase{"thirteen_zeros", Bytes(13, 0)},
                                           PlainCase{"twenty_random", sim::RandomBytes(20, 9)}),
                         testsupport::CaseName());

// The receiver's strict unpacking would be worthless if it let an end marker through.
TEST(ReceiverUnpack, RefusesAStreamWithAnEndMarker)
{
    const Bytes data = Text(5000);
    lzma_options_lzma options;
    ASSERT_FALSE(lzma_lzma_preset(&options, 6));
    options.lc = 0;
    options.lp = 2;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes stream(sim::kLzmaHeaderSize + data.size() + 1024);
    size_t position = sim::kLzmaHeaderSize;
    ASSERT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), stream.data(), &position,
                                     stream.size()),
              LZMA_OK);
    stream.resize(position);
    stream[0] = 0x6C;
    for (int i = 0; i < 4; ++i) {
        stream[1 + i] = static_cast<uint8_t>(options.dict_size >> (8 * i));
    }
    for (int i = 0; i < 8; ++i) {
        stream[5 + i] = static_cast<uint8_t>(static_cast<uint64_t>(data.size()) >> (8 * i));
    }
    Bytes out;
    EXPECT_FALSE(sim::UnpackLzma(stream, static_cast<uint32_t>(data.size()), &out));
    EXPECT_TRUE(SdkDecode(stream, &out)) << "the SDK's decoder is lenient";
    EXPECT_TRUE(out == data);
}

}  // namespace
