#include "foundation/vk_misc.h"

#include <sys/time.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "foundation/vk_counted_string.h"
#include "foundation/vk_guid.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_unicode.h"

namespace vk {

// Built in this order, destroyed at exit.
const std::string newline_text = "\n";
const std::string empty_text;
std::ostringstream scratch_stream;
null_out_stream null_stream;

namespace {

// Index of the first argument equal to name ignoring case, from start; -1 if none.
long find_wide_arg(const char* name, const std::vector<std::wstring>& args, size_t start) {
  if (!name) return -1;
  const std::wstring key = from_utf8(name);
  for (size_t i = start; i < args.size(); ++i) {
    std::wstring a = args[i], k = key;
    if (wiequals(a, k)) return static_cast<long>(i);
  }
  return -1;
}

bool random_seeded = false;
uint32_t random_state = 0;

}  // namespace

// ---------------------------------------------------------------------------

uint8_t random_in_range(uint8_t low, uint8_t high) {
  if (!random_seeded) {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    random_state = static_cast<uint32_t>(tv.tv_usec);
    std::srand(random_state);
    random_seeded = true;
  }
  if (high < low) std::swap(low, high);
  const int r = std::rand();
  random_state = static_cast<uint32_t>(r);
  const uint32_t span = static_cast<uint32_t>(high - low) + 1;
  return static_cast<uint8_t>(low + static_cast<uint32_t>(r) % span);
}

uint32_t random_u32() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | random_in_range(0, 255);
  return v;
}

bool split_path_cstr(const char* path, std::string& directory, std::string& name) {
  if (!path) return false;
  try {
    return split_path(path, directory, name);
  } catch (...) {
    return false;
  }
}

