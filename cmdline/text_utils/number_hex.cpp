#include "cmdline/text_utils/number_hex.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <string_view>

#include "foundation/vk_bytes.h"
#include "foundation/vk_counted_string.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_text_parse.h"

namespace vk {

namespace {

const char k_hex[] = "0123456789abcdef";

void put_hex_byte(std::string& out, uint8_t b) {
  out += k_hex[b >> 4];
  out += k_hex[b & 0xF];
}

// value in lower-case hex, zero-filled to at least digits.
void put_hex(std::string& out, uint64_t value, unsigned digits) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof(buf), value, 16);
  const size_t n = static_cast<size_t>(r.ptr - buf);
  if (n < digits) out.append(digits - n, '0');
  out.append(buf, n);
}

// The text as one whole number in the notations parse_u64_text reads
// (decimal, hexadecimal after "0x" or "x", octal after "o", blanks around
// it): every character after the prefix a digit of the base and the value
// within 64 bits. A reader that stops at the first foreign character would
// show "no" or "xyz" as 0.
bool whole_number(const std::string& text, uint64_t& value) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const size_t last = text.find_last_not_of(" \t");
  std::string_view digits(text.data() + first, last - first + 1);
  int base = 10;
  if (digits.size() > 2 && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  } else if (digits.size() > 2 && (digits[0] == 'x' || digits[0] == 'X')) {
    base = 16;
    digits.remove_prefix(1);
  } else if (digits[0] == 'o' || digits[0] == 'O') {
    base = 8;
    digits.remove_prefix(1);
  }
  if (digits.empty()) return false;
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  return r.ec == std::errc() && r.ptr == digits.data() + digits.size();
}

}  // namespace

std::string format_number_text(const std::string& text, bool hex, unsigned width) {
  return guarded([&]() -> std::string {
    uint64_t v = 0;
    if (!whole_number(text, v)) return "NaN";
    if (!hex) return std::to_string(v);
    if (width == 0) {
      if (v < 0xFFull)
        width = 2;
      else if (v < 0xFFFFull)
        width = 4;
      else if (v < 0xFFFFFFull)
        width = 6;
      else
        width = 8;
    }
    std::string out = "0x";
    put_hex(out, v, width);
    return out;
  });
}

std::string number_format_prefix(std::ostream& os, bool hex, unsigned width) {
  return guarded([&]() -> std::string {
    os.setf(hex ? std::ios_base::hex : std::ios_base::dec, std::ios_base::basefield);
    os.setf(std::ios_base::right, std::ios_base::adjustfield);
    os.fill(hex ? '0' : ' ');
    if (width) os.width(width);
    return hex ? "0x" : "";
  });
}

bool format_guid_styled(std::string& out, guid g, int style) {
  const uint8_t* b = g.m_bytes;
  return guarded(
      [&] {
        out.clear();
        switch (style) {
          case 1:
            out += "0x";
            put_hex(out, load_le32(b), 8);
            out += ", 0x";
            put_hex(out, load_le16(b + 4), 4);
            out += ", 0x";
            put_hex(out, load_le16(b + 6), 4);
            for (int i = 8; i < 16; ++i) {
              out += ", 0x";
              put_hex_byte(out, b[i]);
            }
            break;
          case 2:
            for (int i = 0; i < 16; ++i) {
              if (i) out += ' ';
              put_hex_byte(out, b[i]);
            }
            break;
          case 3:
            for (int i = 0; i < 16; ++i) {
              if (i) out += ", ";
              out += "0x";
              put_hex_byte(out, b[i]);
            }
            break;
          default:
            put_hex(out, load_le32(b), 8);
            out += '-';
            put_hex(out, load_le16(b + 4), 4);
            out += '-';
            put_hex(out, load_le16(b + 6), 4);
            out += '-';
            put_hex_byte(out, b[8]);
            put_hex_byte(out, b[9]);
            out += '-';
            for (int i = 10; i < 16; ++i) put_hex_byte(out, b[i]);
            break;
        }
        return true;
      },
      [&] {
        out.clear();
        return true;
      });
}

