// Text read from files, made fit for a terminal. Plain C++ (no Qt), so that every command-line
// program can use it.
#pragma once

#include <string>

// `text` as it may go to a terminal: control characters (C0, DEL and C1) and bytes that are not
// UTF-8 are written as \xNN, so that a name or path read from a file cannot clear the screen,
// move the cursor or start a line of its own. `message`: the text is a message, whose tabs and
// final line end stay.
std::string terminalSafe(const std::string &text, bool message = false);

// Whether terminalSafe() leaves `text` as it is: well-formed UTF-8 without control characters.
bool isTerminalSafe(const std::string &text);
