#include "foundation/vk_path.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_hostsys.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

template <typename Str>
bool split_path_impl(const Str& path, Str& dir, Str& name) {
  using Ch = typename Str::value_type;
  size_t pos = path.rfind(Ch('\\'));
  Ch sep = Ch('\\');
  if (pos == Str::npos) {
    pos = path.rfind(Ch('/'));
    sep = Ch('/');
  }
  if (pos == Str::npos || pos == 0) {
    dir.assign(1, Ch('.'));
    name = path;
    return true;
  }
  dir.assign(path, 0, pos);
  name.assign(path, pos + 1, Str::npos);
  if (name.size() == 2 && name[0] == Ch('.') && name[1] == Ch('.')) {
    name.assign(1, Ch('.'));
    // The backslash form appends one separator, the slash form two.
    dir.append(sep == Ch('/') ? 2 : 1, sep);
    dir.append(2, Ch('.'));
  }
  return true;
}

// The narrow form empties its outputs even for an empty path; the wide form
// leaves them as they were then.
template <typename Str>
bool split_path_guarded(const Str& path, Str& dir, Str& name, bool clear_when_empty) {
  if (path.empty()) {
    if (clear_when_empty) {
      dir.clear();
      name.clear();
    }
    return false;
  }
  dir.clear();
  name.clear();
  return vk::guarded([&] { return split_path_impl(path, dir, name); },
                     [&] {
                       dir.clear();
                       name.clear();
                       return false;
                     });
}

}  // namespace

void clear_host_info(host_info& info) {
  info.m_valid = 0;
  info.m_is_64bit = 0;
  info.m_system_name.clear();
  info.m_version.clear();
  info.m_release.clear();
  info.m_node_name.clear();
  info.m_release_cut = 0;
  info.m_exe_path.clear();
  info.m_exe_name.clear();
  info.m_exe_size = 0;
  info.m_extra.clear();
  info.m_on_network_fs = 0;
  info.m_on_usb_device = 0;
}

void init_host_info(host_info& info) {
  clear_host_info(info);
}

void destroy_host_info(host_info& info) {
  clear_host_info(info);
  for (std::string* s : {&info.m_system_name, &info.m_version, &info.m_release, &info.m_node_name,
                         &info.m_exe_path, &info.m_exe_name, &info.m_extra})
    std::string().swap(*s);
}

bool split_path(const std::string& path, std::string& dir, std::string& name) {
  return split_path_guarded(path, dir, name, true);
}

bool split_path_w(const std::wstring& path, std::wstring& dir, std::wstring& name) {
  return split_path_guarded(path, dir, name, false);
}

bool split_path_cstr(const char* path, std::string& directory, std::string& name) {
  if (!path) return false;
  return guarded([&] { return split_path(path, directory, name); });
}

bool split_path_base_ext(const char* path, std::string& directory, std::string& base,
                         std::string& extension) {
  directory.clear();
  base.clear();
  extension.clear();
  if (!path) return false;
  return guarded([&] {
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
  });
}

namespace {

// Code points that stand for one undecodable byte each.
constexpr uint32_t escape_base = 0xDC00;
constexpr uint32_t escape_first = 0xDC80;
constexpr uint32_t escape_last = 0xDCFF;

// Length of the well-formed UTF-8 sequence at `i` with its value, or 0.
size_t decode_one(const std::string& s, size_t i, uint32_t& cp) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = at(i);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = at(i + k);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::wstring path_to_wide(const std::string& bytes) {
  return guarded([&] {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
      uint32_t cp = 0;
      const size_t len = decode_one(bytes, i, cp);
      if (len == 0) {
        out.push_back(static_cast<wchar_t>(escape_base + static_cast<unsigned char>(bytes[i])));
        ++i;
      } else {
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
      }
    }
    return out;
  });
}

std::string path_from_wide(const std::wstring& wide) {
  return guarded([&] {
    std::string out;
    out.reserve(wide.size());
    for (wchar_t w : wide) {
      const uint32_t cp = static_cast<uint32_t>(w);
      if (cp >= escape_first && cp <= escape_last) {
        out.push_back(static_cast<char>(cp - escape_base));
      } else if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
      } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
      } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
      } else if (cp <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
      }
      // Anything beyond Unicode cannot name a file here and is left out.
    }
    return out;
  });
}

