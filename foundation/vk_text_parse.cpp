#include "foundation/vk_text_parse.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <sstream>

#include "foundation/vk_counted_string.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

unsigned digit_of(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A' + 10);
  return 99;
}

// strtol with the semantics of a 32-bit long: white space and one sign
// accepted, "0x" before base-16 digits, reading stops at the first
// non-digit, and the result saturates at the signed 32-bit range.
int32_t strtol32(const char* s, unsigned base) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && digit_of(s[2]) < 16) s += 2;
  int64_t value = 0;
  for (; digit_of(*s) < base; ++s) {
    value = value * base + digit_of(*s);
    if (value > 0x80000000LL) value = 0x80000000LL;  // enough to saturate either way
  }
  if (negative) return static_cast<int32_t>(-value);
  return value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(value);
}

// Digits of one base read as a stream extraction of an unsigned 64-bit value
// does: one optional sign, then digits; an out-of-range value saturates.
uint64_t stream_read_u64(const char* s, size_t n, unsigned base) {
  size_t i = 0;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint64_t value = 0;
  bool any = false;
  for (; i < n && digit_of(s[i]) < base; ++i) {
    any = true;
    const uint64_t d = digit_of(s[i]);
    if (value > (std::numeric_limits<uint64_t>::max() - d) / base) {
      return std::numeric_limits<uint64_t>::max();
    }
    value = value * base + d;
  }
  if (!any) return 0;
  return negative ? 0 - value : value;
}

// The x / o / sign rules shared by the 32-bit readers. base receives 16, 8
// or 10 and digits the text to convert; false when none applies.
bool pick_int_branch(const char* text, std::string& work, unsigned& base, const char*& digits) {
  if (!text || !*text) return false;
  work = text;
  trim_ws(work);
  str_to_lower(work);
  const size_t x = work.find('x');
  if (x != std::string::npos) {
    base = 16;
    digits = work.c_str() + x + 1;
    return true;
  }
  const size_t o = work.find('o');
  if (o != std::string::npos) {
    base = 8;
    digits = work.c_str() + o + 1;
    return true;
  }
  if (!work.empty() && (work[0] == '-' || work[0] == '+' || (work[0] >= '0' && work[0] <= '9'))) {
    base = 10;
    digits = work.c_str();
    return true;
  }
  return false;
}

// A value read from a clock-time field: finite, not negative.
bool field_number(const std::string& field, double& out) {
  out = std::strtod(field.c_str(), nullptr);
  return std::isfinite(out) && out >= 0.0;
}