bool split_path_base_ext(const char* path, std::string& directory, std::string& base,
                         std::string& extension) {
  directory.clear();
  base.clear();
  extension.clear();
  if (!path) return false;
  try {
    std::string name;
    if (!split_path(path, directory, name)) return false;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
      base = name;
    } else {
      base = name.substr(0, dot);
      extension = name.substr(dot + 1);
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool find_vector_pattern(const uint8_t* buffer, uint32_t length,
                         const std::vector<uint8_t>& pattern, uint64_t* offset, uint64_t base,
                         bool skip_table) {
  if (!buffer || length == 0 || pattern.empty()) return false;
  try {
    std::vector<uint64_t> found;
    if (!find_pattern_offsets(buffer, length, pattern.data(), pattern.size(), found, base,
                              skip_table, true))
      return false;
    if (offset) *offset = found.front();
    return true;
  } catch (...) {
    return false;
  }
}

bool find_pattern_vector_offsets(const uint8_t* buffer, uint32_t length,
                                 const std::vector<uint8_t>& pattern,
                                 std::vector<uint64_t>& offsets, uint64_t base, bool skip_table) {
  offsets.clear();
  if (!buffer || length == 0 || pattern.empty()) return false;
  try {
    return find_pattern_offsets(buffer, length, pattern.data(), pattern.size(), offsets, base,
                                skip_table, false);
  } catch (...) {
    offsets.clear();
    return false;
  }
}

std::ostream& write_blanks(std::ostream& os, uint32_t count) {
  if (count == 0) return os;
  os.fill(' ');
  os.width(count);
  return os << " ";
}

bool base64_decode(const uint8_t* text, int32_t length, std::vector<uint8_t>& out) {
  if (!text || length <= 0) return false;
  try {
    std::vector<uint8_t> kept;
    kept.reserve(static_cast<size_t>(length));
    for (int32_t i = 0; i < length && text[i] != 0; ++i) {
      uint8_t c = text[i];
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
          c == '/' || c == '=')
        kept.push_back(c);
    }
    std::vector<uint8_t> res;
    res.reserve(kept.size() / 4 * 3 + 3);
    for (size_t i = 0; i < kept.size(); i += 4) {
      const size_t have = kept.size() - i;
      // A lone character carries fewer than 8 bits: no byte.
      if (have < 2) break;
      const uint8_t c0 = kept[i], c1 = kept[i + 1];
      const uint8_t c2 = have > 2 ? kept[i + 2] : '=';
      const uint8_t c3 = have > 3 ? kept[i + 3] : '=';
      const uint32_t v0 = base64_char_value(c0), v1 = base64_char_value(c1),
                     v2 = base64_char_value(c2), v3 = base64_char_value(c3);
      res.push_back(static_cast<uint8_t>((v0 << 2) | (v1 >> 4)));
      if (c2 != '=') res.push_back(static_cast<uint8_t>((v1 << 4) | (v2 >> 2)));
      if (c3 != '=') res.push_back(static_cast<uint8_t>((v2 << 6) | v3));
    }
    out = std::move(res);
    return true;
  } catch (...) {
    return false;
  }
}

int last_errno() {
  return errno;
}

const uint16_t* format_to_utf16(std::vector<uint16_t>& out, const char* format, ...) {
  out.clear();
  if (!format) return nullptr;
  try {
    std::vector<char> area(30, 0);
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(area.data(), area.size(), format, ap);
    va_end(ap);
    if (n < 0) return nullptr;
    if (n > 29) {
      area.assign(static_cast<size_t>(n) + 10, 0);
      va_start(ap, format);
      n = std::vsnprintf(area.data(), area.size(), format, ap);
      va_end(ap);
      if (n < 0) return nullptr;
    }
    return ascii_to_utf16_crlf(out, area.data());
  } catch (...) {
    out.clear();
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Look-ups over wide arguments

bool find_option_value_w(const char* name, std::wstring& value, std::vector<std::wstring>& args) {
  try {
    long i = find_wide_arg(name, args, 0);
    if (i < 0 || static_cast<size_t>(i) + 1 >= args.size()) return false;
    value = args[i + 1];
    erase_wstring_at(static_cast<uint32_t>(i), args);
    erase_wstring_at(static_cast<uint32_t>(i), args);
    return true;
  } catch (...) {
    return false;
  }
}

bool find_option_value_pair_w(const char* name, std::wstring& value1, std::wstring& value2,
                              std::vector<std::wstring>& args) {
  try {
    long i = find_wide_arg(name, args, 0);
    if (i < 0 || static_cast<size_t>(i) + 2 >= args.size()) return false;
    value1 = args[i + 1];
    value2 = args[i + 2];
    for (int k = 0; k < 3; ++k) erase_wstring_at(static_cast<uint32_t>(i), args);
    return true;
  } catch (...) {
    return false;
  }
}

bool take_option_flag_w(const char* name, std::vector<std::wstring>& args, bool keep) {
  try {
    long i = find_wide_arg(name, args, 0);
    if (i < 0) return false;
    if (!keep) erase_wstring_at(static_cast<uint32_t>(i), args);
    return true;
  } catch (...) {
    return false;
  }
}

bool has_option_w(const char* name, const std::vector<std::wstring>& args, uint8_t start) {
  try {
    return find_wide_arg(name, args, start) >= 0;
  } catch (...) {
    return false;
  }
}

namespace {
int32_t find_argv(const char* name, int32_t argc, char** argv) {
  if (!name || !argv) return -1;
  for (int32_t i = 1; i < argc; ++i) {
    if (!argv[i]) continue;
    std::string a = argv[i], k = name;
    if (iequals(a, k)) return i;
  }
  return -1;
}
}  // namespace

bool find_option_value_argv(const char* name, std::string& value, int32_t* argc, char** argv) {
  if (!argc) return false;
  try {
    int32_t i = find_argv(name, *argc, argv);
    if (i < 0 || i + 1 >= *argc) return false;
    value = argv[i + 1] ? argv[i + 1] : "";
    remove_arg(static_cast<uint32_t>(i), *argc, argv);
    remove_arg(static_cast<uint32_t>(i), *argc, argv);
    return true;
  } catch (...) {
    return false;
  }
}

bool find_option_value_argv_keep(const char* name, std::string& value, int32_t* argc, char** argv) {
  if (!argc) return false;
  try {
    int32_t i = find_argv(name, *argc, argv);
    if (i < 0 || i + 1 >= *argc) return false;
    value = argv[i + 1] ? argv[i + 1] : "";
    return true;
  } catch (...) {
    return false;
  }
}

bool wide_args_to_vector(std::vector<std::string>& out, int32_t argc, const wchar_t** argv) {
  try {
    for (int32_t i = 0; argv && i < argc; ++i)
      out.push_back(argv[i] ? to_utf8(argv[i]) : std::string());
  } catch (...) {
  }
  return !out.empty();
}

}  // namespace vk
