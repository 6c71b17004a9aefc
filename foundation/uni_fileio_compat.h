// Temporary stand-ins for shared text routines not yet in the tree.
#pragma once

#include <cstdint>
#include <string>

namespace uni::compat {

static inline bool strip_trailing_slashes_wide(std::wstring& p) {
  while (!p.empty() && (p.back() == L'/' || p.back() == L'\\')) p.pop_back();
  return !p.empty();
}

}  // namespace uni::compat
