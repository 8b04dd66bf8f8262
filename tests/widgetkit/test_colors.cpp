// Colour arithmetic behind every theme shade.
#include "widgetkit/sys_style.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(KitColors, KnownShadesOfThePrimaryBlue)
{
    EXPECT_EQ(lightenColor("#409eff", 0.75), "#cfe7ff");
    EXPECT_EQ(lightenColor("#409eff", 0.9), "#ecf5ff");
    EXPECT_EQ(darkenColor("#409eff", 0.25), "#3077bf");
    EXPECT_EQ(lightenColor("#409eff", 0.0), "#409eff");
    EXPECT_EQ(lightenColor("#409eff", 1.0), "#ffffff");
    EXPECT_EQ(darkenColor("#409eff", 1.0), "#000000");
}

TEST(KitColors, ThreeDigitColoursAreDoubledAndOutputIsLowerCase)
{
    EXPECT_EQ(lightenColor("#ddd", 0.0), "#dddddd");
    EXPECT_EQ(darkenColor("#ddd", 0.25), "#a6a6a6"); // 221 * 0.75 = 165.75
    EXPECT_EQ(lightenColor("#ddd", 0.5), "#eeeeee"); // 221 + round(17)
    EXPECT_EQ(darkenColor("#FFF", 0.0), "#ffffff");
    EXPECT_EQ(lightenColor("#ABCDEF", 0.0), "#abcdef");
}

TEST(KitColors, HalvesRoundAwayFromZero)
{
    // 158 * 0.75 = 118.5 -> 119 (0x77); 1 * 0.5 = 0.5 -> 1
    EXPECT_EQ(darkenColor("#009e00", 0.25), "#007700");
    EXPECT_EQ(darkenColor("#010101", 0.5), "#010101");
    // 254 + round(1 * 0.5) = 255
    EXPECT_EQ(lightenColor("#fefefe", 0.5), "#ffffff");
}

TEST(KitColors, BadInputGivesEmptyText)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto fn : {&lightenColor, &darkenColor}) {
        EXPECT_EQ(fn("red", 0.5), QString());
        EXPECT_EQ(fn("transparent", 0.75), QString());
        EXPECT_EQ(fn("409eff", 0.5), QString());
        EXPECT_EQ(fn("#409eff", 1.5), QString());
        EXPECT_EQ(fn("#409eff", -0.01), QString());
        EXPECT_EQ(fn("#409eff", nan), QString());
        EXPECT_EQ(fn("#40g eff", 0.5), QString());
        EXPECT_EQ(fn("#40 eff", 0.5), QString());
        EXPECT_EQ(fn("#+1+2+3", 0.5), QString());
        EXPECT_EQ(fn("#0x1234", 0.5), QString());
        EXPECT_EQ(fn("#xyz", 0.5), QString());
        EXPECT_EQ(fn("#", 0.5), QString());
        EXPECT_EQ(fn("#1234", 0.5), QString());
        EXPECT_EQ(fn("#12345", 0.5), QString());
        EXPECT_EQ(fn("#1234567", 0.5), QString());
        EXPECT_EQ(fn("#４０９eff", 0.5), QString()); // full-width digits are not hex
        EXPECT_EQ(fn(QString(), 0.5), QString());
    }
}

TEST(KitColors, ArrowImagesAreMadeOnceAndRefuseBadColours)
{
    const QString down = Internal::arrowImage("#409eff", false);
    ASSERT_FALSE(down.isEmpty());
    EXPECT_EQ(Internal::arrowImage("#409eff", false), down);
    EXPECT_NE(Internal::arrowImage("#409eff", true), down);
    EXPECT_TRUE(Internal::arrowImage(QString(), true).isEmpty());
    EXPECT_TRUE(Internal::arrowImage("#zzzzzz", true).isEmpty());
}
