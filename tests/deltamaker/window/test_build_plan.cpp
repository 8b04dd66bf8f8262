// What the window tells before a build, from the images' first bytes, and the session file that
// brings the rows and the log back.
#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/window/build_plan.h"
#include "deltamaker/window/session_state.h"
#include "tests/host/host_test_util.h"

#include <gtest/gtest.h>

using namespace Deltamaker;

namespace {

// An image of `size` bytes whose first word names the board and whose byte 112 is `code`.
QByteArray image(uint32_t word, int code, int size = 256)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < 4 && i < size; ++i)
        bytes[i] = char(word >> (8 * i));
    if (size > 112)
        bytes[112] = char(code);
    return bytes;
}

const uint32_t kKlmWord = 0x02262018;
const uint32_t kZnWord = 0x12345678;

} // namespace

TEST(BuildPlan, ImagesAreReadAsTheBuilderReadsThem)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeBytes(wd.file("klm.bin"), image(kKlmWord, 0x82)));
    ASSERT_TRUE(writeBytes(wd.file("hxp.bin"), image(0x48787032, 0x42)));
    ASSERT_TRUE(writeBytes(wd.file("zn.bin"), image(kZnWord, 0)));
    ASSERT_TRUE(writeBytes(wd.file("short.bin"), image(kKlmWord, 0, 100)));
    ASSERT_TRUE(writeBytes(wd.file("tiny.bin"), QByteArray(3, '\x18')));
    ImageFacts f = inspect_image(wd.file("klm.bin").toStdString());
    EXPECT_TRUE(f.readable);
    EXPECT_EQ(f.board, kBoardKLM4410);
    EXPECT_EQ(f.methodCode, 0x82);
    EXPECT_EQ(inspect_image(wd.file("hxp.bin").toStdString()).board, kBoardKLM4410);
    EXPECT_EQ(inspect_image(wd.file("zn.bin").toStdString()).board, kBoardZN3150);
    f = inspect_image(wd.file("short.bin").toStdString());
    EXPECT_EQ(f.board, kBoardKLM4410);
    EXPECT_EQ(f.methodCode, -1);
    EXPECT_FALSE(inspect_image(wd.file("tiny.bin").toStdString()).readable);
    EXPECT_FALSE(inspect_image(wd.file("none.bin").toStdString()).readable);
    EXPECT_FALSE(inspect_image(wd.path().toStdString()).readable);   // a folder
    EXPECT_FALSE(inspect_image("").readable);
}

