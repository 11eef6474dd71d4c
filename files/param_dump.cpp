#include "files/param_dump.hpp"

#include <charconv>
#include <cstdint>
#include <span>

namespace quibbet {

namespace {

// to_chars never looks at the locale and prints exactly what printf's
// "%d" and "%f" print in the C locale.
template <typename T, typename... Format>
void Append(std::string& out, T value, Format... format) {
  char text[400];  // %f of the largest float has 39 integer digits
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, format...);
  out.append(text, end);
}

}  // namespace

std::string EncodeParams(const Patch& p) {
  std::string out;
  for (const Osc& o : p.osc) {
    out += '{';
    Append(out, o.type);
    for (const float f : {o.detune, o.fm, o.noise}) {
      out += ", ";
      Append(out, static_cast<double>(f), std::chars_format::fixed, 6);
    }
    out += " },\r\n";
  }
  return out;
}

FileResult WriteParams(const std::string& file_name, const Patch& p) {
  const std::string text = EncodeParams(p);
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return SaveFile(file_name, {bytes});
}

void SaveParam(const std::string& file_name, const Patch& p) {
  ReportSaveFailure(file_name, WriteParams(file_name, p));
}

}  // namespace quibbet
