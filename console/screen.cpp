#include "console/screen.hpp"

#include <algorithm>
#include <cstdio>

#include "console/program_state.hpp"
#include "console/terminal.hpp"

namespace quibbet {
namespace {

constexpr const char* kWaveformNames[kWaveformCount] = {"SAW", "SIN", "SQR"};

const char* WaveformName(std::int32_t type) {
  // Only the keys A, S and D set a type, so this guard never fires in the
  // program; it keeps a hand-made Patch from reading past the list.
  return type >= 0 && type < kWaveformCount ? kWaveformNames[type] : "???";
}

// printf into the end of `out`; every line of the screen is far shorter than
// the buffer, even with the widest float %f can print (about 50 digits).
template <typename... Args>
void Append(std::string& out, const char* format, Args... args) {
  char line[512];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n > 0) out.append(line, std::min(static_cast<std::size_t>(n), sizeof line - 1));
}

}  // namespace

std::string FormatScreen(const Patch& p, std::int32_t selected) {
  static constexpr char kStars[] = "************************************************************\n";
  std::string out;
  out.reserve(1024);
  out += kStars;
  out += "   Quibbet v0.1\n";
  out += kStars;
  out += "\n";
  for (std::int32_t i = 0; i < 2; ++i) {
    const Osc& o = p.osc[i];
    out += i == selected ? "-->" : "   ";
    // %f takes a double: the float fields are widened exactly, as printf
    // would do for a float argument.
    Append(out, "osc[%02d]   = %s, detune = %f, FM = %f,   Noize=%f\n", static_cast<int>(i),
           WaveformName(o.type), static_cast<double>(o.detune), static_cast<double>(o.fm),
           static_cast<double>(o.noise));
  }
  out += "\n\n";
  Append(out, "PITCH     = %02d\n", static_cast<int>(p.tone));
  Append(out, "STICK     = %02d\n", static_cast<int>(selected));
  out +=
      "\n"
      "OSC       = A=saw S=sin D=sqr\n"
      "Detune    = Q -,    W +\n"
      "FM        = E -,    R +\n"
      "NOISE     = T -,    Y +\n"
      "Pitch     = O -,    P +\n"
      "Stick     = 1,      2\n"
      "\n"
      "SaveWave  : F7\n"
      "SaveParam : F8\n"
      "SpaceKey  : Prev Sound\n";
  return out;
}

void DrawScreen() { WriteScreen(FormatScreen(patch, selected_osc)); }

}  // namespace quibbet
