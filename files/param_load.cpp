#include "files/param_load.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace quibbet {

namespace {

bool IsSeparator(std::uint8_t byte) {
  switch (byte) {
    case ' ':
    case '\t':
    case ',':
    case '{':
    case '}':
    case '\r':
    case '\n':
      return true;
    default:
      return false;
  }
}

// A cursor over the bytes that knows its line and column; every read is
// checked against the end, so no input can lead it astray.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
    // Some editors put a byte order mark in front of UTF-8 text.
    constexpr std::uint8_t kBom[] = {0xEF, 0xBB, 0xBF};
    if (bytes_.size() >= 3 && std::equal(kBom, kBom + 3, bytes_.begin())) pos_ = 3;
  }

  bool AtEnd() const { return pos_ == bytes_.size(); }
  bool Next(char c) const { return !AtEnd() && bytes_[pos_] == static_cast<std::uint8_t>(c); }

  bool Take(char c) {
    if (!Next(c)) return false;
    ++pos_;
    ++column_;
    return true;
  }

  void SkipBlanks() {
    while (Take(' ') || Take('\t')) {
    }
  }

  // LF, or CR LF as SaveParam writes it; a lone CR is not a line end.
  bool TakeLineEnd() {
    const bool crlf = Next('\r') && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n';
    if (!crlf && !Next('\n')) return false;
    pos_ += crlf ? 2 : 1;
    ++line_;
    column_ = 1;
    return true;
  }

  // The run of bytes up to the next blank, separator or line end: a number,
  // or whatever stands where a number should.
  std::string_view TakeToken() {
    const std::size_t start = pos_;
    while (!AtEnd() && !IsSeparator(bytes_[pos_])) ++pos_;
    column_ += pos_ - start;
    return {reinterpret_cast<const char*>(bytes_.data()) + start, pos_ - start};
  }

  std::size_t line() const { return line_; }
  std::size_t column() const { return column_; }
  std::size_t offset() const { return pos_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 1;
};

// Where parsing stopped and why; `expected` empty while all is well.
struct Fault {
  std::size_t line = 0, column = 0, offset = 0;
  std::string expected;
};

Fault At(const Reader& in, std::string expected) {
  return {in.line(), in.column(), in.offset(), std::move(expected)};
}

bool ReadType(std::string_view token, std::int32_t& type) {
  const char* end = token.data() + token.size();
  const auto [stop, ec] = std::from_chars(token.data(), end, type);
  return ec == std::errc{} && stop == end && !token.empty() && type >= 0 && type < kWaveformCount;
}

// Whether a decimal that from_chars read whole is below 1 in magnitude: the
// power of ten of its first significant digit is negative. Out of a float's
// range, that tells a value too small for a float from one too large.
bool BelowOne(std::string_view decimal) {
  std::size_t at = decimal.starts_with('-') ? 1 : 0;
  long long power = 0;  // of the first significant digit
  bool significant = false, point = false;
  for (; at < decimal.size() && decimal[at] != 'e' && decimal[at] != 'E'; ++at) {
    const char c = decimal[at];
    if (c == '.') {
      point = true;
    } else if (!significant) {
      if (point) --power;  // each place after the point, up to and with the digit
      significant = c != '0';
    } else if (!point) {
      ++power;  // each further place before the point
    }
  }
  if (!significant) return true;  // zero
  // The exponent, held within a range far beyond any float's, where its sign
  // alone decides.
  long long exponent = 0;
  bool negative = false;
  if (at < decimal.size()) ++at;  // the 'e'
  if (at < decimal.size() && (decimal[at] == '-' || decimal[at] == '+')) {
    negative = decimal[at++] == '-';
  }
  for (; at < decimal.size(); ++at) {
    exponent = std::min(exponent * 10 + (decimal[at] - '0'), 1'000'000'000'000LL);
  }
  return power + (negative ? -exponent : exponent) < 0;
}

// The float nearest the decimal, as a C compiler converts it; the fault, if
// any, names the field.
std::string ReadFloat(std::string_view token, const std::string& what, float& value) {
  const char* end = token.data() + token.size();
  const auto [stop, ec] = std::from_chars(token.data(), end, value);
  if (token.empty() || stop != end) return what + " as a decimal number";
  // Too small even for the least subnormal: a compiler makes it zero, of the
  // decimal's sign. Too large stays an error.
  if (ec == std::errc::result_out_of_range && BelowOne(token)) {
    value = token.starts_with('-') ? -0.0f : 0.0f;
    return {};
  }
  if (ec == std::errc::result_out_of_range) return what + " within the range of a float";
  if (ec != std::errc{}) return what + " as a decimal number";
  if (!std::isfinite(value)) return what + " as a finite decimal number, not NaN or infinity";
  return {};
}

