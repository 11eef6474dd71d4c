// Until the console front end exists, the program renders the default patch
// once and exits, which proves the engine runs in the shipped binary.
#include "engine/renderer.hpp"

int main() {
  quibbet::RenderSound();
  return 0;
}