bool whole_u32(double v, uint32_t& out) {
  if (!(v >= 0.0 && v < 4294967296.0)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

enum class meridiem { none, am, pm };

// The fields of a clock time: hours before the first ':', minutes up to a
// second ':' (or the am/pm mark, or the end), seconds after a second ':'.
struct clock_fields {
  std::string hours, minutes, seconds;
  bool has_seconds = false;
  meridiem mark = meridiem::none;
};

bool split_clock_text(const char* text, clock_fields& f) {
  if (!text) return false;
  std::string s = text;
  trim_ws(s);
  str_to_lower(s);
  const size_t p1 = s.find(':');
  if (p1 == std::string::npos) return false;
  const size_t p2 = s.find(':', p1 + 1);
  const size_t m = s.find('m', p1 + 1);
  size_t end = s.size();
  if (m != std::string::npos) {
    if (s[m - 1] == 'p') f.mark = meridiem::pm;
    if (s[m - 1] == 'a') f.mark = meridiem::am;
    end = m - 1;
    if (end > 0 && s[end - 1] == ' ') --end;
  }
  const size_t minutes_end = p2 != std::string::npos ? p2 : end;
  if (minutes_end < p1 + 1) return false;
  f.hours = s.substr(0, p1);
  f.minutes = s.substr(p1 + 1, minutes_end - p1 - 1);
  if (p2 != std::string::npos) {
    if (end < p2 + 1) return false;
    f.has_seconds = true;
    f.seconds = s.substr(p2 + 1, end - p2 - 1);
  }
  return true;
}

// 12 pm stays 12, other pm hours gain 12; 12 am is hour 0.
double apply_meridiem(double hours, meridiem mark) {
  if (mark == meridiem::pm && hours != 12.0) return hours + 12.0;
  if (mark == meridiem::am && hours == 12.0) return 0.0;
  return hours;
}

}  // namespace

// ---- integers ----

bool parse_int_text(const char* text, uint32_t* out) {
  if (!out) return false;
  return vk::guarded([&] {
    std::string work;
    unsigned base = 10;
    const char* digits = nullptr;
    if (!pick_int_branch(text, work, base, digits)) return false;
    *out = base == 10 ? static_cast<uint32_t>(strtol32(digits, 10)) : strtoul32(digits, base);
    return true;
  });
}

bool parse_int_text(const std::string& text, uint32_t* out) {
  return parse_int_text(text.c_str(), out);
}

bool parse_int_wtext(const std::wstring& text, uint32_t* out) {
  return vk::guarded([&] {
    std::string narrow;
    to_utf8_assign(text.c_str(), narrow);
    return parse_int_text(narrow, out);
  });
}

bool parse_u64_text(const char* text, uint64_t* out) {
  if (!out) return false;
  *out = 0;
  if (!text) return false;
  size_t scanned = 0;
  const char* start = nullptr;
  size_t n = 0;
  for (const char* p = text; *p; ++p) {
    if (++scanned > 30) return false;
    if (*p == ' ' || *p == '\t') {
      if (start) return false;
      continue;
    }
    if (!start) start = p;
    ++n;
  }
  if (!start) return false;
  if (n > 2 && (start[1] == 'x' || start[1] == 'X' || start[0] == 'x' || start[0] == 'X')) {
    const size_t skip = (start[1] == 'x' || start[1] == 'X') ? 2 : 1;
    if (n - skip > 16) return false;
    *out = stream_read_u64(start + skip, n - skip, 16);
    return true;
  }
  if (start[0] == 'o' || start[0] == 'O') {
    if (n - 1 > 22) return false;
    *out = stream_read_u64(start + 1, n - 1, 8);
    return true;
  }
  if (n > 20) return false;
  *out = stream_read_u64(start, n, 10);
  return true;
}

bool parse_u64_text(const std::string& text, uint64_t* out) {
  return parse_u64_text(text.c_str(), out);
}

bool parse_long_text(std::string& text, int64_t* out) {
  if (!out) return false;
  return vk::guarded([&] {
    trim_ws(text);
    str_to_lower(text);
    std::string work;
    unsigned base = 10;
    const char* digits = nullptr;
    if (!pick_int_branch(text.c_str(), work, base, digits)) return false;
    *out = strtol32(digits, base);
    return true;
  });
}

bool parse_long_cstr(const char* text, int64_t* out) {
  if (!text) return false;
  return vk::guarded([&] {
    std::string copy = text;
    return parse_long_text(copy, out);
  });
}

bool parse_long_wtext(const std::wstring& text, int64_t* out) {
  return vk::guarded([&] {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) narrow.push_back(static_cast<char>(static_cast<uint8_t>(c)));
    return parse_long_text(narrow, out);
  });
}

bool parse_uint_wtext(const std::wstring& text, uint32_t* out) {
  if (!out) return false;
  return vk::guarded([&] {
    std::string narrow;
    to_utf8_assign(text.c_str(), narrow);
    return parse_uint(narrow, *out);
  });
}

bool parse_number_list(const std::string& text, std::vector<int64_t>& out) {
  out.clear();
  vk::guarded([&] {
    std::vector<std::string> words;
    split_quoted_words(text, words);
    for (std::string& w : words) {
      int64_t v = 0;
      if (parse_long_text(w, &v)) out.push_back(v);
    }
  });
  return !out.empty();
}

uint64_t read_u64_with_base(const std::string& text, const std::ios_base::fmtflags* base) {
  return parse_i64_base(text, base ? *base : std::ios_base::dec);
}

bool parse_double_text(const char* text, double* out) {
  if (!text || !*text || !out) return false;
  *out = std::strtod(text, nullptr);
  return true;
}

// ---- byte lists ----

std::vector<uint8_t> parse_byte_list(const std::string& text, char delimiter, bool hex) {
  std::vector<uint8_t> bytes;
  vk::guarded(
      [&] {
        std::vector<std::string> pieces;
        split_string(text, delimiter, pieces, true, false);
        bytes.reserve(pieces.size());
        for (const std::string& piece : pieces) {
          uint32_t v = 0;
          if (hex) {
            v = strtoul32(piece.c_str(), 16);
          } else if (!parse_int_text(piece, &v)) {
            v = 0;
          }
          bytes.push_back(static_cast<uint8_t>(v));
        }
      },
      [&] { bytes.clear(); });
  return bytes;
}

