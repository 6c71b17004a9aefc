#include "jumplist/lnk_signature.h"

#include <algorithm>
#include <cstring>

#include "foundation/vk_guard.h"
#include "jumplist/lnk_parser.h"

namespace vk {

namespace {

// Calls found(position) for each header until it returns false.
template <class Found>
void search(const uint8_t* buffer, size_t size, uint32_t step, Found&& found) {
  if (!buffer || size < lnk_header_size) return;
  const uint64_t stride = step ? step : 1;  // a zero step would never advance
  if (stride == 1) {
    // Only a byte 0x4C can start a header: memchr skips to each one before
    // the full test.
    // A header may end where the bytes do.
    const size_t limit = static_cast<size_t>(
        std::min<uint64_t>(size - lnk_header_size + 1, uint64_t{0xFFFFFFFF} + 1));
    const uint8_t* at = buffer;
    const uint8_t* const end = buffer + limit;
    while (at < end) {
      const void* hit = std::memchr(at, lnk_header_size, static_cast<size_t>(end - at));
      if (hit == nullptr) return;
      at = static_cast<const uint8_t*>(hit);
      const size_t pos = static_cast<size_t>(at - buffer);
      if (is_lnk_header(at, size - pos) && !found(static_cast<uint32_t>(pos))) return;
      ++at;
    }
    return;
  }
  for (uint64_t pos = 0; pos + lnk_header_size <= size && pos <= 0xFFFFFFFFu; pos += stride)
    if (is_lnk_header(buffer + pos, size - pos) && !found(static_cast<uint32_t>(pos))) return;
}

}  // namespace

const std::vector<uint8_t>& lnk_header_pattern() {
  static const std::vector<uint8_t> pattern = {0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02,
                                               0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  return pattern;
}

bool find_lnk_signature(uint32_t& position, const uint8_t* buffer, size_t size, uint32_t step) {
  position = 0;
  bool hit = false;
  search(buffer, size, step, [&](uint32_t pos) {
    position = pos;
    hit = true;
    return false;
  });
  return hit;
}

bool find_all_lnk_signatures(std::vector<uint32_t>& positions, const uint8_t* buffer, size_t size,
                             uint32_t step) {
  positions.clear();
  return guarded(
      [&] {
        search(buffer, size, step, [&](uint32_t pos) {
          positions.push_back(pos);
          return true;
        });
        return !positions.empty();
      },
      [&] { return !positions.empty(); });
}

}  // namespace vk
