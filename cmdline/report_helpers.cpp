#include "cmdline/report_helpers.h"

#include <cfloat>
#include <cmath>
#include <cstdarg>

#include "cmdline/diag_printf.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_html.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

std::string joined(const std::vector<std::string>& list, const char* separator) {
  std::string out;
  join_strings(out, list, separator, false);
  return out;
}

}  // namespace

void diags_log_joined(cmd_params& settings, const std::vector<std::string>& list) {
  if (!settings.m_log_on) return;
  vk::guarded([&] { diags_log(settings, joined(list, "; ")); });
}

void diags_log_replaced(cmd_params& settings, const std::string& text, const std::string& key,
                        const std::vector<std::string>& list) {
  if (!settings.m_log_on) return;
  vk::guarded([&] {
    std::string line = text;
    if (!key.empty() && line.find(key) != std::string::npos) {
      replace_all(line, key, joined(list, "; "));
    }
    diags_log(settings, line);
  });
}

void diags_log_quoted(cmd_params& settings, const std::vector<std::string>& list) {
  if (!settings.m_log_on) return;
  vk::guarded([&] {
    std::string line;
    size_t count = 0;
    join_args_quoted(line, count, list, false);
    diags_log(settings, line);
  });
}

void diags_log_format(cmd_params& settings, const std::vector<std::string>& list,
                      const char* format, ...) {
  if (!settings.m_log_on || !format) return;
  va_list args;
  va_start(args, format);
  vk::guarded([&] {
    const std::string prefix = joined(list, ";");
    diag_write_va(settings, prefix.c_str(), nullptr, format, args);
  });
  va_end(args);
}

void write_hex_list(const std::vector<uint8_t>& bytes, std::ostream& os) {
  vk::guarded([&] { os << hex_list_text(bytes, " "); });
}

bool replace_lists(std::string& text, const std::vector<std::string>& find,
                   const std::vector<std::string>& replacement) {
  if (find.empty() || find.size() != replacement.size()) return false;
  for (const std::string& f : find) {
    if (f.empty()) return false;
  }
  return vk::guarded([&] {
    std::string result = text;
    for (size_t i = 0; i < find.size(); ++i) replace_all(result, find[i], replacement[i]);
    text.swap(result);
    return true;
  });
}

void write_host_info(const host_info& info, std::ostream& os) {
  vk::guarded([&] {
    std::string lines = "os       : " + info.m_system_name + "\n";
    if (!info.m_node_name.empty()) lines += "nodename : " + info.m_node_name + "\n";
    lines += "version  : " + info.m_version + "\n";
    lines += "build    : " + info.m_release + "\n";
    lines += std::string("machine  : ") + (info.m_is_64bit ? "64 bit" : "32 bit") + "\n";
    os << lines;
  });
}

void string_pointers(const std::vector<std::string>& strings, std::vector<const char*>& pointers,
                     std::vector<size_t>& lengths) {
  pointers.clear();
  lengths.clear();
  vk::guarded(
      [&] {
        for (const std::string& s : strings) {
          pointers.push_back(s.c_str());
          lengths.push_back(s.size());
        }
      },
      [&] {
        pointers.clear();
        lengths.clear();
      });
}

bool split_joined_args(std::vector<std::string>& out, int32_t argc, const char* const* argv,
                       char separator) {
  out.clear();
  if (!argv || argc <= 0) return false;
  return vk::guarded(
      [&] {
        std::string all;
        for (int32_t i = 0; i < argc; ++i) {
          if (i) all += ' ';
          if (argv[i]) all += argv[i];
        }
        size_t separators = 0;
        split_char_buffer(all.data(), all.size(), separator, out, separators, true);
        return !out.empty();
      },
      [&] { out.clear(); });
}

uint32_t utf16_to_utf8_count(const uint16_t* units, size_t count, std::string& out) {
  out.clear();
  if (!units || count == 0) return 0;
  if (count > SIZE_MAX / 2) count = SIZE_MAX / 2;
  return utf16_to_utf8(static_cast<const void*>(units), 2 * count, out, true) / 2;
}

bool parse_double_wide(const std::wstring& text, double* out) {
  if (!out) return false;
  *out = 0;
  return vk::guarded([&] {
    std::string narrow;
    if (!wide_to_utf8(text, narrow)) return false;
    return parse_double_text(narrow.c_str(), out);
  });
}

bool parse_float_text(const char* text, float* out) {
  if (!out) return false;
  *out = 0;
  double value = 0;
  if (!parse_double_text(text, &value)) return false;
  // A finite value beyond the float range has no float.
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) return false;
  *out = static_cast<float>(value);
  return true;
}

bool parse_uint_narrowed(const std::wstring& text, uint32_t* out) {
  if (!out) return false;
  *out = 0;
  return vk::guarded([&] {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) narrow += static_cast<char>(static_cast<uint32_t>(c) & 0xFF);
    return parse_uint(narrow, *out);
  });
}

bool parse_u64_wide(const std::wstring& text, uint64_t* out) {
  if (!out) return false;
  *out = 0;
  return vk::guarded([&] {
    std::string narrow;
    if (!wide_to_utf8(text, narrow)) return false;
    return parse_u64_text(narrow, out);
  });
}

void html_escape_assign(std::string& out, const char* text) {
  out.clear();
  if (!text) return;
  vk::guarded([&] { out = html_escape(text); }, [&] { out.clear(); });
}

bool replace_first_w_copy(std::wstring& out, const std::wstring& text, const std::wstring& search,
                          const std::wstring& replacement, bool ignore_case) {
  return vk::guarded(
      [&] {
        out = text;
        return replace_first_w(out, search, replacement, ignore_case);
      },
      [&] { out.clear(); });
}

}  // namespace vk
