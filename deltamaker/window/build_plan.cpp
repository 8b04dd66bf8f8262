#include "deltamaker/window/build_plan.h"

#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/format/package_layout.h"

#include <cstdio>

namespace Deltamaker {

int32_t action_method(Action action)
{
    static const int32_t methods[ActionCount] = {3, 4, 2, 1};
    return methods[action];
}

const std::vector<Row> &required_rows(Action action)
{
    static const std::vector<Row> rows[ActionCount] = {
        {PartitionRow, OldRow, NewRow, OutputRow},
        {PartitionRow, NewRow, OutputRow},
        {PartitionRow, OldRow, NewRow, OutputRow},
        {PartitionRow, OldRow, NewRow, OutputRow},
    };
    return rows[action];
}

ImageFacts inspect_image(const std::string &path)
{
    ImageFacts facts;
    if (path.empty())
        return facts;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return facts;
    uint8_t head[128];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got < 4)
        return facts;
    facts.readable = true;
    facts.board = board_type_of_word(uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16
                                     | uint32_t(head[3]) << 24);
    if (got > 112)
        facts.methodCode = head[112];
    return facts;
}

int plan_board(const ImageFacts &oldImage, const ImageFacts &newImage)
{
    if (newImage.readable)
        return newImage.board;
    return oldImage.readable ? oldImage.board : kBoardUnknown;
}

RowReason row_reason(int board, Action action, Row row)
{
    const bool nv = row == Nv1Row || row == Nv2Row;
    if (board == kBoardKLM4410 && nv)
        return RowReason::NoNvOnBoard;
    if (board == kBoardZN3150 && action == DiffAction && (nv || row == BootRow))
        return RowReason::InPlaceNoRoom;
    return RowReason::Used;
}

namespace {

bool isDiffCode(int code)
{
    return code == kMethodCodeDiff || code == kMethodCodeCZ;
}

} // namespace

ActionReason action_reason(const ImageFacts &oldImage, const ImageFacts &newImage, Action action)
{
    const int board = plan_board(oldImage, newImage);
    if (board == kBoardZN3150)
        return action == CzAction || action == AbAction ? ActionReason::BoardRefuses : ActionReason::Usable;
    if (board != kBoardKLM4410)
        return ActionReason::Usable;
    // The builder's method check, on the bytes known so far: an image not read yet (or too
    // short, which the builder reports itself) does not count against a button.
    const auto suits = [action](const ImageFacts &image, bool isNew) {
        if (!image.readable || image.methodCode < 0 || image.board != kBoardKLM4410)
            return true;
        switch (action) {
        case CzAction: return !isNew || isDiffCode(image.methodCode);
        case AbAction: return image.methodCode == kMethodCodeAB;
        default: return isDiffCode(image.methodCode);
        }
    };
    const bool oldCounts = action != CzAction;
    return suits(newImage, true) && (!oldCounts || suits(oldImage, false)) ? ActionReason::Usable
                                                                           : ActionReason::ImagesBuiltForOther;
}

RowReason row_reason_any(const ImageFacts &oldImage, const ImageFacts &newImage, Row row)
{
    const int board = plan_board(oldImage, newImage);
    RowReason first = RowReason::Used;
    bool anyUsable = false;
    for (int a = 0; a < ActionCount; ++a) {
        if (action_reason(oldImage, newImage, Action(a)) != ActionReason::Usable)
            continue;
        anyUsable = true;
        const RowReason why = row_reason(board, Action(a), row);
        if (why == RowReason::Used)
            return RowReason::Used;
        if (first == RowReason::Used)
            first = why;
    }
    return anyUsable ? first : RowReason::Used;
}

} // namespace Deltamaker
