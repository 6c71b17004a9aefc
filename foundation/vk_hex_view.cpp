#include "foundation/vk_hex_view.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "foundation/vk_dir_ops.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"

namespace vk {

namespace {

constexpr uint32_t k_line = 16;
constexpr char k_digits[] = "0123456789abcdef";

char printable(uint8_t b) {
  return b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
}

void append_hex(std::string& s, uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i) s += k_digits[(v >> (4 * i)) & 0xF];
}

// The bytes of a view, owned or borrowed.
const uint8_t* view_bytes(const binary_data& view) {
  return view.m_owns ? view.m_bytes.data() : view.m_data;
}

// [start, start + count) clipped to the view; count 0 when start is past it.
uint32_t clip_count(const binary_data& view, uint32_t start, uint32_t count) {
  if (start >= view.m_num_data || !view_bytes(view)) return 0;
  return std::min(count, view.m_num_data - start);
}

// The address column of a hex-dump line. With wide_upper the group of bits
// 32-47 is always 4 digits.
void append_address(std::string& s, uint64_t base, bool wide_upper) {
  const uint64_t high = base >> 32;
  if (high != 0) {
    const uint64_t top = high >> 16, low = high & 0xFFFF;
    if (top != 0) {
      append_hex(s, top, 4);
      s += ' ';
      append_hex(s, low, 4);
    } else {
      append_hex(s, low, wide_upper ? 4 : low <= 0xF ? 1 : low <= 0xFF ? 2 : 4);
    }
    s += ' ';
  }
  append_hex(s, (base >> 16) & 0xFFFF, 4);
  s += ' ';
  append_hex(s, base & 0xFFFF, 4);
  s += ":  ";
}

// Filler after a short line, so that every character column starts at the
// same place, then the separating blank and the characters.
void append_tail(std::string& s, const uint8_t* data, size_t n) {
  if (n < k_line) {
    size_t pad = 3 * (k_line - n);
    if (pad >= 24) ++pad;  // the middle blank of a full line
    s.append(pad, ' ');
  }
  s += ' ';
  for (size_t k = 0; k < n; ++k) s += printable(data[k]);
}

// One hex-dump line of n (at most 16) bytes, no line end.
void append_line(std::string& s, const uint8_t* data, size_t n, uint64_t base, bool address) {
  if (address) append_address(s, base, false);
  for (size_t k = 0; k < n; ++k) {
    if (k == 8) s += ' ';
    append_hex(s, data[k], 2);
    s += ' ';
  }
  append_tail(s, data, n);
}

// The caller's stream keeps its number base: what it writes next is not
// turned hexadecimal by this line.
void refuse_size(std::ostream& os, size_t size) {
  const std::ios_base::fmtflags flags = os.flags();
  os << "size to big to output: size 0x" << std::hex << size << '\n';
  os.flags(flags);
}

// A borrowing view of the caller's buffer in the hex-dump-lines form.
binary_data lines_view(const uint8_t* buffer, uint32_t size) {
  binary_data view = binary_data_from_buffer(buffer, size, false);
  view.m_mode = mode_hex | mode_lines;
  return view;
}

}  // namespace

// ---- pointer forms ----

void hexdump_line(std::ostream& os, const uint8_t* data, size_t count, uint64_t base_address,
                  bool with_address) {
  if (!data) return;
  os << std::setfill('0') << std::right;
  if (with_address) os << std::hex;
  guarded([&] {
    std::string s;
    append_line(s, data, std::min<size_t>(count, k_line), base_address, with_address);
    os << s;
  });
}

void hexdump_text(std::string& out, const uint8_t* data, size_t start, size_t end,
                  uint64_t base_address, bool with_address, hex_progress_callback callback,
                  uint32_t context) {
  out.clear();
  if (!data || start >= end) return;
  guarded([&] {
    out.reserve(5 * (end - start) + 80);
    // Lines go straight into the text, in hexdump_line's form.
    for (size_t p = start; p < end;
         p += std::min<size_t>(k_line, end - p), base_address += k_line) {
      append_line(out, data + p, std::min<size_t>(k_line, end - p), base_address, with_address);
      out += '\n';
      if (callback) callback(context, static_cast<uint32_t>(p), static_cast<uint32_t>(end));
    }
  });
}

void hexdump_limited_to(std::ostream& os, const uint8_t* data, size_t size, uint64_t base_address) {
  if (size > k_hexdump_limit) return refuse_size(os, size);
  std::string text;
  hexdump_text(text, data, 0, size, base_address, true);
  os << text;
}

