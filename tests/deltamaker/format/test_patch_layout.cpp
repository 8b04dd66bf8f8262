#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/format/patch_layout.h"
#include "deltamaker/format/sign_magnitude.h"

#include <gtest/gtest.h>

#include <cstring>

namespace detail = deltamaker::detail;

TEST(PatchLayout, MoveWordsKeepDestinationAndFlagApart)
{
    const int32_t dsts[] = {0, 1, 0x7000, (1 << 29) - 1};
    for (int32_t dst : dsts) {
        for (int32_t flag = 0; flag <= 3; ++flag) {
            const int64_t word = inplace_move_word(dst, flag);
            uint8_t bytes[kSm4Size];
            put_sm4(bytes, word);
            EXPECT_EQ(0, bytes[3] & 0x80) << "a move word is never negative";
            int32_t d = -1, f = -1;
            inplace_move_split(get_sm4(bytes), d, f);
            EXPECT_EQ(dst, d);
            EXPECT_EQ(flag, f);
        }
    }
    // Flag 3 and the largest destination fill the 31 magnitude bits exactly.
    uint8_t bytes[kSm4Size];
    put_sm4(bytes, inplace_move_word((1 << 29) - 1, 3));
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0x7F, bytes[3]);
}

TEST(FirmwareLayout, PredefinedEntriesComeFirstOnZn3150Only)
{
    const std::vector<PartEntry> z = predefined_part_entries(kBoardZN3150);
    ASSERT_EQ(2u, z.size());
    EXPECT_TRUE(part_name_equals(z[0].name, "boot"));
    EXPECT_EQ(0u, z[0].addr);
    EXPECT_EQ(0x6000u, z[0].size);
    EXPECT_TRUE(part_name_equals(z[1].name, "partition"));
    EXPECT_EQ(0x6000u, z[1].addr);
    EXPECT_EQ(0x1000u, z[1].size);
    EXPECT_TRUE(predefined_part_entries(kBoardKLM4410).empty());

    // A table of the wrong size fails after the predefined entries were added.
    std::vector<PartEntry> out;
    std::string error;
    const uint8_t table[16] = {};
    EXPECT_FALSE(detail::parse_part_table(table, sizeof table, kBoardZN3150, out, error));
    EXPECT_EQ(2u, out.size());
    EXPECT_EQ("partition size 0x10 error\n", error);
}