bool path_to_bytes(const std::wstring& wide, std::string& out) {
  out.clear();
  for (wchar_t w : wide)
    if (static_cast<uint32_t>(w) > 0x10FFFF) return false;
  return guarded([&] {
    out = path_from_wide(wide);
    return !out.empty();
  });
}

std::string self_exe_path() {
  constexpr size_t kSize = 2048;
  return vk::guarded([&] {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[kSize]());
    if (!buf) return std::string();
    ssize_t n = host_sys().query_readlink("/proc/self/exe", buf.get(), kSize - 1);
    if (n < 0) return std::string();
    return std::string(buf.get(),
                       static_cast<size_t>(n) < kSize ? static_cast<size_t>(n) : kSize - 1);
  });
}

bool exe_on_network_fs() {
  std::string path = self_exe_path();
  if (path.size() <= 1) return false;
  uint64_t type = 0;
  if (!host_sys().query_fs_type(path.c_str(), type)) return false;
  return type == 0x6969 || type == 0x517B || type == 0x65735546 || type == 0xFF534D42;
}

bool exe_on_usb_device() {
  std::string path = self_exe_path();
  if (path.size() <= 1) return false;
  long major_no = 0;
  long minor_no = 0;
  if (!host_sys().query_device_numbers(path.c_str(), major_no, minor_no)) return false;
  char link[4096] = {};
  std::snprintf(link, sizeof link, "%s/%ld:%ld", "/sys/dev/block", major_no, minor_no);
  std::string resolved;
  if (!host_sys().query_realpath(link, resolved)) return false;
  return resolved.find("usb") != std::string::npos;
}

bool get_system_info(host_info& info, const std::string& exe_path) {
  clear_host_info(info);
  return vk::guarded(
      [&] {
        info.m_system_name = "Linux";
        host_uname u;
        if (!host_sys().query_uname(u)) {
          info.m_valid = 0;
          return false;
        }
        info.m_system_name = u.sysname;
        info.m_version = u.version;
        info.m_release = u.release;
        info.m_node_name = u.nodename;
        std::string machine = u.machine;
        if (str_to_lower(machine).find("64") != std::string::npos) info.m_is_64bit = 1;

        info.m_exe_path = exe_path;
        size_t slash = exe_path.rfind('/');
        if (slash != std::string::npos) {
          size_t underscore = exe_path.find('_', slash + 1);
          if (underscore != std::string::npos)
            info.m_exe_name = exe_path.substr(slash + 1, underscore - slash - 1);
        }
        info.m_on_usb_device = exe_on_usb_device() ? 1 : 0;
        info.m_on_network_fs = exe_on_network_fs() ? 1 : 0;
        info.m_valid = 1;
        return true;
      },
      [&] {
        info.m_valid = 0;
        return false;
      });
}

void write_system_info(const host_info& info, std::ostringstream& out, const std::string& separator,
                       const std::string& replacement, bool with_node, bool with_path) {
  out.str(std::string());
  out.clear();
  vk::guarded([&] {
    std::string cleaned;
    auto field = [&](const std::string& value) {
      if (separator.empty()) {
        out << value;
      } else {
        replace_all_copy(cleaned, value, separator, replacement);
        out << cleaned;
      }
      out << separator;
    };
    field(info.m_system_name);
    if (with_node) field(info.m_node_name);
    field(info.m_version);
    std::string release = info.m_release;
    if (info.m_release_cut) {
      size_t dot = release.rfind('.');
      if (dot != std::string::npos && release.size() - dot - 1 >= 2) release.resize(dot + 2);
    }
    field(release);
    out << (info.m_is_64bit ? "64" : "32");
    if (with_path && !info.m_exe_path.empty()) {
      std::string path = info.m_exe_path;
      out << separator << str_to_lower(path);
    }
    if (info.m_exe_size != 0) out << separator << std::hex << info.m_exe_size << std::dec;
  });
}

bool host_info_set_exe_size(host_info& info) {
  vk::guarded([&] { info.m_exe_size = file_size_wide(path_to_wide(info.m_exe_path)); },
              [&] { info.m_exe_size = 0; });
  return info.m_exe_size != 0;
}

std::string vss_device_path(bool lower, bool with_root) {
  std::string s;
  vk::guarded(
      [&] {
        if (with_root) s = "\\\\?\\GLOBALROOT";
        s += "\\Device\\HarddiskVolumeShadowCopy";
        if (lower) str_to_lower(s);
      },
      [&] { s.clear(); });
  return s;
}

}  // namespace vk