bool parse_hex_byte_text(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  return vk::guarded(
      [&] {
        char delimiter = 0;
        for (char d : {' ', ',', ':', '-'}) {
          if (text.find(d) != std::string::npos) {
            delimiter = d;
            break;
          }
        }
        std::vector<std::string> pieces;
        if (delimiter == 0) {
          const bool has_x = text.find('x') != std::string::npos;
          if ((!has_x && text.size() != 2) || (has_x && text.size() > 4)) return false;
          pieces.push_back(text);
        } else {
          split_string(text, delimiter, pieces, false, false);
        }
        for (const std::string& piece : pieces) {
          const size_t x = piece.find('x');
          if (x == std::string::npos && piece.empty()) continue;
          const char* digits = x == std::string::npos ? piece.c_str() : piece.c_str() + x + 1;
          out.push_back(static_cast<uint8_t>(strtoul32(digits, 16)));
        }
        return !out.empty();
      },
      [&] {
        out.clear();
        return !out.empty();
      });
}

bool parse_hex_pairs(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.empty()) return false;
  return vk::guarded(
      [&] {
        std::string spaced;
        spaced.reserve(text.size() + text.size() / 2 + 1);
        for (size_t i = 0; i < text.size(); ++i) {
          spaced.push_back(text[i]);
          if (i % 2 == 1) spaced.push_back(' ');
        }
        return parse_hex_byte_text(spaced, out);
      },
      [&] {
        out.clear();
        return false;
      });
}

