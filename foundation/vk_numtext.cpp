#include "foundation/vk_numtext.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"

namespace vk {

namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool is_c_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

uint32_t strtoul32(const char* s, unsigned base) {
  while (is_c_space(*s)) ++s;
  bool negative = false;
  if (*s == '-') {
    negative = true;
    ++s;
  } else if (*s == '+') {
    ++s;
  }
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
      static_cast<unsigned>(digit_value(s[2])) < 16)
    s += 2;
  uint64_t value = 0;
  bool overflow = false;
  for (; static_cast<unsigned>(digit_value(*s)) < base; ++s) {
    if (overflow) continue;
    value = value * base + static_cast<unsigned>(digit_value(*s));
    if (value > 0xFFFFFFFFull) overflow = true;
  }
  if (overflow) return 0xFFFFFFFFu;
  uint32_t v = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - v) : v;
}

namespace {

const char* const k_month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const k_month_names_lower[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                             "jul", "aug", "sep", "oct", "nov", "dec"};

// Position of the long form of a date field in the template, else of its
// short form, with the matching flag added; false when neither is there.
bool find_date_field(const std::string& tmpl, const char* long_form, uint8_t long_flag,
                     const char* short_form, uint8_t short_flag, uint8_t& flags, size_t& pos) {
  pos = tmpl.find(long_form);
  if (pos != std::string::npos) {
    flags |= long_flag;
    return true;
  }
  pos = tmpl.find(short_form);
  if (pos == std::string::npos) return false;
  flags |= short_flag;
  return true;
}

}  // namespace

// ---- date/time layout ----

bool build_time_format_settings(time_format_settings& out, const std::string& date_template,
                                const std::string& time_template, bool pair) {
  using d = time_format_descriptor;
  out.m_descriptor.clear();
  out.m_min_year = 1900;
  out.m_max_year = 2600;
  out.m_reserved = 0;
  if (pair) out.m_descriptor.m_time_flags |= d::pair_datetime;

  const std::string& dt = date_template;
  if (!dt.empty()) {
    if (dt.find('/') != std::string::npos)
      out.m_descriptor.m_separator = '/';
    else if (dt.find('-') != std::string::npos)
      out.m_descriptor.m_separator = '-';
    else if (dt.find(' ') != std::string::npos)
      out.m_descriptor.m_separator = ' ';

    uint8_t& flags = out.m_descriptor.m_date_flags;
    size_t month_pos = 0, year_pos = 0;
    if (!find_date_field(dt, "mmm", d::month_name, "mm", d::month_digits, flags, month_pos))
      return false;
    if (!find_date_field(dt, "yyyy", d::year_four, "yy", d::year_two, flags, year_pos))
      return false;

    if (dt.find(',') != std::string::npos) flags |= d::has_comma;

    const size_t day_pos = dt.find("dd");
    if (day_pos == std::string::npos) return false;
    if (day_pos < month_pos && month_pos < year_pos)
      flags |= d::order_dmy;
    else if (month_pos < day_pos && day_pos < year_pos)
      flags |= d::order_mdy;
    else if (year_pos < month_pos && month_pos < day_pos)
      flags |= d::order_ymd;
    else
      return false;
  }

  if (!time_template.empty()) {
    const size_t first = time_template.find("xxx");
    if (first != std::string::npos) {
      // The last 'x' lies at or after first + 2, so n is at least 3.
      size_t n = time_template.rfind('x') - first + 1;
      if (n > 9) n = 9;
      out.m_descriptor.m_time_flags = static_cast<uint8_t>(
          (out.m_descriptor.m_time_flags & ~d::subsecond_mask) | ((n << 1) & d::subsecond_mask));
    }
  }
  return true;
}

// ---- reading numbers ----

