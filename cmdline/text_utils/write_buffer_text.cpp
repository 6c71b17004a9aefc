#include "cmdline/text_utils/write_buffer_text.h"

#include <iomanip>
#include <map>
#include <vector>

#include "foundation/vk_guard.h"
#include "foundation/vk_guid.h"

namespace vk {

namespace {

void write_joined(std::ostream& os, const std::vector<std::string>& texts,
                  const std::string& separator) {
  std::string line;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) line += separator;
    line += texts[i];
  }
  os << line;
}

bool write_strings(std::ostream& os, const uint8_t* data, uint32_t size, uint32_t min_length,
                   const std::string& separator) {
  std::vector<std::string> ascii, wide;
  std::vector<uint64_t> ascii_at, wide_at;
  extract_ascii_strings(data, size, min_length, ascii, ascii_at);
  extract_utf16_strings(data, size, min_length, wide, wide_at);
  if (ascii.empty() && wide.empty()) return false;
  if (wide.empty()) {
    write_joined(os, ascii, separator);
  } else if (ascii.empty()) {
    write_joined(os, wide, separator);
  } else {
    // ASCII first, so that at an offset both found the ASCII string stays.
    std::map<uint64_t, std::string> by_offset;
    for (size_t i = 0; i < ascii.size() && i < ascii_at.size(); ++i)
      by_offset.emplace(ascii_at[i], std::move(ascii[i]));
    for (size_t i = 0; i < wide.size() && i < wide_at.size(); ++i)
      by_offset.emplace(wide_at[i], std::move(wide[i]));
    std::vector<std::string> ordered;
    ordered.reserve(by_offset.size());
    for (auto& entry : by_offset) ordered.push_back(std::move(entry.second));
    write_joined(os, ordered, separator);
  }
  return true;
}

}  // namespace

bool write_buffer_text(std::ostream& os, const uint8_t* data, uint32_t size, bool text_mode,
                       uint32_t min_length, const std::string& separator) {
  if (!data || size == 0) return false;
  if (text_mode) {
    if (size < min_length) return false;
    return vk::guarded([&] { return write_strings(os, data, size, min_length, separator); });
  }
  return vk::guarded([&] {
    static const char digits[] = "0123456789abcdef";
    os << std::right << std::hex << std::setfill('0');
    std::string line;
    line.reserve(static_cast<size_t>(size) * 3);
    for (uint32_t i = 0; i < size; ++i) {
      if (i) line += ' ';
      line += digits[data[i] >> 4];
      line += digits[data[i] & 15];
    }
    os << line;
    return true;
  });
}

bool render_bytes_text(std::ostream& os, const uint8_t* data, uint32_t size, bool text_mode,
                       uint32_t min_length, const std::string& separator) {
  return write_buffer_text(os, data, size, text_mode, min_length, separator);
}

}  // namespace vk