void bytes_to_hex_text(std::string& out, const uint8_t* bytes, size_t count, bool blank) {
  bytes_to_hex_list(out, bytes, count, blank ? " " : "", false);
}

void append_hex_dump(std::string& text, const uint8_t* bytes, size_t count, bool final_eol) {
  if (!bytes) count = 0;
  guarded([&] {
    std::string dump;
    dump.reserve(count / 16 * 68 + 70);
    std::string chars;
    for (size_t i = 0; i < count; ++i) {
      put_hex_byte(dump, bytes[i]);
      dump += ' ';
      chars += (bytes[i] >= 32 && bytes[i] <= 126) ? static_cast<char>(bytes[i]) : '.';
      if (chars.size() == 16) {
        dump += "  ";
        dump += chars;
        dump += '\n';
        chars.clear();
      }
    }
    if (!chars.empty()) {
      dump.append(3 * (16 - chars.size()), ' ');
      dump += "  ";
      dump += chars;
    }
    if (final_eol) dump += '\n';
    text += dump;
  });
}

namespace {

size_t write_label_value(std::ostream& os, const std::string& first, const std::string& second,
                         unsigned label_width, const std::string& label, const std::string& value) {
  guarded([&] {
    os << first << " : " << second << " : ";
    os.setf(std::ios_base::hex, std::ios_base::basefield);
    os.setf(std::ios_base::left, std::ios_base::adjustfield);
    os.fill(' ');
    os << std::setw(
              static_cast<int>(std::min<unsigned>(label_width, std::numeric_limits<int>::max())))
       << (label + ":") << value << '\n';
  });
  return value.size();
}

std::string hex_field(uint64_t v, unsigned digits) {
  std::string s;
  put_hex(s, v, digits);
  return s;
}

}  // namespace

size_t write_offset_line(std::ostream& os, uint64_t rel, uint64_t abs, unsigned label_width,
                         const std::string& label, const std::string& value) {
  return guarded([&] {
    return write_label_value(os, "0x" + hex_field(rel, 3), hex_field(abs, 6), label_width, label,
                             value);
  });
}

size_t write_based_offset_line(std::ostream& os, uint64_t rel, uint64_t base, unsigned label_width,
                               const std::string& label, const std::string& value) {
  return guarded([&] {
    return write_label_value(os, "0x" + hex_field(base + rel, 6), hex_field(rel, 3), label_width,
                             label, value);
  });
}

std::ostream& write_hex16(const uint8_t* bytes, std::ostream& os) {
  if (!bytes) return os;
  guarded([&] {
    std::string s;
    bytes_to_hex_text(s, bytes, 16, true);
    os << s;
  });
  return os;
}

std::ostream& write_hex16_line(const uint8_t* bytes, std::ostream& os) {
  write_hex16(bytes, os);
  guarded([&] { os << '\n'; });
  return os;
}

namespace {

// The decimals of a fraction in (0, 1) with precision significant digits,
// from its '.' on; "1" when it rounds up to a whole unit.
std::string fraction_digits(double frac, int precision) {
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof(buf), frac, std::chars_format::general, precision);
  std::string text(buf, r.ptr);
  const size_t e = text.find('e');
  if (e != std::string::npos) {
    // Tiny fractions come in scientific form; write them out in fixed form
    // with the same significant digits and no trailing zeros.
    int exp10 = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exp10);
    const int digits = std::max(0, precision - 1 - exp10);
    r = std::to_chars(buf, buf + sizeof(buf), frac, std::chars_format::fixed, digits);
    text.assign(buf, r.ptr);
    while (text.size() > 1 && text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  const size_t dot = text.find("0.");
  if (dot == std::string::npos) return text;
  return text.substr(dot + 1);
}

}  // namespace

