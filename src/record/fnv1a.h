// FNV-1a, 32 bits: the hash of the keyed files' lock offsets, and the seal
// that tells a whole pending copy from one cut short.
#pragma once

#include <cstdint>
#include <string_view>

namespace kav::record {

inline std::uint32_t fnv1a32(std::string_view bytes) {
  std::uint32_t h = 2166136261u;
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

}  // namespace kav::record