void hexdump_limited(const parse_debug& debug, const uint8_t* data, size_t size,
                     uint64_t base_address) {
  if (!debug_output_enabled(debug) || !data) return;
  hexdump_limited_to(*debug.m_debug_stream, data, size, base_address);
}

// ---- the view ----

binary_data::binary_data(const binary_data& other)
    : m_num_data(other.m_num_data),
      m_bytes(other.m_bytes),
      m_mode(other.m_mode),
      m_owns(other.m_owns),
      m_data(other.m_owns ? m_bytes.data() : other.m_data) {}

binary_data& binary_data::operator=(const binary_data& other) {
  if (this == &other) return *this;
  m_bytes = other.m_bytes;
  m_num_data = other.m_num_data;
  m_mode = other.m_mode;
  m_owns = other.m_owns;
  m_data = m_owns ? m_bytes.data() : other.m_data;
  return *this;
}

binary_data::~binary_data() {
  clear();
}

uint8_t binary_data::operator()(uint32_t index) const {
  assert(index < m_num_data && "index < m_num_data");
  if (index >= m_num_data) return 0;
  return m_owns ? m_bytes[index] : m_data[index];
}

bool binary_data::clear() {
  if (!m_owns) return false;
  m_num_data = 0;
  m_bytes.clear();
  return true;
}

bool binary_data::append_byte(uint8_t byte) {
  return append_bytes(&byte, 1);
}

bool binary_data::append_bytes(const uint8_t* bytes, uint32_t count) {
  if (!m_owns || !bytes || count > UINT32_MAX - m_num_data) return false;
  if (!guarded([&] {
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
        return true;
      }))
    return false;
  m_num_data += count;
  return true;
}

bool binary_data::erase_range(uint32_t start, uint32_t len) {
  if (!m_owns || start >= m_num_data) return false;
  const uint32_t n = std::min(len, m_num_data - start);
  m_bytes.erase(m_bytes.begin() + start, m_bytes.begin() + start + n);
  m_num_data -= n;
  return true;
}

bool binary_data::load_file_range(const std::string& path, uint32_t offset, uint32_t len) {
  if (!m_owns) return false;
  const bool loaded = guarded([&] {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= static_cast<std::streamoff>(offset)) return false;
    const auto n = static_cast<uint32_t>(
        std::min<std::streamoff>(len, size - static_cast<std::streamoff>(offset)));
    std::vector<uint8_t> bytes(n);
    in.seekg(offset, std::ios::beg);
    in.read(reinterpret_cast<char*>(bytes.data()), n);
    if (in.gcount() != static_cast<std::streamsize>(n)) return false;
    m_bytes = std::move(bytes);
    return true;
  });
  if (!loaded) return false;
  m_num_data = static_cast<uint32_t>(m_bytes.size());
  m_data = m_bytes.data();
  return true;
}

binary_data binary_data_from_buffer(const uint8_t* buffer, uint32_t size, bool copy) {
  binary_data view;
  if (!buffer || size == 0) return view;
  if (copy) {
    if (!guarded([&] {
          view.m_bytes.assign(buffer, buffer + size);
          return true;
        }))
      return view;
    view.m_owns = true;
    view.m_data = view.m_bytes.data();
  } else {
    view.m_data = buffer;
  }
  view.m_num_data = size;
  return view;
}

binary_data binary_data_from_vector(const std::vector<uint8_t>& bytes, bool copy) {
  if (bytes.size() > UINT32_MAX) return binary_data();
  return binary_data_from_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()), copy);
}

binary_data binary_data_filled(uint32_t size, uint8_t fill) {
  binary_data view;
  view.m_owns = true;
  if (!guarded([&] {
        view.m_bytes.assign(size, fill);
        return true;
      }))
    return view;
  view.m_num_data = size;
  view.m_data = view.m_bytes.data();
  return view;
}

binary_data binary_data_zeroed(uint32_t size) {
  return binary_data_filled(size, 0);
}

// ---- writers ----

void hexdump_line(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                  uint64_t base, bool address) {
  const uint32_t n = clip_count(view, start, std::min(count, k_line));
  os << std::setfill('0') << std::right;
  if (address) os << std::hex;
  if (n) hexdump_line(os, view_bytes(view) + start, n, base, address);
}

void hexdump_text(std::string& out, const binary_data& view, uint32_t start, uint32_t end,
                  uint64_t base, bool address, hex_progress_callback callback, uint32_t context) {
  // The caller's end may pass the view: clip it.
  hexdump_text(out, view_bytes(view), start, std::min(end, view.m_num_data), base, address,
               callback, context);
}