// One row "{type, detune, fm, noise }," and its line end (or the end of the
// input); blanks may stand between any two parts.
Fault ReadRow(Reader& in, int index, Osc& osc) {
  const std::string of = " of oscillator " + std::to_string(index);
  if (!in.Take('{')) return At(in, "'{' to begin the row" + of);
  in.SkipBlanks();
  Reader before = in;
  if (!ReadType(in.TakeToken(), osc.type))
    return At(before, "the waveform type" + of + ": 0, 1 or 2");
  in.SkipBlanks();
  if (!in.Take(',')) return At(in, "',' after the waveform type" + of);

  struct Field {
    const char* name;
    float Osc::*value;
    char after;
  };
  for (const Field field : {Field{"detune", &Osc::detune, ','}, Field{"fm", &Osc::fm, ','},
                            Field{"noise", &Osc::noise, '}'}}) {
    in.SkipBlanks();
    before = in;
    const std::string what = std::string(field.name) + of;
    if (std::string fault = ReadFloat(in.TakeToken(), what, osc.*field.value); !fault.empty())
      return At(before, std::move(fault));
    in.SkipBlanks();
    if (!in.Take(field.after))
      return At(in, std::string("'") + field.after + "' after " + field.name + of);
  }
  in.SkipBlanks();
  if (!in.Take(',')) return At(in, "',' after '}'" + of);
  in.SkipBlanks();
  if (!in.AtEnd() && !in.TakeLineEnd()) return At(in, "the end of the line after the row" + of);
  return {};
}

}  // namespace

ParsedParams ParseParamFile(std::span<const std::uint8_t> bytes) {
  ParsedParams result;
  Reader in(bytes);
  Fault fault;
  int rows = 0;
  for (;;) {
    in.SkipBlanks();
    if (in.TakeLineEnd()) continue;  // a blank line
    if (in.AtEnd()) break;
    if (rows == 2) {
      fault = At(in, "the end of the file after the two rows");
      break;
    }
    fault = ReadRow(in, rows, result.osc[rows]);
    if (!fault.expected.empty()) break;
    ++rows;
  }
  if (fault.expected.empty() && rows < 2)
    fault =
        At(in, "the row of oscillator " + std::to_string(rows) + ": {type, detune, fm, noise },");
  result.line = fault.line;
  result.column = fault.column;
  result.offset = fault.offset;
  result.expected = std::move(fault.expected);
  return result;
}

LoadedParams LoadParams(const std::string& path) {
  LoadedParams loaded;
  const auto refuse = [&](std::size_t line, std::size_t column, const std::string& expected) {
    loaded.error =
        path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": expected " + expected;
    return loaded;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return refuse(1, 1, "a file, not a directory");

  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return refuse(1, 1, std::string("a readable file: ") + std::strerror(errno));
  // One byte more than allowed tells a file that is too large.
  std::vector<std::uint8_t> bytes(kMaxParamFileBytes + 1);
  errno = 0;
  const std::size_t size = std::fread(bytes.data(), 1, bytes.size(), file);
  const int read_error = !std::ferror(file) ? 0 : errno != 0 ? errno : EIO;
  std::fclose(file);
  if (read_error != 0)
    return refuse(1, 1, std::string("a readable file: ") + std::strerror(read_error));

  const bool too_large = size > kMaxParamFileBytes;
  const ParsedParams parsed =
      ParseParamFile(std::span(bytes.data(), too_large ? kMaxParamFileBytes : size));
  // A fault in the part read is the one to show; a cut-off file otherwise.
  if (!parsed.ok() && !(too_large && parsed.offset == kMaxParamFileBytes))
    return refuse(parsed.line, parsed.column, parsed.expected);
  if (too_large) return refuse(1, 1, "a file of at most 1 MiB");
  std::copy(std::begin(parsed.osc), std::end(parsed.osc), loaded.osc);
  return loaded;
}

}  // namespace quibbet