TEST(BuildPlan, ButtonsAndRowsPerBoard)
{
    ImageFacts zn{true, kBoardZN3150, 0};
    ImageFacts klmDiff{true, kBoardKLM4410, 0x42};
    ImageFacts klmAb{true, kBoardKLM4410, 0x82};
    ImageFacts none;

    EXPECT_EQ(action_method(DiffAction), 3);
    EXPECT_EQ(action_method(CzAction), 4);
    EXPECT_EQ(action_method(AbAction), 2);
    EXPECT_EQ(action_method(BlockAction), 1);
    EXPECT_EQ(required_rows(BlockAction), (std::vector<Row>{PartitionRow, OldRow, NewRow, OutputRow}));
    EXPECT_EQ(required_rows(CzAction), (std::vector<Row>{PartitionRow, NewRow, OutputRow}));

    // ZN3150 takes the block and the in-place methods; only the block one carries boot and NV.
    EXPECT_EQ(action_reason(none, zn, BlockAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(none, zn, DiffAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(none, zn, CzAction), ActionReason::BoardRefuses);
    EXPECT_EQ(action_reason(zn, none, AbAction), ActionReason::BoardRefuses);   // the old image tells
    for (Row r : {BootRow, Nv1Row, Nv2Row}) {
        EXPECT_EQ(row_reason(kBoardZN3150, BlockAction, r), RowReason::Used);
        EXPECT_EQ(row_reason(kBoardZN3150, DiffAction, r), RowReason::InPlaceNoRoom);
        EXPECT_EQ(row_reason_any(zn, zn, r), RowReason::Used);
    }
    for (Row r : {PartitionRow, OldRow, NewRow, OutputRow})
        EXPECT_EQ(row_reason(kBoardZN3150, DiffAction, r), RowReason::Used);

    // KLM4410: no NV rows whatever is pressed; the method byte picks the buttons.
    for (int a = 0; a < ActionCount; ++a) {
        EXPECT_EQ(row_reason(kBoardKLM4410, Action(a), Nv1Row), RowReason::NoNvOnBoard);
        EXPECT_EQ(row_reason(kBoardKLM4410, Action(a), BootRow), RowReason::Used);
    }
    EXPECT_EQ(row_reason_any(klmDiff, klmDiff, Nv2Row), RowReason::NoNvOnBoard);
    EXPECT_EQ(action_reason(klmDiff, klmDiff, DiffAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(klmDiff, klmDiff, BlockAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(klmDiff, klmDiff, AbAction), ActionReason::ImagesBuiltForOther);
    EXPECT_EQ(action_reason(klmAb, klmAb, AbAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(klmAb, klmAb, DiffAction), ActionReason::ImagesBuiltForOther);
    EXPECT_EQ(action_reason(klmAb, klmDiff, DiffAction), ActionReason::ImagesBuiltForOther);
    // The compressed package looks at the new image only.
    EXPECT_EQ(action_reason(klmAb, klmDiff, CzAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(none, klmAb, CzAction), ActionReason::ImagesBuiltForOther);
    // What is not read yet counts against no button.
    EXPECT_EQ(action_reason(none, klmDiff, DiffAction), ActionReason::Usable);
    EXPECT_EQ(action_reason(ImageFacts{true, kBoardKLM4410, -1}, klmDiff, AbAction),
              ActionReason::ImagesBuiltForOther);
    for (int a = 0; a < ActionCount; ++a)
        EXPECT_EQ(action_reason(none, none, Action(a)), ActionReason::Usable);
    EXPECT_EQ(row_reason_any(none, none, Nv1Row), RowReason::Used);
    EXPECT_EQ(plan_board(zn, klmDiff), kBoardKLM4410);
    EXPECT_EQ(plan_board(zn, none), kBoardZN3150);
}

TEST(SessionFile, RoundTripsAndKeepsTheNewestLogRows)
{
    ScopedWorkDir wd;
    SessionState state;
    for (int r = 0; r < RowCount; ++r) {
        state.paths[r] = QStringLiteral("/data/固件 %1.bin").arg(r);
        state.folders[r] = QStringLiteral("/data/%1").arg(r);
    }
    state.exportFolder = QStringLiteral("/exports");
    for (int i = 0; i < kSessionLogRows + 5; ++i)
        state.log.push_back({QStringLiteral("2024-01-01 00:00:00.%1").arg(i % 1000, 3, 10, QLatin1Char('0')),
                             i % 4, QStringLiteral("line %1").arg(i)});
    state.log.back().text = QString(10000, QLatin1Char('x'));
    const QString file = wd.file("config/Deltamaker/session.json");
    ASSERT_TRUE(saveSession(file, state));

    SessionState back;
    ASSERT_TRUE(loadSession(file, back));
    for (int r = 0; r < RowCount; ++r) {
        EXPECT_EQ(back.paths[r], state.paths[r]);
        EXPECT_EQ(back.folders[r], state.folders[r]);
    }
    EXPECT_EQ(back.exportFolder, "/exports");
    ASSERT_EQ(back.log.size(), kSessionLogRows);
    EXPECT_EQ(back.log.front().text, "line 5");
    EXPECT_EQ(back.log.front().level, 1);
    EXPECT_EQ(back.log.back().text.size(), 4096);   // an overlong text is cut when saved
    EXPECT_LT(QFileInfo(file).size(), kSessionMaxBytes);
}

TEST(SessionFile, WhatCannotBeReadIsLeftOut)
{
    ScopedWorkDir wd;
    SessionState state;
    state.paths[0] = "kept";
    const QString file = wd.file("session.json");
    EXPECT_FALSE(loadSession(wd.file("missing.json"), state));
    EXPECT_TRUE(state.paths[0].isEmpty());   // emptied even when nothing loads

    const std::pair<const char *, QByteArray> refused[] = {
        {"not JSON", "{\"format\": 1, \"rows\": "},
        {"an array", "[1, 2]"},
        {"another format", "{\"format\": 2}"},
        {"too large", "{\"format\": 1, \"pad\": \"" + QByteArray(kSessionMaxBytes, 'a') + "\"}"},
    };
    for (const auto &c : refused) {
        ASSERT_TRUE(writeBytes(file, c.second));
        EXPECT_FALSE(loadSession(file, state)) << c.first;
    }
    // Values of the wrong kind are dropped one by one.
    ASSERT_TRUE(writeBytes(file, "{\"format\": 1, \"rows\": {\"boot\": {\"path\": 7, \"folder\": \"/f\"},"
                                 " \"new\": \"x\", \"old\": {\"path\": \"/o.bin\"}}, \"exportFolder\": [],"
                                 " \"log\": [{\"level\": 9, \"text\": \"a\"}, {\"level\": 1}, 5,"
                                 " {\"level\": 1, \"text\": \"kept\", \"time\": \"t\"}]}"));
    ASSERT_TRUE(loadSession(file, state));
    EXPECT_EQ(state.paths[BootRow], "");
    EXPECT_EQ(state.folders[BootRow], "/f");
    EXPECT_EQ(state.paths[OldRow], "/o.bin");
    EXPECT_EQ(state.paths[NewRow], "");
    EXPECT_EQ(state.exportFolder, "");
    ASSERT_EQ(state.log.size(), 1);
    EXPECT_EQ(state.log[0].text, "kept");
    EXPECT_EQ(state.log[0].time, "t");
}
