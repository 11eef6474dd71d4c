// What the program makes of the web tests' inputs, one answer a line, for
// the web package's answers to be compared with:
//   program_answers rows DIR  reads cases from standard input, each its byte
//     count on a line and then its bytes, as `quibbet FILE` reads a file
//     (one over 1 MiB is saved as DIR/rows.txt): "ok" and each oscillator's
//     type and its floats' bits in hex, or the refusal "LINE:COL: expected ...".
//   program_answers renders   reads patches, a line each: the tone, then per
//     oscillator its type and its floats' bits in hex; renders them in a row
//     from the start noise state, as the program renders one sound after
//     another, and after each prints the FNV-1a hash of all the PCM so far.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "engine/fast_renderer.hpp"
#include "files/param_load.hpp"

namespace quibbet {
namespace {

int Rows(const std::string& dir) {
  const std::string path = dir + "/rows.txt";
  std::size_t size = 0;
  while (std::cin >> size && std::cin.get() == '\n') {
    std::string bytes(size, '\0');
    if (!std::cin.read(bytes.data(), static_cast<std::streamsize>(size))) break;
    // LoadParams parses what it reads, and refuses more than it reads: only
    // files that large are written, the rest parsed as it would parse them.
    LoadedParams loaded;
    if (size > kMaxParamFileBytes) {
      std::ofstream(path, std::ios::binary) << bytes;
      loaded = LoadParams(path);
      if (!loaded.ok()) loaded.error.erase(0, path.size() + 1);
    } else {
      const ParsedParams parsed =
          ParseParamFile(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), size));
      std::copy(std::begin(parsed.osc), std::end(parsed.osc), loaded.osc);
      if (!parsed.ok())
        loaded.error = std::to_string(parsed.line) + ":" + std::to_string(parsed.column) +
                       ": expected " + parsed.expected;
    }
    if (!loaded.ok()) {
      std::printf("%s\n", loaded.error.c_str());
      continue;
    }
    std::printf("ok");
    for (const Osc& o : loaded.osc)
      std::printf(" %d %08x %08x %08x", o.type, std::bit_cast<std::uint32_t>(o.detune),
                  std::bit_cast<std::uint32_t>(o.fm), std::bit_cast<std::uint32_t>(o.noise));
    std::printf("\n");
  }
  std::fflush(stdout);
  return std::cin.eof() ? 0 : 1;
}

int Renders() {
  const auto buffer = std::make_unique<SampleBuffer>();
  NoiseGenerator noise;
  Patch p;
  std::uint64_t hash = 14695981039346656037u;
  while (std::cin >> p.tone) {
    for (Osc& o : p.osc) {
      std::uint32_t bits[3];
      std::cin >> o.type >> std::hex >> bits[0] >> bits[1] >> bits[2] >> std::dec;
      o.detune = std::bit_cast<float>(bits[0]);
      o.fm = std::bit_cast<float>(bits[1]);
      o.noise = std::bit_cast<float>(bits[2]);
    }
    RenderFast(p, noise, *buffer);
    for (const std::uint8_t byte : buffer->Pcm()) hash = (hash ^ byte) * 1099511628211u;
    std::printf("%016llx\n", static_cast<unsigned long long>(hash));
  }
  std::fflush(stdout);
  return std::cin.eof() ? 0 : 1;
}

}  // namespace
}  // namespace quibbet

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "rows" && argc == 3) return quibbet::Rows(argv[2]);
  if (mode == "renders" && argc == 2) return quibbet::Renders();
  std::fprintf(stderr, "usage: program_answers rows DIR | program_answers renders\n");
  return 2;
}
