// The status screen: the program's whole display, redrawn before every action.
#pragma once

#include <cstdint>
#include <string>

#include "engine/patch.hpp"

namespace quibbet {

// The 19 lines of the screen for `p` with oscillator `selected` marked, as
// plain text with "\n" line ends and no control sequences.
std::string FormatScreen(const Patch& p, std::int32_t selected);

// Blanks the terminal and shows the screen for the global patch and selected_osc.
// On a terminal the clear sequence and the text go out in one write, so
// nothing flickers; anywhere else only the text is written.
void DrawScreen();

}  // namespace quibbet