std::string& format_double_plain(std::string& out, double value, int precision) {
  guarded(
      [&] {
        out.clear();
        if (std::isnan(value)) {
          out += "nan";
          return;
        }
        if (value < 0) {
          out += '-';
          value = -value;
        }
        if (std::isinf(value)) {
          out += "inf";
          return;
        }
        if (precision < 0) precision = 6;
        precision = std::min(std::max(precision, 1), 100);
        double whole = 0;
        const double frac = std::modf(value, &whole);
        std::string tail;
        if (frac != 0) {
          tail = fraction_digits(frac, precision);
          if (tail == "1") {
            whole += 1;  // the fraction rounded up to a whole unit
            tail.clear();
          } else if (!tail.empty() && tail[0] != '.') {
            tail.clear();  // nothing left to show at this precision
          }
        }
        char buf[400];
        auto r = std::to_chars(buf, buf + sizeof(buf), whole, std::chars_format::fixed, 0);
        out.append(buf, r.ptr);
        out += tail;
      },
      [&] { out.clear(); });
  return out;
}

size_t read_counted_string_list(std::vector<std::string>& list, const uint8_t* data,
                                size_t length) {
  list.clear();
  if (!data || length == 0) return 0;
  size_t header = 1;
  size_t n = data[0];
  if (data[0] & 0x80) {
    if (length < 2) return 0;
    header = 2;
    n = (static_cast<size_t>(data[0] & 0x7F) << 8) | data[1];
  }
  if (length == header || n > length - header) return header;
  return guarded(
      [&] {
        list.resize(n);  // n is at most the bytes that follow
        size_t pos = header;
        for (size_t i = 0; i < n && pos < length; ++i) {
          const size_t used = read_counted_string(list[i], data + pos, length - pos);
          if (used == 0) break;
          pos += used;
        }
        return pos;
      },
      [&] {
        list.clear();
        return header;
      });
}

size_t read_counted_string_vec(std::string& out, const byte_array& bytes) {
  if (bytes.empty()) {
    out.clear();
    return 0;
  }
  return read_counted_string(out, bytes.data(), bytes.size());
}

bool is_all_zero(const byte_array& bytes) {
  const size_t n = bytes.size();
  if (n % 8 == 0) {
    const byte_view v(bytes);
    for (uint64_t w, i = 0; v.block(i, w); i += 8)
      if (w != 0) return false;
    return true;
  }
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

void bytes_to_guid(guid& g, const byte_array& bytes) {
  if (bytes.size() >= 16) g.set(bytes.data());
}

namespace {

template <class T, size_t W>
bool scan_values(std::vector<std::vector<uint64_t>>& hits, const uint8_t* buffer, size_t length,
                 const std::vector<T>& values, size_t stride, bool first_hit) {
  hits.clear();
  if (!buffer || length < W || stride < W) return false;
  return guarded(
      [&] {
        hits.resize(values.size());
        const byte_view v(buffer, length);
        const size_t step = stride / W * W;
        bool found = false;
        std::array<uint8_t, W> bytes;
        for (size_t at = 0; v.block(at, bytes); at += step) {
          T unit;
          if constexpr (W == 4)
            unit = load_le32(bytes.data());
          else
            unit = load_le64(bytes.data());
          for (size_t k = 0; k < values.size(); ++k) {
            if (values[k] != unit) continue;
            hits[k].push_back(at);
            found = true;
            if (first_hit) return true;
          }
          if (step > length - at) break;
        }
        return found;
      },
      [&] { hits.clear(); });
}

}  // namespace

bool scan_u32_values(std::vector<std::vector<uint64_t>>& hits, const uint8_t* buffer, size_t length,
                     const std::vector<uint32_t>& values, size_t stride, bool first_hit) {
  return scan_values<uint32_t, 4>(hits, buffer, length, values, stride, first_hit);
}

bool scan_u64_values(std::vector<std::vector<uint64_t>>& hits, const uint8_t* buffer, size_t length,
                     const std::vector<uint64_t>& values, size_t stride, bool first_hit) {
  return scan_values<uint64_t, 8>(hits, buffer, length, values, stride, first_hit);
}

}  // namespace vk
