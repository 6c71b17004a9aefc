#include "jumplist/lnk_signature.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

constexpr uint8_t k_cfb_signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

bool cfb_signature_at(const uint8_t* p) {
  return p[0] == k_cfb_signature[0] && std::memcmp(p, k_cfb_signature, sizeof k_cfb_signature) == 0;
}

}  // namespace

bool find_cfb_signature(uint32_t& position, const uint8_t* buffer, size_t size) {
  position = 0;
  if (!buffer || size < sizeof k_cfb_signature) return false;
  // Offsets are 32-bit: none is looked for where they cannot say it.
  const size_t last = std::min<uint64_t>(size - sizeof k_cfb_signature, uint64_t{0xFFFFFFFF});
  size_t i = 0;
  const auto found = [&](size_t at) {
    position = static_cast<uint32_t>(at);
    return true;
  };
#ifdef __SSE2__
  // The signature's first two bytes side by side, 64 offsets a step: bytes
  // of every value hold that pair about once in 64 KiB, where a search for
  // its first byte alone would stop every 256.
  const __m128i first = _mm_set1_epi8(static_cast<char>(k_cfb_signature[0]));
  const __m128i second = _mm_set1_epi8(static_cast<char>(k_cfb_signature[1]));
  const auto pairs = [&](size_t at) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at + 1));
    return _mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second));
  };
  // Each step reads the 65 bytes from i.
  while (i <= last && size - i > 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(pairs(i), pairs(i + 16)),
                                     _mm_or_si128(pairs(i + 32), pairs(i + 48)));
    if (_mm_movemask_epi8(any) != 0) {
      for (const size_t end = i + 64; i < end && i <= last; ++i)
        if (cfb_signature_at(buffer + i)) return found(i);
    } else {
      i += 64;
    }
  }
#endif
  for (; i <= last; ++i)
    if (cfb_signature_at(buffer + i)) return found(i);
  return false;
}

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