bool parse_separated_bytes(const char* text, std::vector<uint8_t>& out) {
  out.clear();
  if (!text) return false;
  return vk::guarded(
      [&] {
        const std::string s = text;
        if (s.size() > 80) return false;
        char sep = 0;
        for (char d : {'.', ':', '-'}) {
          if (s.find(d) != std::string::npos) {
            sep = d;
            break;
          }
        }
        if (sep == 0) return false;
        std::vector<std::string> pieces;
        split_string(s, sep, pieces, false, false);
        if (pieces.empty()) return false;
        const std::string& first = pieces[0];
        const bool prefixed = first[0] == 'x' || first[0] == 'X' ||
                              (first.size() > 1 && (first[1] == 'x' || first[1] == 'X'));
        if (!prefixed) {
          static const std::string hex_letters = "abcdefABCDEF";
          bool any_letter = false;
          for (const std::string& p : pieces) {
            if (p.find_first_of(hex_letters) != std::string::npos) any_letter = true;
          }
          if (any_letter) {
            for (std::string& p : pieces) p.insert(0, "0x");
          }
        }
        for (const std::string& p : pieces) {
          uint32_t v = 0;
          if (!parse_uint(p, v)) {
            out.clear();
            return false;
          }
          out.push_back(static_cast<uint8_t>(v));
        }
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

bool parse_hex_bytes_fixed(const char* text, uint8_t* out, int32_t count) {
  if (!out || count < 0) return false;
  return vk::guarded([&] {
    std::vector<uint8_t> bytes;
    if (!parse_separated_bytes(text, bytes) || bytes.size() != static_cast<size_t>(count)) {
      return false;
    }
    if (count) std::memcpy(out, bytes.data(), bytes.size());
    return true;
  });
}

// ---- times of day ----

bool parse_clock_time(const char* text, uint32_t* hours, uint32_t* minutes, double* seconds) {
  if (!hours || !minutes || !seconds) return false;
  *hours = 0;
  *minutes = 0;
  *seconds = 0.0;
  return vk::guarded([&] {
    clock_fields f;
    if (!split_clock_text(text, f)) return false;
    if (f.hours.size() > 31 || f.minutes.empty() || f.minutes.size() > 31 ||
        f.seconds.size() > 31) {
      return false;
    }
    double h = 0, m = 0, s = 0;
    if (!field_number(f.hours, h) || !field_number(f.minutes, m)) return false;
    if (f.has_seconds && !field_number(f.seconds, s)) return false;
    uint32_t hh = 0, mm = 0;
    if (!whole_u32(apply_meridiem(std::trunc(h), f.mark), hh) || !whole_u32(m, mm)) return false;
    *hours = hh;
    *minutes = mm;
    *seconds = s;
    return true;
  });
}

bool parse_clock_time_whole(const char* text, uint32_t* hours, uint32_t* minutes,
                            uint32_t* seconds) {
  if (!seconds) return false;
  *seconds = 0;
  double s = 0;
  if (!parse_clock_time(text, hours, minutes, &s)) return false;
  return whole_u32(s, *seconds);
}

bool parse_clock_time_ms(const char* text, uint32_t* milliseconds) {
  if (!milliseconds) return false;
  *milliseconds = 0;
  return vk::guarded([&] {
    clock_fields f;
    if (!split_clock_text(text, f)) return false;
    auto sized = [](const std::string& field) { return !field.empty() && field.size() <= 31; };
    if (!sized(f.hours) || !sized(f.minutes) || (f.has_seconds && !sized(f.seconds))) return false;
    double h = 0, m = 0, s = 0;
    if (!field_number(f.hours, h) || !field_number(f.minutes, m)) return false;
    if (f.has_seconds && !field_number(f.seconds, s)) return false;
    const double total = apply_meridiem(h, f.mark) * 3600000.0 + m * 60000.0 + s * 1000.0;
    return whole_u32(std::round(total), *milliseconds);
  });
}

bool int_to_text(int32_t value, std::string& out) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%d", value);
  vk::assign_text(out, buf);
  return true;
}

bool u64_to_text(uint64_t value, std::string& out) {
  char buf[24];
  std::snprintf(buf, sizeof(buf), "%llu", static_cast<unsigned long long>(value));
  vk::assign_text(out, buf);
  return true;
}

// ---- dates ----

namespace {

bool month_by_name(std::string field, uint32_t& month) {
  static const std::map<std::string, int> months = [] {
    std::map<std::string, int> m;
    fill_month_map(m);
    return m;
  }();
  str_to_lower(field);
  const auto it = months.find(field);
  if (it == months.end()) return false;
  month = static_cast<uint32_t>(it->second);
  return true;
}

// Reads until a non-empty piece; max_reads 0 means no limit.
bool next_piece(std::istream& is, char separator, std::string& piece, int max_reads) {
  for (int reads = 0; max_reads == 0 || reads < max_reads; ++reads) {
    if (!std::getline(is, piece, separator)) return false;
    if (!piece.empty()) return true;
  }
  return true;
}

}  // namespace

bool parse_date_by_order(const char* text, std::string& order, char separator, uint32_t* day,
                         uint32_t* month, uint32_t* year) {
  if (!day || !month || !year) return false;
  *day = *month = *year = 0;
  if (!text || order.size() < 3) return false;
  return vk::guarded([&] {
    std::istringstream is(text);
    std::string field;
    if (!std::getline(is, field, separator)) return false;
    // The field that holds a month name; with one letter per earlier field
    // its index is the position of "Mon".
    const size_t mon = order.find("Mon");
    str_to_upper(order);
    replace_first(order, std::string("MON"), std::string("M"), false);
    if (order.size() < 3) return false;

    auto store = [&](size_t index, const std::string& piece) {
      if (index == mon) return month_by_name(piece, *month);
      uint32_t* target = nullptr;
      switch (order[index]) {
        case 'M':
          target = month;
          break;
        case 'Y':
          target = year;
          break;
        case 'D':
          target = day;
          break;
        default:
          return false;
      }
      return parse_uint(piece, *target);
    };
    if (!store(0, field)) return false;
    if (!next_piece(is, separator, field, 3) || !store(1, field)) return false;
    if (!next_piece(is, separator, field, 0) || !store(2, field)) return false;
    if (*year <= 30) {
      *year += 2000;
    } else if (*year <= 99) {
      *year += 1900;
    }
    return *month <= 12 && *day <= 31;
  });
}

bool parse_mdy_date(const char* text, uint32_t* day, uint32_t* month, uint32_t* year) {
  if (!day || !month || !year) return false;
  *day = *month = *year = 0;
  if (!text) return false;
  return vk::guarded([&] {
    const std::string s(text, strnlen(text, 512));
    const char sep = s.find('-') != std::string::npos ? '-' : '/';
    const size_t p1 = s.find(sep);
    if (p1 == std::string::npos) return false;
    const size_t p2 = s.find(sep, p1 + 1);
    if (p2 == std::string::npos || p1 > 2 || p2 - p1 - 1 > 3 || p2 + 1 >= s.size()) return false;
    const std::string first = s.substr(0, p1);
    const std::string second = s.substr(p1 + 1, p2 - p1 - 1);
    auto is_digit = [](const std::string& f) { return !f.empty() && f[0] >= '0' && f[0] <= '9'; };
    const int a = is_digit(first) ? std::atoi(first.c_str()) : month_from_abbrev(first);
    const bool numeric = is_digit(second);
    const int b = numeric ? std::atoi(second.c_str()) : month_from_abbrev(second);
    std::string year_text = s.substr(p2 + 1, 4);
    year_text = year_text.substr(0, year_text.find(' '));
    if (!is_digit(year_text)) return false;
    int y = std::atoi(year_text.c_str());
    if (year_text.size() == 2) y += y < 31 ? 2000 : 1900;
    const int m = numeric ? a : b;
    const int d = numeric ? b : a;
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    *day = static_cast<uint32_t>(d);
    *month = static_cast<uint32_t>(m);
    *year = static_cast<uint32_t>(y);
    return true;
  });
}

}  // namespace vk
