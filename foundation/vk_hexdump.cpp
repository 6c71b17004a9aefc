#include "foundation/vk_hexdump.h"

#include "foundation/vk_guard.h"

namespace vk {

namespace {

constexpr char k_digits[] = "0123456789abcdef";

void put_offset(std::string& out, uint64_t offset, int width) {
  char buf[16];
  int n = 0;
  do {
    buf[n++] = k_digits[offset & 0xF];
    offset >>= 4;
  } while (offset != 0 && n < 16);
  out += "0x";
  for (int k = n; k < width; ++k) out += '0';
  while (n > 0) out += buf[--n];
  out += " : ";
}

char column_char(uint8_t b) {
  return b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
}

void dump(std::string& out, const uint8_t* data, size_t length, uint64_t first_offset,
          const hexdump_style& s) {
  put_offset(out, first_offset, s.offset_width);
  size_t line_start = 0;
  for (size_t i = 0; i < length; ++i) {
    out += k_digits[data[i] >> 4];
    out += k_digits[data[i] & 0xF];
    out += ' ';
    if ((i + 1) % 16 != 0) continue;
    out += s.column_gap;
    for (size_t j = line_start; j <= i; ++j) out += column_char(data[j]);
    out += s.eol;
    put_offset(out, first_offset + i + 1, s.offset_width);
    line_start = i + 1;
  }
  if (!s.short_line_column) {
    out += s.eol;
    return;
  }
  if (length % 16 == 0) return;
  out.append(3 * (16 - length % 16), ' ');
  out += s.column_gap;
  for (size_t j = line_start; j < length; ++j) out += column_char(data[j]);
  out += s.eol;
}

}  // namespace

bool hexdump_append(std::string& out, const uint8_t* data, size_t length, uint64_t first_offset,
                    const hexdump_style& style) {
  if (data == nullptr && length != 0) return false;
  const size_t had = out.size();
  return guarded(
      [&] {
        dump(out, data, length, first_offset, style);
        return true;
      },
      [&] { out.resize(had); });
}

}  // namespace vk
