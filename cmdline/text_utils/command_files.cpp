#include "cmdline/text_utils/command_files.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string_view>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_args.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr std::string_view k_cmd_open = "<!cmd>";
constexpr std::string_view k_cmd_close = "</!cmd>";
constexpr std::string_view k_arg_open = "<!arg=";
constexpr std::string_view k_arg_close = "</!arg>";

// Blocks nested without their ends are each found inside the one before, so
// the texts gathered could grow with the square of the file: they may hold
// at most this many times the file's characters (well formed files need
// two).
constexpr size_t k_text_budget_factor = 4;

struct text_budget {
  size_t left;
  bool take(size_t n) {
    if (n > left) return false;
    left -= n;
    return true;
  }
};

// Moves the argument elements of body into the command as name and value
// texts, leaving the rest of the body. An element without its end (or whose
// only '>' is that of its end) drops the command's last text and ends the
// search. False when the budget runs out.
bool take_arguments(std::string& body, std::vector<std::string>& command, text_budget& budget) {
  // The body read so far is body[0, kept) + body[rest, size): erased elements
  // are skipped over rather than erased one by one.
  size_t kept = 0, rest = 0;
  while (true) {
    // Erasing an element may join a new "<!arg=" across the gap: step back
    // over the kept characters such a marker could begin in.
    const size_t back = std::min(kept, k_arg_open.size() - 1);
    kept -= back;
    rest -= back;
    if (back && rest != kept) std::memmove(&body[rest], &body[kept], back);
    const size_t at = body.find(k_arg_open, rest);
    if (at == std::string::npos) break;
    const size_t start = at + k_arg_open.size();
    const size_t close = body.find(k_arg_close, start);
    const size_t gt = close == std::string::npos ? close : body.find('>', start);
    if (gt >= close) {
      command.pop_back();
      break;
    }
    std::string name = body.substr(start, gt - start);
    erase_char(name, '"');
    erase_char(name, '\'');
    std::string value = body.substr(gt + 1, close - gt - 1);
    if (!budget.take(name.size() + value.size())) return false;
    command.push_back(std::move(name));
    command.push_back(std::move(value));
    if (at > rest) std::memmove(&body[kept], &body[rest], at - rest);
    kept += at - rest;
    rest = close + k_arg_close.size();
  }
  body.erase(kept, rest - kept);
  return true;
}

bool parse_commands(command_list& commands, std::string& text, bool keep_line_breaks) {
  if (!keep_line_breaks) replace_char(text, '\n', ' ');
  erase_char(text, '\r');
  erase_char(text, '\t');
  text_budget budget{text.size() * k_text_budget_factor};
  size_t from = 0;
  while (true) {
    const size_t open = text.find(k_cmd_open, from);
    if (open == std::string::npos) break;
    const size_t body_start = open + k_cmd_open.size();
    const size_t close = text.find(k_cmd_close, body_start);
    if (close == std::string::npos) break;
    std::string body = text.substr(body_start, close - body_start);
    if (!budget.take(body.size())) return false;
    commands.emplace_back();
    std::vector<std::string>& command = commands.back();
    command.push_back(body);
    if (!take_arguments(body, command, budget)) return false;
    std::vector<std::string> words;
    split_quoted(body, ' ', words, true, false);
    for (std::string& word : words) {
      erase_char(word, '"');
      if (!budget.take(word.size())) return false;
      command.push_back(std::move(word));
    }
    if (command.size() == 1) command.clear();
    // A "<!cmd>" inside this block starts the next command.
    from = body_start;
  }
  return !commands.empty();
}

int find_wide_arg(const wchar_t* name, int argc, wchar_t** argv) {
  if (!name || !argv) return 0;
  for (int i = 1; i < argc; ++i)
    if (argv[i] && same_option_word(std::wstring_view(argv[i]), std::wstring_view(name))) return i;
  return 0;
}

bool take_wide_values(const wchar_t* name, std::initializer_list<std::wstring*> values, int& argc,
                      wchar_t** argv) {
  const int at = find_wide_arg(name, argc, argv);
  if (at == 0 || static_cast<size_t>(at) + values.size() >= static_cast<size_t>(argc)) return false;
  const bool copied = guarded([&] {
    int k = at;
    for (std::wstring* v : values) *v = argv[++k] ? argv[k] : L"";
    return true;
  });
  if (!copied) return false;
  for (size_t k = 0; k <= values.size(); ++k) remove_arg_w(static_cast<uint32_t>(at), argc, argv);
  return true;
}

const char* zone_name(uint32_t zone) {
  switch (zone) {
    case 0:
      return " [local machine]";
    case 1:
      return " [intranet]";
    case 2:
      return " [trusted]";
    case 3:
      return " [internet]";
    case 4:
      return " [untrusted]";
    default:
      return "";
  }
}

}  // namespace

bool parse_command_text(command_list& commands, std::string text, bool keep_line_breaks) {
  commands.clear();
  const bool found = guarded([&] { return parse_commands(commands, text, keep_line_breaks); });
  if (!found) commands.clear();
  return found;
}

bool read_command_file(command_list& commands, const std::string& path, bool keep_line_breaks) {
  commands.clear();
  if (path.empty()) return false;
  std::string text;
  if (!read_file_capped_text(text, path, std::numeric_limits<uint32_t>::max())) return false;
  return parse_command_text(commands, std::move(text), keep_line_breaks);
}

