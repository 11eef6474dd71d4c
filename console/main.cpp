// The program's entry: the standard streams, the command line, then the
// session.
#include <optional>

#include "console/command_line.hpp"
#include "console/session.hpp"
#include "files/atomic_file.hpp"

int main(int argc, char** argv) {
  const quibbet::StandardStreams streams = quibbet::OpenStandardStreams();
  if (!streams.usable) return 1;
  if (const std::optional<int> status =
          quibbet::StartFromCommandLine(argc, argv, streams.output_closed)) {
    return *status;
  }
  return quibbet::RunSession();
}
