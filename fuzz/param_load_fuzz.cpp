// libFuzzer target for ParseParamFile. Beyond "no crash, no sanitizer report"
// it checks what users and the program rely on:
//  - a fault's line and column point at its byte offset, inside the input;
//  - whatever is accepted holds only types 0 to 2 and finite floats;
//  - saving what was accepted and opening it again moves no value by a unit
//    of the sixth decimal or more, and saving that once more gives the same
//    bytes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "files/param_dump.hpp"
#include "files/param_load.hpp"

namespace {

using quibbet::Osc;
using quibbet::ParsedParams;
using quibbet::ParseParamFile;
using quibbet::Patch;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void CheckFaultPosition(std::span<const std::uint8_t> data, const ParsedParams& parsed) {
  Check(parsed.offset <= data.size());
  const auto before = data.first(parsed.offset);
  // Only LF ends a line (CR LF included); the column counts bytes from the
  // line's start, or from after the byte order mark on the first line.
  const auto lf = std::find(before.rbegin(), before.rend(), '\n');
  const std::size_t lines =
      static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  std::size_t line_start = static_cast<std::size_t>(before.rend() - lf);
  const bool bom = data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
  if (lines == 0 && bom) line_start = 3;
  Check(parsed.line == lines + 1);
  Check(parsed.offset >= line_start && parsed.column == parsed.offset - line_start + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  const std::span<const std::uint8_t> data(raw, size);
  const ParsedParams parsed = ParseParamFile(data);
  if (!parsed.ok()) {
    CheckFaultPosition(data, parsed);
    return 0;
  }
  Check(parsed.line == 0 && parsed.column == 0);
  Patch p;
  for (int i = 0; i < 2; ++i) {
    const Osc& o = parsed.osc[i];
    Check(o.type >= 0 && o.type < quibbet::kWaveformCount);
    Check(std::isfinite(o.detune) && std::isfinite(o.fm) && std::isfinite(o.noise));
    p.osc[i] = o;
  }
  const std::string saved = quibbet::EncodeParams(p);
  const ParsedParams reopened = ParseParamFile(Bytes(saved));
  Check(reopened.ok());
  Patch q;
  for (int i = 0; i < 2; ++i) q.osc[i] = reopened.osc[i];
  Check(quibbet::EncodeParams(q) == saved);
  // Six decimals move a value by less than one unit in their last place.
  for (int i = 0; i < 2; ++i) {
    const Osc& a = parsed.osc[i];
    const Osc& b = reopened.osc[i];
    Check(a.type == b.type);
    for (auto field : {&Osc::detune, &Osc::fm, &Osc::noise}) {
      Check(std::abs(static_cast<double>(a.*field) - static_cast<double>(b.*field)) <= 1e-6);
    }
  }
  return 0;
}
