// The session of a build without a terminal or sound: there is none. The
// command line still renders (--render), helps and tells the version.
#include <cstdio>

#include "console/session.hpp"

namespace quibbet {

int RunSession() {
  std::fprintf(stderr,
               "quibbet: this build has no terminal or sound; it only renders "
               "(quibbet --render OUT.wav)\n");
  return 2;
}

}  // namespace quibbet
