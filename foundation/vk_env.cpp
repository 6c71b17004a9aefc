#include "foundation/vk_env.h"

#include <cstdlib>
#include <exception>
#include <locale>
#include <memory>
#include <new>

#include "foundation/vk_guard.h"
#include "foundation/vk_hostsys.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// Texts this long are passed through untouched.
constexpr size_t kExpandLimit = 513;
// Values are rescanned, so a variable that refers to itself (directly or in
// a cycle) would substitute forever; stop after this many substitutions.
constexpr int kMaxSubstitutions = 256;

}  // namespace

std::string expand_env_vars(std::string text, bool vss_rule) {
  vk::guarded([&] {
    size_t pos = 0;
    int substitutions = 0;
    while (text.size() < kExpandLimit) {
      const size_t open = text.find('%', pos);
      if (open == std::string::npos) break;
      const size_t close = text.find('%', open + 1);
      if (close == std::string::npos) break;
      std::string name = text.substr(open + 1, close - open - 1);
      const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
      if (value != nullptr) {
        if (++substitutions > kMaxSubstitutions) break;
        text.replace(open, close - open + 1, value);
        pos = open;  // the inserted value is scanned too
        continue;
      }
      if (vss_rule && str_to_lower(name) == "vss") {
        if (++substitutions > kMaxSubstitutions) break;
        text.replace(open, close - open + 1, vss_device_path(false, true));
      }
      pos = close + 1;
    }
  });
  return text;
}

std::wstring expand_env_vars_w(std::wstring& text) {
  return vk::guarded(
      [&] {
        if (text.empty()) return text;
        // A conversion that stops part way would hand back a cut path; the text
        // then stays as it was.
        std::string narrow;
        if (!wide_to_utf8(text, narrow)) return text;
        const std::string expanded = expand_env_vars(narrow, false);
        std::wstring wide;
        if (!expanded.empty() && !utf8_to_wide(expanded, wide)) return text;
        text = wide;
        return wide;
      },
      [&] { return text; });
}

bool locale_exists(const char* name) {
  if (name == nullptr) return false;
  return vk::guarded([&] {
    std::locale loc(name);
    (void)loc;
    return true;
  });
}

bool pick_time_locale(std::string& name) {
  const bool found = vk::guarded([&] {
    name.clear();
    if (locale_exists("")) return true;
    name = expand_env_vars("%LC_TIME%", false);
    if (locale_exists(name.c_str())) return true;
    name = expand_env_vars("%LANG%", false);
    return locale_exists(name.c_str());
  });
  if (!found) name.clear();
  return found;
}

std::string get_host_name() {
  constexpr size_t kSize = 4096;
  return vk::guarded(
      [&]() -> std::string {
        std::unique_ptr<char[]> buf(new (std::nothrow) char[kSize]());
        if (!buf) return "<unk>";
        // One byte stays 0 so a truncated name is still terminated.
        if (host_sys().query_hostname(buf.get(), kSize - 1) != 0) return "<unk>";
        return std::string(buf.get());
      },
      [&] { return "<unk>"; });
}

std::wstring get_exe_path() {
  constexpr size_t kSize = 4096;
  return vk::guarded([&] {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[kSize]());
    if (!buf) return std::wstring();
    ssize_t n = host_sys().query_readlink("/proc/self/exe", buf.get(), 1023);
    if (n < 0) return std::wstring();
    std::wstring path;
    // A link text that is not UTF-8 gives no path rather than a cut one.
    if (!utf8_to_wide(std::string(buf.get(), static_cast<size_t>(n)), path)) return std::wstring();
    return path;
  });
}

std::string temporary_folder() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

}  // namespace vk