bool split_json_records(std::vector<json_record>& records, const std::vector<std::string>& keys,
                        const std::string& text) {
  records.clear();
  return guarded(
      [&] {
        std::vector<std::string> objects;
        if (!split_json_objects(objects, text)) return false;
        for (const std::string& object : objects) {
          json_record& record = records.emplace_back();
          if (!json_get_values(record.m_values, keys, object)) continue;
          record.m_names = keys;
          for (size_t i = 0; i < keys.size(); ++i) {
            std::string key = keys[i];
            record.m_index.emplace(str_to_lower(key), static_cast<uint32_t>(i));
          }
        }
        return !records.empty();
      },
      [&] { records.clear(); });
}

bool split_url_query(std::vector<std::string>& names, std::vector<std::string>& values,
                     const std::string& url) {
  names.clear();
  values.clear();
  if (url.empty()) return false;
  return guarded(
      [&] {
        // Split first, decode each part after: an escaped '&', '=' or '?'
        // is data, never a separator.
        auto decoded = [](const std::string& part) {
          std::string out;
          return percent_decode(out, part, '\0', std::string()) ? out : part;
        };
        const size_t mark = url.find('?');
        if (mark == std::string::npos || mark + 1 == url.size()) return false;
        std::vector<std::string> pieces;
        split_string(url.substr(mark + 1), '&', pieces, true, true);
        for (const std::string& piece : pieces) {
          size_t eq = piece.find('=');
          if (eq != std::string::npos && piece.back() == '=') eq = piece.size() - 1;
          if (eq == std::string::npos) {
            names.push_back(decoded(piece));
            values.emplace_back();
          } else {
            names.push_back(decoded(piece.substr(0, eq)));
            values.push_back(decoded(piece.substr(eq + 1)));
          }
        }
        return !names.empty();
      },
      [&] {
        names.clear();
        values.clear();
      });
}

void write_zone_info(std::ostream& os, const std::map<std::string, std::string>& entries,
                     bool zone_names) {
  if (entries.empty()) return;
  os << "zone_info"
     << "={";
  bool first = true;
  for (const auto& [name, value] : entries) {
    if (!first) os << ';';
    first = false;
    os << '"' << name << "\":\"" << value;
    if (zone_names && name.starts_with("ZoneId")) {
      uint32_t zone = 0;
      parse_uint(value, zone);
      os << zone_name(zone);
    }
    os << '"';
  }
  os << '}';
}

bool take_wide_flag(const wchar_t* name, int& argc, wchar_t** argv) {
  return take_wide_values(name, {}, argc, argv);
}

bool take_wide_value(const wchar_t* name, std::wstring& value, int& argc, wchar_t** argv) {
  value.clear();
  return take_wide_values(name, {&value}, argc, argv);
}

bool take_wide_values2(const wchar_t* name, std::wstring& v1, std::wstring& v2, int& argc,
                       wchar_t** argv) {
  return take_wide_values(name, {&v1, &v2}, argc, argv);
}

bool take_wide_values3(const wchar_t* name, std::wstring& v1, std::wstring& v2, std::wstring& v3,
                       int& argc, wchar_t** argv) {
  return take_wide_values(name, {&v1, &v2, &v3}, argc, argv);
}

bool take_wide_values4(const wchar_t* name, std::wstring& v1, std::wstring& v2, std::wstring& v3,
                       std::wstring& v4, int& argc, wchar_t** argv) {
  return take_wide_values(name, {&v1, &v2, &v3, &v4}, argc, argv);
}

bool take_prefixed_arg_w(const char* prefix, std::wstring& out, std::vector<std::wstring>& list) {
  if (!prefix) return false;
  return guarded([&] {
    const std::wstring wide = from_utf8(prefix);
    for (size_t i = 0; i < list.size(); ++i) {
      if (find_wide_icase(list[i].c_str(), wide.c_str()) != list[i].c_str()) continue;
      out = list[i];
      erase_wstring_at(static_cast<uint32_t>(i), list);
      return true;
    }
    return false;
  });
}

bool take_packed_option_w(uint64_t code, std::vector<std::wstring>& list, bool keep) {
  std::wstring option = L"-";
  for (int shift = 56; shift >= 0; shift -= 8) {
    const auto c = static_cast<char>((code >> shift) & 0xFF);
    if (c >= 'a' && c <= 'z') option += static_cast<wchar_t>(c);
  }
  for (size_t i = 0; i < list.size(); ++i) {
    if (!same_option_word(std::wstring_view(list[i]), std::wstring_view(option))) continue;
    if (!keep) erase_wstring_at(static_cast<uint32_t>(i), list);
    return true;
  }
  return false;
}

bool vmdk_option_given(const std::vector<std::wstring>&) {
  return false;
}

bool wtext_to_float(const wchar_t* text, float& out) {
  if (!text) return false;
  const std::string narrow = guarded([&] { return to_utf8(std::wstring(text)); });
  const double value = std::strtod(narrow.c_str(), nullptr);
  // A double beyond the float range has no float value: it becomes infinite.
  if (value > std::numeric_limits<float>::max())
    out = std::numeric_limits<float>::infinity();
  else if (value < -std::numeric_limits<float>::max())
    out = -std::numeric_limits<float>::infinity();
  else
    out = static_cast<float>(value);
  return true;
}

bool wstring_to_int(const std::wstring& text, int32_t& out) {
  uint32_t value = 0;
  if (!parse_int_wtext(text, &value)) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace vk