void hexdump_stream_line(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                         uint64_t base, bool address) {
  const uint32_t n = clip_count(view, start, std::min(count, k_line));
  guarded([&] {
    if (address) {
      std::string s;
      append_address(s, base, true);
      os << std::hex << std::setfill('0') << s;
    }
    for (uint32_t k = 0; k < n; ++k) {
      if (k == 8) os << ' ';
      os << std::setw(2) << static_cast<unsigned>(view(start + k)) << ' ';
    }
    std::string tail;
    append_tail(tail, view_bytes(view) + start, n);
    os << tail;
  });
}

void hexdump_stream(std::ostream& os, const binary_data& view, uint32_t start, uint32_t end,
                    uint64_t base, bool address, hex_progress_callback callback, uint32_t context) {
  const std::ios_base::fmtflags saved = os.flags();
  os << std::hex << std::setfill('0');
  end = std::min(end, view.m_num_data);
  for (uint32_t p = start; p < end; p += std::min(k_line, end - p), base += k_line) {
    hexdump_stream_line(os, view, p, std::min(k_line, end - p), base, address);
    os << '\n';
    if (callback) callback(context, p, end);
  }
  os.setf(saved);
}

void hexdump_line_utf16(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                        uint64_t base) {
  const uint32_t n = clip_count(view, start, std::min(count, k_line));
  guarded([&] {
    char buf[32];
    std::string s;
    const auto high = static_cast<uint32_t>(base >> 32);
    if (high >> 16) {
      std::snprintf(buf, sizeof buf, "%04x ", high >> 16);
      s += buf;
    }
    if (high) {
      std::snprintf(buf, sizeof buf, "%04x ", high & 0xFFFF);
      s += buf;
    }
    // No colon here: the two blanks alone part the address from the bytes.
    std::snprintf(buf, sizeof buf, "%04x %04x  ", static_cast<uint32_t>(base >> 16) & 0xFFFF,
                  static_cast<uint32_t>(base) & 0xFFFF);
    s += buf;
    for (uint32_t k = 0; k < n; ++k) {
      if (k == 8) s += ' ';
      std::snprintf(buf, sizeof buf, "%02x ", view(start + k));
      s += buf;
    }
    append_tail(s, view_bytes(view) + start, n);
    std::string wide;
    wide.reserve(2 * s.size());
    for (char c : s) {
      wide += c;
      wide += '\0';
    }
    os.write(wide.data(), static_cast<std::streamsize>(wide.size()));
  });
}

void hexdump_utf16_lines(std::ostream& os, const binary_data& view, uint32_t start, uint32_t end,
                         uint64_t base) {
  static const char k_crlf[] = {'\r', '\0', '\n', '\0'};
  end = std::min(end, view.m_num_data);
  for (uint32_t p = start; p < end; p += std::min(k_line, end - p), base += k_line) {
    hexdump_line_utf16(os, view, p, std::min(k_line, end - p), base);
    os.write(k_crlf, 4);
  }
}

void dump_hex_bytes(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count) {
  const uint32_t n = clip_count(view, start, count);
  guarded([&] {
    std::string s;
    char buf[4];
    for (uint32_t i = start; i < start + n; ++i) {
      std::snprintf(buf, sizeof buf, "%02x ", view(i));
      s += buf;
      if ((i + 1) % k_line == 0) s += '\n';
    }
    s += '\n';
    os << s;
  });
}

void dump_raw_bytes(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count) {
  const uint32_t n = clip_count(view, start, count);
  if (n == 0) return;
  os.write(reinterpret_cast<const char*>(view_bytes(view) + start), n);
}

void dump_text_line(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                    uint64_t base, bool grouped) {
  const uint32_t n = clip_count(view, start, count);
  guarded([&] {
    char buf[32];
    if (base >> 32) {
      std::snprintf(buf, sizeof buf, "%04x ", static_cast<uint32_t>(base >> 32) & 0xFFFF);
      os << buf;
    }
    std::snprintf(buf, sizeof buf, "%04x %04x:  ", static_cast<uint32_t>(base >> 16) & 0xFFFF,
                  static_cast<uint32_t>(base) & 0xFFFF);
    os << buf << std::setfill(' ') << std::left << std::dec;
    std::string s;
    for (uint32_t k = 0; k < n; ++k) {
      if (grouped && k > 0 && k % 4 == 0) s += ' ';
      if (grouped && k > 0 && k % 16 == 0) s += "  ";
      s += printable(view(start + k));
    }
    os << s;
  });
}

void dump_text_lines(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                     uint64_t base, bool grouped) {
  const uint32_t step = grouped ? 48 : 64;
  const uint32_t n = clip_count(view, start, count);
  for (uint32_t done = 0; done < n; done += std::min(step, n - done)) {
    dump_text_line(os, view, start + done, std::min(step, n - done), base + done, grouped);
    os << '\n';
  }
}

