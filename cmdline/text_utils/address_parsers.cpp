#include "cmdline/text_utils/address_parsers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "foundation/vk_env.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"

namespace vk {

bool parse_ipv6_text(const std::string& text, byte_array& out) {
  out.clear();
  return guarded(
      [&] {
        if (text.empty()) {
          out.assign(16, 0);
          return true;
        }
        std::string t = text;
        const size_t colons = static_cast<size_t>(std::count(t.begin(), t.end(), ':'));
        if (colons < 7) replace_first(t, "::", std::string(2 + 7 - colons, ':'), false);
        std::vector<std::string> pieces;
        split_string(t, ':', pieces, false, true, false);
        out.reserve(pieces.size() * 2);
        for (const auto& piece : pieces) {
          const uint32_t v = piece.empty() ? 0 : strtoul32(piece.c_str(), 16);
          out.push_back(static_cast<uint8_t>(v >> 8));
          out.push_back(static_cast<uint8_t>(v));
        }
        return !out.empty();
      },
      [&] { out.clear(); });
}

bool parse_ipv4_text(const char* text, uint32_t& out, bool swap) {
  out = 0;
  if (!text) return false;
  return guarded([&] {
    const std::string t = text;
    char sep = '-';
    if (t.find('.') != std::string::npos)
      sep = '.';
    else if (t.find(':') != std::string::npos)
      sep = ':';
    else if (t.find('-') == std::string::npos)
      return false;
    std::vector<std::string> pieces;
    split_string(t, sep, pieces, false, false, false);
    if (pieces.size() != 4) return false;
    uint32_t value = 0;
    for (size_t k = 0; k < 4; ++k) {
      uint32_t part = 0;
      if (!parse_uint(pieces[k], part)) return false;
      value += part << (24 - 8 * k);
    }
    if (swap)
      value = (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
    out = value;
    return true;
  });
}

bool format_ipv6_text(const uint16_t* units, size_t length_bytes, std::string& out) {
  out.clear();
  const size_t n = length_bytes / 2;
  if (!units || n == 0) return false;
  return guarded(
      [&] {
        enum { before_run, in_run, after_run } state = before_run;
        char buf[8];
        for (size_t i = 0; i < n; ++i) {
          const uint16_t raw = units[i];
          const uint16_t v = static_cast<uint16_t>((raw >> 8) | (raw << 8));
          const bool last = i + 1 == n;
          if (v == 0 && state == before_run) {
            state = in_run;
            // Its separator, or when it is the last unit the run's second ':'.
            out += i == 0 ? "::" : ":";
            continue;
          }
          if (v == 0 && state == in_run) continue;
          if (state == in_run) state = after_run;
          out.append(buf, std::to_chars(buf, buf + sizeof(buf), v, 16).ptr);
          if (!last) out += ':';
        }
        return true;
      },
      [&] { out.clear(); });
}

namespace {

// Serial of the hash form: between the first separator after the anchor
// and the next one.
bool hash_form_serial(std::string& serial, const std::string& id) {
  std::string lower = id;
  str_to_lower(lower);
  size_t anchor = lower.find("pid_");
  if (anchor == std::string::npos) anchor = lower.find("rev_");
  if (anchor == std::string::npos) anchor = lower.find("prod_");
  if (anchor == std::string::npos) return false;
  const size_t first = id.find('#', anchor);
  if (first == std::string::npos || first + 1 >= id.size()) return false;
  const size_t next = id.find('#', first + 1);
  serial = id.substr(first + 1, next == std::string::npos ? std::string::npos : next - first - 1);
  return true;
}

bool path_form_serial(std::string& serial, const std::string& id, const std::string& sep,
                      size_t last) {
  if (last + sep.size() < id.size()) {
    serial = id.substr(last + sep.size());
    return true;
  }
  if (last == 0) return false;
  const size_t prev = id.rfind(sep, last - 1);
  if (prev == std::string::npos) return false;
  const size_t start = prev + sep.size();
  if (start < last) serial = id.substr(start, last - start);
  return true;
}

}  // namespace

bool device_id_serial(std::string& serial, std::string& base, std::string& sep,
                      const std::string& id) {
  serial.clear();
  base.clear();
  if (id.empty()) return false;
  return guarded(
      [&] {
        const bool hash_form = id.find('#') != std::string::npos;
        if (hash_form) {
          sep.assign(1, '#');
        } else if (sep.empty()) {
          if (id.find('/') != std::string::npos)
            sep.assign(1, '/');
          else if (id.find('\\') != std::string::npos)
            sep.assign(1, '\\');
          else
            return false;
        }
        const size_t last = id.rfind(sep);
        if (last == std::string::npos) return false;
        if (!(hash_form ? hash_form_serial(serial, id) : path_form_serial(serial, id, sep, last)))
          return false;
        if (serial.empty()) return false;
        base = serial;
        const size_t amp = serial.rfind('&');
        if (serial.size() > 4 && serial[1] != '&' && amp != std::string::npos &&
            amp + 3 >= serial.size())
          base = serial.substr(0, amp);
        return true;
      },
      [&] {
        serial.clear();
        base.clear();
      });
}

bool normalize_path(std::string& text, bool expand) {
  if (text.empty()) return false;
  return guarded([&] {
    replace_char(text, '\\', '/', false);
    if (expand) text = expand_env_vars(text, true);
    if (text.find('.') == std::string::npos) return true;
    std::vector<std::string> pieces;
    split_string(text, '/', pieces, true, true, false);
    std::vector<std::string> kept;
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (pieces[i] == ".") continue;
      if (pieces[i].empty() && i > 0) continue;
      kept.push_back(pieces[i]);
    }
    std::string out;
    for (size_t i = 0; i < kept.size(); ++i) {
      if (i == 0 && kept[i].empty()) {
        out += '/';
        continue;
      }
      if (i + 1 < kept.size() && kept[i + 1] == "..") {
        ++i;  // the piece and the ".." that cancels it
        continue;
      }
      out += kept[i];
      if (i + 1 < kept.size()) out += '/';
    }
    text = std::move(out);
    return true;
  });
}

namespace {

template <class S>
void strip_prefix(S& text, bool drive_guard, bool global_guard) {
  using C = typename S::value_type;
  const C q[] = {'\\', '\\', '?', '\\', 0};
  const C d[] = {'\\', '\\', '.', '\\', 0};
  bool question = true;
  size_t p = text.find(q);
  if (p == S::npos) {
    question = false;
    p = text.find(d);
    if (p == S::npos) return;
  }
  const size_t n = text.size();
  const bool guard_tested = drive_guard && n >= 6;
  // The drive letter's ':' sits five past the prefix's start, when the text
  // reaches that far.
  if (guard_tested && p + 5 < n && text[p + 5] == ':') return;
  if (question && !guard_tested && global_guard && n >= 47) {
    S lower = text;
    for (auto& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<C>(c - 'A' + 'a');
    const C global[] = {'g', 'l', 'o', 'b', 'a', 'l', 0};
    if (lower.find(global) != 4) return;
  }
  text.erase(p, 3);
}

}  // namespace

void strip_device_prefix(std::string& text, bool drive_guard, bool global_guard) {
  guarded([&] { strip_prefix(text, drive_guard, global_guard); });
}

void strip_device_prefix_w(std::wstring& text, bool drive_guard, bool global_guard) {
  guarded([&] { strip_prefix(text, drive_guard, global_guard); });
}

void escape_chars(std::string& text, const std::string& set) {
  guarded([&] {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
      if (set.find(c) != std::string::npos) out += '\\';
      out += c;
    }
    text = std::move(out);
  });
}

void guid_from_any_text(guid& out, const std::string& text) {
  guarded([&] {
    if (text.find('-') != std::string::npos) {
      guid_from_text(text, out);
    } else if (text.size() == 32) {
      for (size_t i = 0; i < 16; ++i) {
        const char pair[3] = {text[2 * i], text[2 * i + 1], 0};
        out.m_bytes[i] = static_cast<uint8_t>(strtoul32(pair, 16));
      }
    } else if (text.size() == 47 && text.find(' ') != std::string::npos) {
      const std::vector<uint8_t> bytes = parse_byte_list(text, ' ', true);
      if (bytes.size() == 16) out.set(bytes.data());
    }
  });
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// atoi's reading (leading white space, a sign, digits up to the first other
// character) with the magnitude held at a bound far beyond any exponent a
// double can use, so that a long digit run cannot overflow.
int exponent_value(const std::string& t) {
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r'))) ++i;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  int v = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
    v = std::min(v * 10 + (t[i] - '0'), 100000);
  return neg ? -v : v;
}

}  // namespace

bool parse_hex_float(std::string& text, double& out) {
  out = 0;
  if (text.size() < 3) return false;
  return guarded([&] {
    str_to_lower(text);
    const bool neg = text[0] == '-';
    const size_t start = neg ? 1 : 0;
    if (text.compare(start, 2, "0x") != 0) return false;
    text.erase(0, start + 2);
    std::string exponent;
    bool has_exponent = false;
    const size_t p = text.find('p');
    if (p != std::string::npos) {
      has_exponent = true;
      exponent = text.substr(p + 1);
      text.erase(p);
    }
    if (exponent.find('.') != std::string::npos) return false;
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string frac = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    double value = 0;
    for (char c : whole) {
      const int d = hex_value(c);
      if (d < 0) return false;
      value = value * 16 + d;
    }
    double scale = 1.0 / 16;
    for (char c : frac) {
      const int d = hex_value(c);
      if (d < 0) return false;
      value += d * scale;
      scale /= 16;
    }
    if (neg) value = -value;
    if (has_exponent) value = std::ldexp(value, exponent_value(exponent));
    out = value;
    return true;
  });
}

bool parse_hex_pattern(const std::string& text, byte_array& out) {
  return guarded([&] {
    std::istringstream words(text);
    std::string w;
    while (words >> w) {
      if (w.size() > 2) return false;
      if (w == "??") {
        out.push_back(0xFF);
        out.push_back(0xFF);
        continue;
      }
      const uint32_t v = strtoul32(w.c_str(), 16);
      if (v > 0xFF) return false;
      out.push_back(static_cast<uint8_t>(v));
    }
    return true;
  });
}

namespace {

// The byte column of one dump line: up to 16 "hh" pairs from `at`, each
// followed by a blank (or the line end), with one more blank allowed before
// the ninth (the middle of a full line). The column ends at a blank where a
// pair would stand. False for anything else in the column.
int dump_digit(char c) {
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return hex_value(c);
}

bool read_dump_line(const std::string& line, size_t at, byte_array& out, size_t& count) {
  constexpr size_t k_per_line = 16;
  count = 0;
  while (count < k_per_line) {
    if (count == 8 && at + 1 < line.size() && line[at] == ' ' && dump_digit(line[at + 1]) >= 0)
      ++at;
    if (at >= line.size() || line[at] == ' ') break;
    if (at + 1 >= line.size()) return false;
    const int hi = dump_digit(line[at]), lo = dump_digit(line[at + 1]);
    if (hi < 0 || lo < 0 || (at + 2 < line.size() && line[at + 2] != ' ')) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    ++count;
    at += 3;
  }
  return true;
}

}  // namespace

bool parse_hex_dump_text(byte_array& out, const std::string& text) {
  out.clear();
  if (text.empty()) return false;
  const bool read = guarded(
      [&] {
        std::vector<std::string> lines;
        split_string(text, '\n', lines, true, false, false);
        if (lines.empty()) return false;
        // Every line is read whole; a line that cannot be read, or a short
        // line before the last, means bytes would be missing: the dump is
        // refused rather than returned in part.
        size_t full = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
          const std::string& line = lines[i];
          const size_t gap = line.find("  ");
          if (gap == std::string::npos) return false;
          size_t count = 0;
          if (!read_dump_line(line, gap + 2, out, count) || count == 0) return false;
          if (i == 0) full = count;
          if (count > full || (count < full && i + 1 < lines.size())) return false;
        }
        return true;
      },
      [&] { out.clear(); });
  if (!read) out.clear();
  return read;
}

}  // namespace vk
