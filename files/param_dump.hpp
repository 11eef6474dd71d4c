// Writes both oscillators as initialiser rows for an intro's oscillator table.
#pragma once

#include <string>

#include "engine/patch.hpp"
#include "files/atomic_file.hpp"

namespace quibbet {

// Two rows "{type, detune, fm, noise },", CR LF after each, on every platform
// and in every locale, so the file is the same bytes everywhere.
std::string EncodeParams(const Patch& p);

FileResult WriteParams(const std::string& file_name, const Patch& p);

// Saves the patch's oscillators; a failure is reported as one line.
void SaveParam(const std::string& file_name, const Patch& p);

}  // namespace quibbet
