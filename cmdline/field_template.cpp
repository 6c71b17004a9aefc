#include "cmdline/field_template.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"

namespace vk {

namespace {

// Every erase shortens the text, so each loop below ends.
bool erase_every(std::string& text, const char* code) {
  const std::string c = code;
  bool found = false;
  for (size_t pos = text.find(c); pos != std::string::npos; pos = text.find(c)) {
    text.erase(pos, c.size());
    found = true;
  }
  return found;
}

// The leading decimal digits of a short piece; 0 when it starts otherwise.
uint32_t leading_number(const std::string& piece) {
  uint32_t n = 0;
  for (char c : piece) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  return n;
}

// First occurrence only: '0' gives 0, '1' one digit after it, '2' two; any
// other character gives 0 and only the code goes. A digit count that runs
// past the text gives no number, and only what exists is erased.
void number_suffix(std::string& text, const char* code, uint32_t bit, uint32_t& word,
                   uint32_t& width) {
  const std::string c = code;
  const size_t pos = text.find(c);
  if (pos == std::string::npos) return;
  word |= bit;
  const size_t p = pos + c.size();
  if (p >= text.size()) {
    text.erase(pos);
    return;
  }
  const char kind = text[p];
  if (kind != '0' && kind != '1' && kind != '2') {
    width = 0;
    text.erase(pos, c.size());
    return;
  }
  const size_t digits = static_cast<size_t>(kind - '0');
  if (p + digits >= text.size()) {
    text.erase(pos);
    return;
  }
  width = leading_number(text.substr(p + 1, digits));
  text.erase(pos, c.size() + 1 + digits);
}

// The argument of the code at pos, up to the next ')'; with need_colon it
// must hold a ':'. A code without a complete argument goes with everything
// up to the next '!' (or the end), and false is returned.
bool take_argument(std::string& text, size_t pos, size_t code_length, bool need_colon,
                   std::string& argument) {
  const size_t start = pos + code_length;
  const size_t close = text.find(')', start);
  if (close == std::string::npos || (need_colon && text.find(':', start) >= close)) {
    const size_t bang = text.find('!', start);
    text.erase(pos, bang == std::string::npos ? std::string::npos : bang - pos);
    return false;
  }
  argument = text.substr(start, close - start);
  text.erase(pos, close + 1 - pos);
  return true;
}

// "!SC(", "!AFN(", "!CFN(": the first occurrence's argument into target.
void single_argument(std::string& text, const char* code, uint32_t bit, uint32_t& word,
                     std::string& target) {
  const std::string c = code;
  const size_t pos = text.find(c);
  if (pos == std::string::npos) return;
  std::string argument;
  if (take_argument(text, pos, c.size(), false, argument)) {
    target = argument;
    word |= bit;
  }
}

void split_pair(const std::string& argument, std::string& key, std::string& value) {
  const size_t colon = argument.find(':');
  key = argument.substr(0, colon);
  value = argument.substr(colon + 1);
}

void parse_codes(field_template& f, std::string& t) {
  if (erase_every(t, "!AN")) {
    f.m_flags2 |= 0x1000000;
    return;
  }
  if (t.find("!AFN") == std::string::npos && erase_every(t, "!AF")) {
    f.m_flags2 |= 0x4000000;
    return;
  }
  if (erase_every(t, "!AP")) {
    f.m_flags2 |= 0x2000000;
    if (t.find('/') == std::string::npos) {
      std::string number = t;
      uint32_t bits = 0;
      if (parse_int_text(number, &bits)) {
        const std::string path = build_macos_library_path(bits);
        if (!path.empty()) t = path;
      }
    }
    return;
  }
  if (t.rfind("(unnamed)", 0) == 0) f.m_flags2 |= 0x8;
  if (t == "(all dates)") f.m_flags |= 0x100000;
  if (t == "(other fields)") f.m_flags2 |= 0x1000;
  if (t.find('!') == std::string::npos) return;

  static const struct {
    const char* code;
    bool second;
    uint32_t bit;
  } removed[] = {
      {"!JC", true, 0x10000000}, {"!R", false, 0x1},       {"!WP", false, 0x4},
      {"!NR", true, 0x800},      {"!SS", true, 0x20000},   {"!B64", true, 0x8000000},
      {"!Z", false, 0x200000},   {"!SKV", true, 0x800000}, {"!SK", true, 0x100000},
      {"!L2TS", true, 0x200000}, {"!DM", false, 0x4000},   {"!DA", false, 0x8000},
      {"!DC", false, 0x10000},   {"!DB", false, 0x20000},  {"!DE", true, 0x20000000},
  };
  for (const auto& r : removed) {
    if (erase_every(t, r.code)) (r.second ? f.m_flags2 : f.m_flags) |= r.bit;
  }

  number_suffix(t, "!BP", 0x2000, f.m_flags2, f.m_width);
  number_suffix(t, "!TS", 0x100, f.m_flags, f.m_width);
  number_suffix(t, "!TF", 0x8, f.m_flags, f.m_width);
  if (const size_t pos = t.find("!TAH"); pos != std::string::npos) {
    t.erase(pos, 4);
    f.m_flags |= 0x80000;
  }
  static const struct {
    const char* code;
    uint32_t bit;
  } suffixed[] = {{"!TAA", 0x200}, {"!TC", 0x800}, {"!TH", 0x400}, {"!TU", 0x10},
                  {"!TO", 0x20},   {"!TG", 0x40},  {"!TMG", 0x80}, {"!TMZ", 0x1000}};
  for (const auto& s : suffixed) number_suffix(t, s.code, s.bit, f.m_flags, f.m_width);

  if (const size_t pos = t.find("!SP"); pos != std::string::npos) {
    f.m_flags2 |= 0x8000;
    if (pos + 3 < t.size()) {
      const char c = t[pos + 3];
      f.m_width = (c >= '0' && c <= '9') ? static_cast<uint32_t>(c - '0') : 0;
    }
    t.erase(pos, 4);
  }

  single_argument(t, "!SC(", 0x10000, f.m_flags2, f.m_text);
  std::string argument;
  for (size_t pos = t.find("!SR("); pos != std::string::npos; pos = t.find("!SR(")) {
    if (take_argument(t, pos, 4, false, argument)) {
      f.m_list.push_back(argument);
      f.m_flags2 |= 0x4000;
    }
  }
  single_argument(t, "!AFN(", 0x1, f.m_flags2, f.m_name);
  single_argument(t, "!CFN(", 0x40000, f.m_flags2, f.m_name);

  if (const size_t pos = t.find("!CT"); pos != std::string::npos) {
    if (pos + 3 < t.size() && t[pos + 3] == '(') {
      if (take_argument(t, pos, 4, true, argument)) {
        split_pair(argument, f.m_name, f.m_text);
        f.m_flags2 |= 0x80000;
      }
    } else {
      number_suffix(t, "!CT", 0x80000, f.m_flags2, f.m_width);
    }
  }

  for (size_t pos = t.find("!S("); pos != std::string::npos; pos = t.find("!S(")) {
    if (take_argument(t, pos, 3, true, argument)) {
      std::string key, value;
      split_pair(argument, key, value);
      f.m_pairs[key] = value;
      f.m_flags2 |= 0x4;
    }
  }
}

}  // namespace

void field_template::reset() {
  m_label.clear();
  m_name.clear();
  m_text.clear();
  m_pairs.clear();
  m_list.clear();
  m_index = -1;
  m_flags = 0;
  m_flags2 = 0;
  m_parsed = 0;
  m_spare = 0;
  m_width = 0;
}

bool parse_field_template(field_template& out, std::string& text) {
  out.reset();
  vk::guarded(
      [&] {
        parse_codes(out, text);
        trim_ws(text);
        if (const size_t pos = text.find("\\n"); pos != std::string::npos) text.erase(pos, 2);
        out.m_label = text;
      },
      [&] { out.m_label.clear(); });
  out.m_parsed = 1;
  return true;
}

}  // namespace vk
