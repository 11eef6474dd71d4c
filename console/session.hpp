// The interactive session, where the build has one: the sound played at
// once, the status screen, and the loop of passes over the keys until
// Escape (console/session.cpp). A build without a terminal or sound
// (QUIBBET_INTERACTIVE=OFF, for machines that only render) has
// console/session_none.cpp instead, which says so.
#pragma once

namespace quibbet {

// Runs the session; the program's exit status.
int RunSession();

}  // namespace quibbet
