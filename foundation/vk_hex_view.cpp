#include "foundation/vk_hex_view.h"

#include <ios>
#include <sstream>

namespace vk {

namespace {
constexpr char k_digits[] = "0123456789abcdef";

void put_hex(std::ostream& os, uint64_t v, int width) {
  char buf[16];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = k_digits[v & 0xF];
    v >>= 4;
  }
  os.write(buf, width);
}
}  // namespace

void hexdump_line(std::ostream& os, const uint8_t* data, size_t count, uint64_t base_address,
                  bool with_address) {
  if (count > 16) count = 16;
  if (with_address) {
    uint64_t high = base_address >> 32;
    if (high != 0) {
      uint64_t top = high >> 16, low = high & 0xFFFF;
      if (top != 0) {
        put_hex(os, top, 4);
        os << ' ';
        put_hex(os, low, 4);
      } else {
        put_hex(os, low, low <= 0xF ? 1 : low <= 0xFF ? 2 : 4);
      }
      os << ' ';
    }
    put_hex(os, (base_address >> 16) & 0xFFFF, 4);
    os << ' ';
    put_hex(os, base_address & 0xFFFF, 4);
    os << ":  ";
  }
  for (size_t k = 0; k < count; ++k) {
    if (k == 8) os << ' ';
    put_hex(os, data[k], 2);
    os << ' ';
  }
  if (count < 16) {
    size_t pad = 3 * (16 - count);
    if (pad >= 24) ++pad;  // the middle blank of a full line
    os << std::string(pad, ' ');
  }
  os << ' ';
  for (size_t k = 0; k < count; ++k) {
    char c = static_cast<char>(data[k]);
    os << (data[k] >= 0x20 && data[k] <= 0x7E ? c : '.');
  }
}

void hexdump_text(std::string& out, const uint8_t* data, size_t start, size_t end,
                  uint64_t base_address, bool with_address, hex_progress_callback callback,
                  uint32_t context) {
  out.clear();
  if (!data || start >= end) return;
  std::ostringstream line;
  uint64_t address = base_address;
  for (size_t p = start; p < end; p += 16, address += 16) {
    size_t n = end - p < 16 ? end - p : 16;
    line.str(std::string());
    hexdump_line(line, data + p, n, address, with_address);
    out += line.str();
    out += '\n';
    if (callback)
      callback(context, static_cast<uint32_t>(p), static_cast<uint32_t>(end));
  }
}

void hexdump_limited_to(std::ostream& os, const uint8_t* data, size_t size,
                        uint64_t base_address) {
  if (size > k_hexdump_limit) {
    os << "size to big to output: size 0x" << std::hex << size << '\n';
    return;
  }
  std::string text;
  hexdump_text(text, data, 0, size, base_address, true);
  os << text;
}

void hexdump_limited(const parse_debug& debug, const uint8_t* data, size_t size,
                     uint64_t base_address) {
  if (!debug_output_enabled(debug) || !data) return;
  hexdump_limited_to(*debug.m_debug_stream, data, size, base_address);
}

}  // namespace vk
