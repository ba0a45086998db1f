#include "flashmate/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TEST(Crc32, CheckValueOfTheNineDigits)
{
    const char digits[] = "123456789";
    EXPECT_EQ(Crc32Compute(Crc32Start, digits, 9), 0x0376E6E7u);
    EXPECT_EQ(Crc32Bitwise(Crc32Start, reinterpret_cast<const uint8_t*>(digits), 9), 0x0376E6E7u);
}

TEST(Crc32, EmptyOrNegativeLengthReturnsTheStart)
{
    EXPECT_EQ(Crc32Compute(Crc32Start, nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Compute(0x12345678u, "abc", -3), 0x12345678u);
}

TEST(Crc32, TableEntriesFollowThePolynomial)
{
    const uint32_t* table = Crc32Table();
    EXPECT_EQ(table[0], 0u);
    EXPECT_EQ(table[1], 0x04C11DB7u);
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t zero = 0;
        ASSERT_EQ(table[i], Crc32Bitwise(i << 24, &zero, 1)) << i;
    }
}

TEST(Crc32, ChainingOver1024BytePiecesEqualsOneCall)
{
    std::mt19937 random(7);
    std::vector<uint8_t> data(5000);
    for (auto& b : data) {
        b = static_cast<uint8_t>(random());
    }
    uint32_t chained = Crc32Start;
    for (size_t offset = 0; offset < data.size(); offset += 1024) {
        const size_t piece = std::min<size_t>(1024, data.size() - offset);
        chained = Crc32Compute(chained, data.data() + offset, static_cast<int32_t>(piece));
    }
    EXPECT_EQ(chained, Crc32Compute(Crc32Start, data.data(), static_cast<int32_t>(data.size())));
}

TEST(Crc32, TableAndBitwiseFormsAgree)
{
    std::mt19937 random(11);
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> data(random() % 300);
        for (auto& b : data) {
            b = static_cast<uint8_t>(random());
        }
        const uint32_t start = round % 2 ? Crc32Start : static_cast<uint32_t>(random());
        ASSERT_EQ(Crc32Compute(start, data.data(), static_cast<int32_t>(data.size())),
                  Crc32Bitwise(start, data.data(), static_cast<uint32_t>(data.size())));
    }
}

}  // namespace
