#include "cmdline/text_utils/small_parsers.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Hexadecimal value of s (at most two characters; empty is 0); false when
// any character is not a hexadecimal digit.
bool hex_token(const std::string& s, uint16_t& v) {
  v = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    v = static_cast<uint16_t>(v * 16 + d);
  }
  return true;
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool split_template_body(std::vector<std::string>& pieces, std::map<int32_t, uint32_t>& numbers,
                         std::map<char, uint32_t>& characters, const std::string& text) {
  size_t p = text.find('%');
  if (p == std::string::npos) {
    pieces.push_back(text);
    return true;
  }
  pieces.push_back(text.substr(0, p));
  while (p + 1 < text.size()) {  // a '%' at the very end is dropped
    const char c = text[p + 1];
    size_t end = p + 2;
    const auto index = static_cast<uint32_t>(pieces.size());
    if (c >= '1' && c <= '9') {
      int32_t number = c - '0';
      if (end < text.size() && is_digit(text[end])) number = number * 10 + (text[end++] - '0');
      numbers.emplace(number, index);
    } else {
      characters.emplace(c, index);
    }
    pieces.push_back(text.substr(p, end - p));
    if (end >= text.size()) break;
    const size_t next = text.find('%', end);
    if (next == std::string::npos) {
      pieces.push_back(text.substr(end));
      break;
    }
    pieces.push_back(text.substr(end, next - end));
    p = next;
  }
  return true;
}

// Position of the accepted "name": [ ... occurrence and of its ']', or false.
bool find_json_array(const std::string& lower, const std::string& key, size_t& start,
                     size_t& close) {
  size_t bracket_close = std::string::npos;  // first ']' at or after the last '[' asked for
  size_t searched_from = 0;
  bool bracket_known = false;
  for (size_t k = lower.find(key); k != std::string::npos; k = lower.find(key, k + 1)) {
    // The colon at most two characters after the key's closing quote.
    size_t colon = std::string::npos;
    for (size_t i = k + key.size(); i < lower.size() && i - k <= key.size() + 2; ++i)
      if (lower[i] == ':') {
        colon = i;
        break;
      }
    if (colon == std::string::npos) continue;
    size_t open = std::string::npos;
    for (size_t i = colon + 1; i < lower.size() && i - colon < 3; ++i)
      if (lower[i] == '[') {
        open = i;
        break;
      }
    if (open == std::string::npos) continue;
    // Candidates only move forward, so one ']' search serves many of them.
    if (!bracket_known || (bracket_close != std::string::npos && bracket_close < open) ||
        searched_from > open) {
      bracket_close = lower.find(']', open);
      searched_from = open;
      bracket_known = true;
    }
    if (bracket_close == std::string::npos) return false;  // none for any later key either
    // The last '}' before the ']' less than six characters before it.
    bool brace = false;
    for (size_t d = 1; d < 6 && d <= bracket_close && !brace; ++d)
      brace = lower[bracket_close - d] == '}';
    if (!brace) continue;
    start = k;
    close = bracket_close;
    return true;
  }
  return false;
}

}  // namespace

bool split_percent_template(std::vector<std::string>& pieces, std::map<int32_t, uint32_t>& numbers,
                            std::map<char, uint32_t>& characters, const std::string& text) {
  pieces.clear();
  numbers.clear();
  characters.clear();
  if (text.empty()) return false;
  return guarded([&] { return split_template_body(pieces, numbers, characters, text); },
                 [&] {
                   pieces.clear();
                   numbers.clear();
                   characters.clear();
                 });
}

bool extract_json_arrays(std::vector<std::string>& out, const std::vector<std::string>& names,
                         const std::string& text) {
  out.clear();
  if (text.empty() || names.empty()) return false;
  return guarded(
      [&] {
        out.resize(names.size());
        std::string lower = text;
        str_to_lower(lower);
        bool found = false;
        for (size_t n = 0; n < names.size(); ++n) {
          if (names[n].empty()) continue;
          std::string key = "\"" + names[n] + "\"";
          str_to_lower(key);
          size_t start = 0, close = 0;
          if (!find_json_array(lower, key, start, close)) continue;
          out[n] = text.substr(start, close - start);
          strip_quotes(out[n]);
          found = true;
        }
        return found;
      },
      [&] { out.clear(); });
}