void write_binary_data(std::ostream& os, const binary_data& view) {
  const bool hex = view.m_mode & mode_hex, lines = view.m_mode & mode_lines;
  if (hex && lines) {
    hexdump_stream(os, view, 0, view.m_num_data, 0, true, nullptr, 0);
  } else if (hex) {
    dump_hex_bytes(os, view, 0, view.m_num_data);
  } else if (lines) {
    dump_text_lines(os, view, 0, view.m_num_data, 0, true);
  } else {
    dump_raw_bytes(os, view, 0, view.m_num_data);
  }
}

bool write_binary_data_file(const binary_data& view, const std::string& path) {
  return guarded([&] {
    std::ostringstream text;
    write_binary_data(text, view);
    const std::string bytes = text.str();
    return vkportdir::replace_file_contents(path, bytes.data(), bytes.size());
  });
}

void write_binary_data_range(const binary_data& view, std::ostream& os, uint32_t start,
                             uint32_t count, uint64_t base) {
  const uint32_t n = clip_count(view, start, count);
  if (n == 0) return;
  const uint32_t mode = view.m_mode;
  if (mode & mode_hex) {
    if (!(mode & (mode_lines | mode_grouped)))
      dump_hex_bytes(os, view, start, n);
    else
      hexdump_stream(os, view, start, start + n, base, (mode & mode_lines) != 0, nullptr, 0);
  } else if (mode & (mode_grouped | mode_text)) {
    if (!(mode & mode_lines))
      dump_raw_bytes(os, view, start, n);
    else
      dump_text_lines(os, view, start, n, base, (mode & mode_grouped) != 0);
  }
}

// ---- front ends ----

void hexdump_to_stream_progress(const uint8_t* buffer, uint32_t size, std::ostream& os,
                                uint32_t start, uint64_t base, hex_progress_callback callback,
                                uint32_t context) {
  if (size > k_hexdump_limit) return refuse_size(os, size);
  std::string text;
  hexdump_text(text, lines_view(buffer, size), start, size, base, true, callback, context);
  os << text;
}

void hexdump_to_stream(const uint8_t* buffer, uint32_t size, std::ostream& os, uint32_t start,
                       uint64_t base) {
  hexdump_to_stream_progress(buffer, size, os, start, base, nullptr, 0);
}

void hexdump_to_string_progress(const uint8_t* buffer, uint32_t size, std::string& out,
                                uint32_t start, uint64_t base, hex_progress_callback callback,
                                uint32_t context) {
  hexdump_text(out, lines_view(buffer, size), start, size, base, true, callback, context);
}

void hexdump_to_string(const uint8_t* buffer, uint32_t size, std::string& out, uint32_t start,
                       uint64_t base) {
  hexdump_to_string_progress(buffer, size, out, start, base, nullptr, 0);
}

void hexdump_buffer_to_stream(const uint8_t* buffer, uint32_t size, std::ostream& os,
                              uint32_t start, uint64_t base, bool address) {
  binary_data view = binary_data_from_buffer(buffer, size, false);
  view.m_mode = address ? (mode_hex | mode_lines) : (mode_grouped | mode_hex);
  hexdump_stream(os, view, start, size, base, address, nullptr, 0);
}

void hexdump_utf16_to_stream(const uint8_t* buffer, uint32_t size, std::ostream& os, uint32_t start,
                             uint64_t base) {
  hexdump_utf16_lines(os, lines_view(buffer, size), start, size, base);
}

void hexdump_vector(const std::vector<uint8_t>& bytes, std::ostream& os, uint32_t start,
                    uint64_t base) {
  if (bytes.empty()) return;
  const binary_data view = binary_data_from_vector(bytes, false);
  hexdump_stream(os, view, start, view.m_num_data, base, true, nullptr, 0);
}

void hexdump_vector_or_run(const std::vector<uint8_t>& bytes, std::ostream& os, uint32_t start,
                           uint64_t base) {
  if (start >= bytes.size()) return;
  const uint8_t first = bytes[start];
  if (std::all_of(bytes.begin() + start, bytes.end(), [first](uint8_t b) { return b == first; })) {
    const std::ios_base::fmtflags saved = os.flags();
    os << std::hex << std::setfill('0');
    guarded([&] {
      os << hex_number_text(base, true, 6) << " : value " << hex_number_text(first, true, 2)
         << " : " << hex_number_text(bytes.size() - start, true, 2) << " bytes\n";
    });
    os.setf(saved);
    return;
  }
  hexdump_vector(bytes, os, start, base);
}

}  // namespace vk
