// Colour arithmetic behind every theme shade.
#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_number_edit.h"
#include "widgetkit/sys_style.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

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

TEST(KitColors, ArrowImagesAreShippedTrianglesOfTheirColour)
{
    const QString down = Internal::arrowImage("#409eff", false);
    EXPECT_EQ(down, ":/tessel/kit/arrows/arrow-409eff-down.png");
    EXPECT_EQ(Internal::arrowImage("#409eff", true), ":/tessel/kit/arrows/arrow-409eff-up.png");
    EXPECT_TRUE(Internal::arrowImage(QString(), true).isEmpty());
    EXPECT_TRUE(Internal::arrowImage("#zzzzzz", true).isEmpty());

    // Every theme colour of the kit and its hover shade has its own pair.
    for (const QString base : {"#409eff", "#FF0000", "#A9A9A9", "#20B2AA", "#FFA500", "#8A2BE2",
                               "#3CB371", "#66B3FF", "#000", "#333", "#ddd", "#fff"}) {
        for (const QString &colour : {base, darkenColor(base, 0.25)}) {
            const QRgb want = QColor(colour).rgb();
            for (bool up : {false, true}) {
                const QString path = Internal::arrowImage(colour, up);
                const QImage image(path);
                ASSERT_EQ(image.size(), QSize(24, 16)) << path.toStdString();
                // Wide edge at the top for down, at the bottom for up; the tip opposite.
                const int wide = up ? 13 : 3, tip = up ? 4 : 11;
                EXPECT_EQ(image.pixel(12, wide), want) << path.toStdString();
                EXPECT_EQ(image.pixel(12, tip), want) << path.toStdString();
                EXPECT_EQ(qAlpha(image.pixel(2, tip)), 0) << path.toStdString();
            }
        }
    }
    // Other colours get the nearest shipped arrow.
    EXPECT_EQ(Internal::arrowImage("#41a0fe", false), down);
    EXPECT_EQ(Internal::arrowImage("red", true), ":/tessel/kit/arrows/arrow-ff0000-up.png");
}

TEST(KitColors, ThemingWritesNoFiles)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR"), oldUser = qgetenv("USER");
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    qunsetenv("USER");
    {
        SysComboBox combo(nullptr, {"a", "b"});
        combo.setThemeColor("#123456");
        combo.setArrowColor("#654321", "#abcdef");
        SysNumberEdit number(nullptr, 1);
        number.setThemeColor("#fedcba");
        combo.show();
        number.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(combo.styleSheet().contains("url(:/tessel/kit/arrows/"));
        EXPECT_TRUE(number.styleSheet().contains("url(:/tessel/kit/arrows/"));
    }
    qputenv("TMPDIR", oldTmp);
    if (!oldUser.isNull())
        qputenv("USER", oldUser);
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
}