bool parse_uint(const char* text, uint32_t& out) {
  out = 0;
  if (!text) return false;
  return vk::guarded(
      [&] {
        std::string trimmed = text;
        if (!trim_ws(trimmed)) return false;
        std::string lower = trimmed;
        str_to_lower(lower);

        if (lower.size() > 1 && lower[1] == 'x') {
          out = strtoul32(lower.c_str() + 2, 16);
          return true;
        }
        if (lower[0] == 'x') {
          out = strtoul32(lower.c_str() + 1, 16);
          return true;
        }
        if (lower[0] == 'o') {
          out = strtoul32(lower.c_str() + 1, 8);
          return true;
        }
        if (lower[0] == '-' || lower[0] == '+' || (lower[0] >= '0' && lower[0] <= '9')) {
          out = strtoul32(lower.c_str(), 10);
          return true;
        }
        if (trimmed.size() == 3 && trimmed[0] == '\'' && trimmed[2] == '\'') {
          out = static_cast<unsigned char>(trimmed[1]);
          return true;
        }
        return false;
      },
      [&] {
        out = 0;
        return false;
      });
}

bool parse_uint(const std::string& text, uint32_t& out) {
  return parse_uint(text.c_str(), out);
}

namespace {

// The value of a digit in the base, or -1.
int digit_value(char c, unsigned base) {
  int v = -1;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  return v >= 0 && static_cast<unsigned>(v) < base ? v : -1;
}

// The plain form (leading digits that cannot overflow, no blank, sign or
// base prefix) read directly; false leaves the rest to the stream reader.
bool plain_number(const std::string& text, std::ios_base::fmtflags base, uint64_t& value) {
  const std::ios_base::fmtflags field = base & std::ios_base::basefield;
  unsigned b = 0, safe = 0;
  if (field == std::ios_base::hex) {
    b = 16;
    safe = 16;
  } else if (field == std::ios_base::dec) {
    b = 10;
    safe = 19;
  } else if (field == std::ios_base::oct) {
    b = 8;
    safe = 21;
  } else {
    return false;
  }
  if (text.empty() || digit_value(text[0], b) < 0) return false;
  if (b == 16 && text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return false;
  uint64_t v = 0;
  size_t i = 0;
  for (int d; i < text.size() && (d = digit_value(text[i], b)) >= 0; ++i) {
    if (i == safe) return false;
    v = v * b + static_cast<unsigned>(d);
  }
  value = v;
  return true;
}

}  // namespace

uint64_t parse_i64_base(const std::string& text, std::ios_base::fmtflags base) {
  uint64_t plain = 0;
  if (plain_number(text, base, plain)) return plain;
  return vk::guarded([&]() -> uint64_t {
    std::istringstream is(text);
    is.setf(base & std::ios_base::basefield, std::ios_base::basefield);
    uint64_t value = 0;
    if (!(is >> value)) return 0;
    return value;
  });
}

bool guid_from_text(const std::string& text, guid& out) {
  out.clear();
  if (text.size() < 22) return false;
  return vk::guarded(
      [&] {
        std::istringstream is(text);
        is >> std::hex;
        uint32_t data1 = 0;
        uint16_t data2 = 0, data3 = 0, group4 = 0;
        uint64_t group5 = 0;
        char sep = 0;
        is >> data1 >> sep >> data2 >> sep >> data3 >> sep >> group4 >> sep >> group5;
        if (is.fail()) return false;
        store_le32(out.m_bytes, data1);
        store_le16(out.m_bytes + 4, data2);
        store_le16(out.m_bytes + 6, data3);
        // The last two groups keep the text's digit order.
        out.m_bytes[8] = static_cast<uint8_t>(group4 >> 8);
        out.m_bytes[9] = static_cast<uint8_t>(group4);
        for (int i = 0; i < 6; ++i)
          out.m_bytes[10 + i] = static_cast<uint8_t>(group5 >> (40 - 8 * i));
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

// ---- writing numbers and byte lists ----

namespace {

constexpr char k_digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The decimal digits of value, ending at end (room for 20); returns where
// they start. Two digits at a time: reports write many numbers. Values that
// fit 32 bits go through the 32-bit type, whose division is cheaper.
template <class Unsigned>
char* decimal_digits(char* end, Unsigned value) {
  char* p = end;
  while (value >= 100) {
    p -= 2;
    std::memcpy(p, k_digit_pairs + 2 * (value % 100), 2);
    value /= 100;
  }
  if (value >= 10) {
    p -= 2;
    std::memcpy(p, k_digit_pairs + 2 * value, 2);
  } else {
    *--p = static_cast<char>('0' + value);
  }
  return p;
}

constexpr uint64_t k_pow10[20] = {1ull,
                                  10ull,
                                  100ull,
                                  1000ull,
                                  10000ull,
                                  100000ull,
                                  1000000ull,
                                  10000000ull,
                                  100000000ull,
                                  1000000000ull,
                                  10000000000ull,
                                  100000000000ull,
                                  1000000000000ull,
                                  10000000000000ull,
                                  100000000000000ull,
                                  1000000000000000ull,
                                  10000000000000000ull,
                                  100000000000000000ull,
                                  1000000000000000000ull,
                                  10000000000000000000ull};

}  // namespace

void append_decimal(std::string& out, uint64_t value) {
  char digits[20];
  const char* p = decimal_digits(digits + sizeof digits, value);
  out.append(p, static_cast<size_t>(digits + sizeof digits - p));
}

char* put_decimal(char* at, uint64_t value) {
  // floor(log10) from the bit width (1233/4096 just above log10(2)), one
  // below the digit count, then set right by one comparison.
  const unsigned t = (static_cast<unsigned>(std::bit_width(value | 1)) * 1233) >> 12;
  const size_t n = t + 1 - ((value | 1) < k_pow10[t] ? 1 : 0);
  if (value <= 0xFFFFFFFFull)
    decimal_digits(at + n, static_cast<uint32_t>(value));
  else
    decimal_digits(at + n, value);
  return at + n;
}

char* put_hex_number_text(char* at, uint64_t value, bool prefix, unsigned width) {
  if (!prefix) return put_decimal(at, value);
  if (width == 0)
    width = value <= 0xFFull ? 2 : value <= 0xFFFFull ? 4 : value <= 0xFFFFFFull ? 6 : 8;
  if (width > 16) width = 16;
  if (width == 8 && value <= 0xFFFFFFFFull) {
    // The common 32-bit field: four pairs, no count.
    at[0] = '0';
    at[1] = 'x';
    for (unsigned i = 0; i < 4; ++i)
      std::memcpy(at + 8 - 2 * i, k_hex_byte_pairs.data() + 2 * ((value >> (8 * i)) & 0xFF), 2);
    return at + 10;
  }
  const unsigned digits =
      std::max(width, value == 0 ? 1u : (static_cast<unsigned>(std::bit_width(value)) + 3) / 4);
  at[0] = '0';
  at[1] = 'x';
  char* const end = at + 2 + digits;
  char* p = end;
  for (unsigned left = digits; left >= 2; left -= 2, value >>= 8) {
    p -= 2;
    std::memcpy(p, k_hex_byte_pairs.data() + 2 * (value & 0xFF), 2);
  }
  if (p != at + 2) *--p = k_hex_byte_pairs[2 * (value & 15) + 1];
  return end;
}

void append_hex_number_text(std::string& out, uint64_t value, bool prefix, unsigned width) {
  if (width <= 16) {
    char text[k_number_text_room];
    out.append(text, static_cast<size_t>(put_hex_number_text(text, value, prefix, width) - text));
    return;
  }
  if (!prefix) return append_decimal(out, value);
  if (width == 0)
    width = value <= 0xFFull ? 2 : value <= 0xFFFFull ? 4 : value <= 0xFFFFFFull ? 6 : 8;
  static const char k_hex[] = "0123456789abcdef";
  char digits[16];
  char* const end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = k_hex[value & 15];
    value >>= 4;
  } while (value != 0);
  const auto n = static_cast<size_t>(end - p);
  out += "0x";
  if (width > n) out.append(width - n, '0');
  out.append(p, n);
}

const std::string& hex_number_text(std::string& out, uint64_t value, bool prefix, unsigned width) {
  out.clear();
  vk::guarded([&] { append_hex_number_text(out, value, prefix, width); }, [&] { out.clear(); });
  return out;
}

std::string hex_number_text(uint64_t value, bool prefix, unsigned width) {
  std::string out;
  hex_number_text(out, value, prefix, width);
  return out;
}

std::string dash_line(size_t count) {
  return vk::guarded([&] { return std::string(count, '-'); });
}

bool bytes_to_hex_list(std::string& out, const uint8_t* bytes, size_t count, const std::string& sep,
                       bool prefix) {
  out.clear();
  if (!bytes || count == 0) return false;
  static const char k_hex[] = "0123456789abcdef";
  if (!vk::guarded(
          [&] {
            out.reserve(count * (2 + sep.size() + (prefix ? 2 : 0)));
            for (size_t i = 0; i < count; ++i) {
              if (i) out += sep;
              if (prefix) out += "0x";
              out += k_hex[bytes[i] >> 4];
              out += k_hex[bytes[i] & 0xF];
            }
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

bool hex_list_text(std::string& out, const std::vector<uint8_t>& bytes, const std::string& sep,
                   bool prefix) {
  return bytes_to_hex_list(out, bytes.data(), bytes.size(), sep, prefix);
}

std::string hex_list_text(const std::vector<uint8_t>& bytes, const std::string& sep) {
  std::string out;
  hex_list_text(out, bytes, sep, false);
  return out;
}

bool guid_initializer_text(std::string& out, const guid& g) {
  char buf[128];
  std::snprintf(buf, sizeof(buf),
                "0x%08x, 0x%04x, 0x%04x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, "
                "0x%02x",
                load_le32(g.m_bytes), load_le16(g.m_bytes + 4), load_le16(g.m_bytes + 6),
                g.m_bytes[8], g.m_bytes[9], g.m_bytes[10], g.m_bytes[11], g.m_bytes[12],
                g.m_bytes[13], g.m_bytes[14], g.m_bytes[15]);
  vk::assign_text(out, buf);
  return true;
}

bool propkey_initializer_text(std::string& out, const guid& g, uint16_t pid) {
  guid_initializer_text(out, g);
  vk::guarded([&] { out += ", " + std::to_string(pid); });
  return true;
}

bool c_byte_array_text(const char* name, const std::vector<uint8_t>& bytes, std::string& out) {
  out.clear();
  if (!name || bytes.empty()) return false;
  if (!vk::guarded(
          [&] {
            std::string list;
            bytes_to_hex_list(list, bytes.data(), bytes.size(), ", ", true);
            out = "const byte ";
            out += name;
            out += "[] = {";
            out += list;
            out += "};";
            return true;
          },
          [&] { out.clear(); }))
    return false;
  return true;
}

bool address_bytes_text(const uint8_t* bytes, size_t count, std::string& out) {
  out.clear();
  if (!bytes) return false;
  char buf[64];
  if (count == 4) {
    std::snprintf(buf, sizeof(buf), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  } else if (count == 6 || count == 8) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
      n += static_cast<size_t>(
          std::snprintf(buf + n, sizeof(buf) - n, i ? ":%02x" : "%02x", bytes[i]));
  } else {
    return false;
  }
  return vk::assign_text(out, buf);
}

bool swap_bytes_u32(uint32_t value, uint32_t& out) {
  out =
      ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) | (value >> 24);
  return true;
}

bool ipv4_to_string(uint32_t address, std::string& out) {
  uint32_t swapped = 0;
  swap_bytes_u32(address, swapped);
  // The swapped value's bytes in little-endian memory order put the original
  // most significant byte first.
  uint8_t b[4];
  store_le32(b, swapped);
  return address_bytes_text(b, 4, out);
}

void write_hex_value_line(std::ostream& os, const char* label, uint64_t value) {
  if (!label) return;
  vk::guarded([&] {
    const std::string h = hex_number_text(value, true, 2);
    os << label << ": " << h << "/" << h;
  });
}

// ---- months ----

const char* month_abbrev(int month) {
  if (month < 1 || month > 12) return "";
  return k_month_names[month - 1];
}

int month_from_abbrev(const char* text) {
  if (!text) return -1;
  for (int i = 0; i < 3; ++i)
    if (text[i] == '\0') return -1;  // shorter than three characters
  for (int m = 0; m < 12; ++m)
    if (iequals_n_buf(text, k_month_names_lower[m], 3)) return m + 1;
  return -1;
}

int month_from_abbrev(const std::string& text) {
  if (text.size() < 3) return -1;
  return month_from_abbrev(text.c_str());
}

void fill_month_map(std::map<std::string, int>& months) {
  if (!months.empty()) return;
  vk::guarded([&] {
    for (int m = 0; m < 12; ++m) months.emplace(k_month_names_lower[m], m + 1);
  });
}

}  // namespace vk
