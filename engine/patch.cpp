#include "engine/patch.hpp"

namespace quibbet {

Patch patch;
std::int32_t stick = 0;

}  // namespace quibbet
