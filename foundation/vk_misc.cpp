#include "foundation/vk_misc.h"

#include <sys/time.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "foundation/vk_counted_string.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace vk {

// Built in this order, destroyed at exit.
const std::string newline_text = "\n";
const std::string empty_text;
std::ostringstream scratch_stream;
null_out_stream null_stream;

namespace {

bool random_seeded = false;
uint32_t random_state = 0;

}  // namespace

// ---------------------------------------------------------------------------

uint8_t random_in_range(uint8_t low, uint8_t high) {
  if (!random_seeded) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    random_state = static_cast<uint32_t>(tv.tv_usec);
    std::srand(random_state);
    random_seeded = true;
  }
  if (high < low) std::swap(low, high);
  const int r = std::rand();
  random_state = static_cast<uint32_t>(r);
  const uint32_t span = static_cast<uint32_t>(high - low) + 1;
  return static_cast<uint8_t>(low + static_cast<uint32_t>(r) % span);
}

uint32_t random_u32() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | random_in_range(0, 255);
  return v;
}

bool find_vector_pattern(const uint8_t* buffer, uint32_t length,
                         const std::vector<uint8_t>& pattern, uint64_t* offset, uint64_t base,
                         bool skip_table) {
  if (!buffer || length == 0 || pattern.empty()) return false;
  return vk::guarded([&] {
    std::vector<uint64_t> found;
    if (!find_pattern_offsets(buffer, length, pattern.data(), pattern.size(), found, base,
                              skip_table, true))
      return false;
    if (offset) *offset = found.front();
    return true;
  });
}

bool find_pattern_vector_offsets(const uint8_t* buffer, uint32_t length,
                                 const std::vector<uint8_t>& pattern,
                                 std::vector<uint64_t>& offsets, uint64_t base, bool skip_table) {
  offsets.clear();
  if (!buffer || length == 0 || pattern.empty()) return false;
  return vk::guarded(
      [&] {
        return find_pattern_offsets(buffer, length, pattern.data(), pattern.size(), offsets, base,
                                    skip_table, false);
      },
      [&] {
        offsets.clear();
        return false;
      });
}

std::ostream& write_blanks(std::ostream& os, uint32_t count) {
  if (count == 0) return os;
  os.fill(' ');
  os.width(count);
  return os << " ";
}

bool base64_decode(const uint8_t* text, int32_t length, std::vector<uint8_t>& out) {
  if (!text || length <= 0) return false;
  return vk::guarded([&] {
    std::vector<uint8_t> kept;
    kept.reserve(static_cast<size_t>(length));
    for (int32_t i = 0; i < length && text[i] != 0; ++i) {
      uint8_t c = text[i];
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '/' || c == '=')
        kept.push_back(c);
    }
    std::vector<uint8_t> res;
    res.reserve(kept.size() / 4 * 3 + 3);
    for (size_t i = 0; i < kept.size(); i += 4) {
      const size_t have = kept.size() - i;
      // A lone character carries fewer than 8 bits: no byte.
      if (have < 2) break;
      const uint8_t c0 = kept[i], c1 = kept[i + 1];
      const uint8_t c2 = have > 2 ? kept[i + 2] : '=';
      const uint8_t c3 = have > 3 ? kept[i + 3] : '=';
      const uint32_t v0 = base64_char_value(c0), v1 = base64_char_value(c1),
                     v2 = base64_char_value(c2), v3 = base64_char_value(c3);
      res.push_back(static_cast<uint8_t>((v0 << 2) | (v1 >> 4)));
      if (c2 != '=') res.push_back(static_cast<uint8_t>((v1 << 4) | (v2 >> 2)));
      if (c3 != '=') res.push_back(static_cast<uint8_t>((v2 << 6) | v3));
    }
    out = std::move(res);
    return true;
  });
}

int last_errno() {
  return errno;
}

const uint16_t* format_to_utf16(std::vector<uint16_t>& out, const char* format, ...) {
  out.clear();
  if (!format) return nullptr;
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  char first[30] = {};
  const int n = std::vsnprintf(first, sizeof first, format, ap);
  va_end(ap);
  const uint16_t* result = nullptr;
  if (n >= 0) {
    result = vk::guarded(
        [&]() -> const uint16_t* {
          if (n <= 29) return ascii_to_utf16_crlf(out, first);
          std::vector<char> area(static_cast<size_t>(n) + 10, 0);
          if (std::vsnprintf(area.data(), area.size(), format, again) < 0) return nullptr;
          return ascii_to_utf16_crlf(out, area.data());
        },
        [&] { out.clear(); });
  }
  va_end(again);
  return result;
}

}  // namespace vk