bool parse_name_value_lines(std::map<std::string, std::string>& out,
                            const std::vector<uint8_t>& bytes) {
  out.clear();
  if (bytes.empty()) return false;
  return guarded(
      [&] {
        std::vector<std::string> lines;
        if (!split_text_lines(bytes, lines)) return false;
        for (const std::string& line : lines) {
          const size_t eq = line.find('=');
          if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
        return !out.empty();
      },
      [&] { out.clear(); });
}

bool parse_byte_pattern(const std::string& text, std::vector<uint16_t>& out) {
  out.clear();
  bool ok = guarded([&] {
    for (size_t i = 0; i < text.size();) {
      if (is_space(text[i])) {
        ++i;
        continue;
      }
      size_t end = i;
      while (end < text.size() && !is_space(text[end])) ++end;
      const std::string token = text.substr(i, end - i);
      i = end;
      if (token == "??") {
        out.push_back(k_pattern_any);
      } else if (token[0] == '*') {
        uint16_t count = 0;
        if (token.size() > 3 || !hex_token(token.substr(1), count)) return false;
        out.push_back(k_pattern_gap);
        out.push_back(count);
      } else if (token.size() == 2) {
        // "GG" is no byte: a pattern that read it as 00 would match bytes
        // it was never meant to.
        uint16_t byte = 0;
        if (!hex_token(token, byte)) return false;
        out.push_back(byte);
      } else {
        return false;
      }
    }
    // Wildcards and gaps at the end match anything: drop them.
    while (!out.empty()) {
      if (out.back() == k_pattern_any) {
        out.pop_back();
      } else if (out.size() >= 2 && out[out.size() - 2] == k_pattern_gap) {
        out.resize(out.size() - 2);
      } else {
        break;
      }
    }
    // Tested after the strip: "??" or "*05" alone leave nothing to match.
    if (out.empty()) return false;
    for (size_t i = 0; i < out.size(); ++i) {
      if (out[i] != k_pattern_gap) continue;
      if (i + 2 >= out.size() || out[i + 2] == k_pattern_any || out[i + 2] == k_pattern_gap)
        return false;
      ++i;  // the count
    }
    return true;
  });
  if (!ok) out.clear();
  return ok;
}

bool parse_range_list(std::vector<std::pair<uint64_t, uint64_t>>& out, const std::string& text,
                      char delimiter, char range) {
  out.clear();
  if (text.empty()) return false;
  return guarded(
      [&] {
        std::vector<std::string> pieces;
        // Blank pieces go with the empty ones rather than reading as 0.
        const bool split = split_string(text, delimiter, pieces, true, false);
        for (const std::string& piece : pieces) {
          uint64_t first = 0, last = 0;
          const size_t at = piece.find(range);
          if (at == std::string::npos) {
            parse_u64_text(piece, &first);
            last = first;
          } else {
            parse_u64_text(piece.substr(0, at), &first);
            parse_u64_text(piece.substr(at + 1), &last);
          }
          out.emplace_back(first, last);
        }
        return split;
      },
      [&] { out.clear(); });
}

bool split_nul_strings(const std::vector<uint8_t>& bytes, std::vector<std::string>& out) {
  out.clear();
  return guarded(
      [&] {
        const std::string text(bytes.begin(), bytes.end());
        return split_string(text, '\0', out, false, false);
      },
      [&] { out.clear(); });
}

uint32_t split_utf16_multi_string(const uint16_t* units, std::vector<std::wstring>& out,
                                  uint32_t size_bytes) {
  out.clear();
  if (!units || size_bytes == 0) return 0;
  const uint32_t count = size_bytes / 2;
  guarded(
      [&] {
        std::vector<uint16_t> run;
        std::wstring text;
        auto decode = [&] {
          if (!run.empty() && utf16_vector_to_wide(run, text)) out.push_back(text);
          run.clear();
        };
        for (uint32_t i = 0; i < count; ++i) {
          if (units[i] == 0)
            decode();
          else
            run.push_back(units[i]);
        }
        decode();
        if (!out.empty()) return;
        // Nothing decoded: take the runs unit by unit.
        std::wstring raw;
        for (uint32_t i = 0; i <= count; ++i) {
          if (i < count && units[i] != 0) {
            raw.push_back(static_cast<wchar_t>(units[i]));
          } else if (!raw.empty()) {
            out.push_back(raw);
            raw.clear();
          }
        }
      },
      [&] { out.clear(); });
  return count * 2;
}

bool remove_parenthesised(const std::string& text, std::string& out) {
  out.clear();
  if (text.empty() || text.find('(') == std::string::npos) return false;
  // One pass: what precedes a removed part holds no '(', so the next part
  // can only start after it.
  return guarded(
      [&] {
        bool removed = false;
        size_t from = 0;
        while (true) {
          const size_t open = text.find('(', from);
          const size_t close =
              open == std::string::npos ? std::string::npos : text.find(')', open + 1);
          if (close == std::string::npos) {
            out.append(text, from, std::string::npos);
            return removed;
          }
          out.append(text, from, open - from);
          from = close + 1;
          removed = true;
        }
      },
      [&] { out.clear(); });
}

}  // namespace vk
