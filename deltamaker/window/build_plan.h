// What the window can tell before a build: the board and method byte of the chosen images, and
// from them which buttons can build and which rows each button uses. Reads at most the first
// 128 bytes of an image; no widgets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Deltamaker {

// File rows in their order on screen.
enum Row { BootRow, PartitionRow, OldRow, NewRow, Nv1Row, Nv2Row, OutputRow, RowCount };

// The build buttons, in their order on screen.
enum Action { DiffAction, CzAction, AbAction, BlockAction, ActionCount };

// Update method the button asks the builder for: 3, 4, 2 or 1.
int32_t action_method(Action action);
// Rows that must hold a path, in the order their labels are reported.
const std::vector<Row> &required_rows(Action action);

// The first bytes of an image as the builder reads them.
struct ImageFacts {
    bool readable = false;   // at least 4 bytes could be read
    int board = 0;           // kBoardZN3150, kBoardKLM4410, or 0 when unreadable
    int methodCode = -1;     // byte 112 (KLM4410 images), -1 when the image is shorter
};
ImageFacts inspect_image(const std::string &path);

// Why a row is not used.
enum class RowReason {
    Used,
    NoNvOnBoard,      // KLM4410 packages carry no NV files
    InPlaceNoRoom,    // ZN3150 in-place packages carry neither boot image nor NV files
};

// Why a button cannot build.
enum class ActionReason {
    Usable,
    BoardRefuses,     // ZN3150 takes only the block and the in-place methods
    ImagesBuiltForOther,  // a KLM4410 image's method byte does not suit the method
};

// The board the images name: the new image's, else the old image's, else 0.
int plan_board(const ImageFacts &oldImage, const ImageFacts &newImage);
RowReason row_reason(int board, Action action, Row row);
ActionReason action_reason(const ImageFacts &oldImage, const ImageFacts &newImage, Action action);
// A row that no usable button of the board uses (a row unusable whatever is pressed).
RowReason row_reason_any(const ImageFacts &oldImage, const ImageFacts &newImage, Row row);

} // namespace Deltamaker
