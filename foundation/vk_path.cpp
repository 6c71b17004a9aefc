#include "foundation/vk_path.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_hostsys.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// Option words compare without regard to case; the list keeps its texts.
bool same_ignoring_case(const std::string& arg, const char* name) {
  if (name == nullptr) return false;
  std::string a = arg;
  std::string b = name;
  return iequals(a, b);
}

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
  try {
    return split_path_impl(path, dir, name);
  } catch (const std::exception&) {
    dir.clear();
    name.clear();
    return false;
  }
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

bool take_option_value(const char* name, std::string& value, std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (!same_ignoring_case(args[i], name)) continue;
    if (i + 1 >= args.size()) return false;
    try {
      value = args[i + 1];
    } catch (const std::exception&) {
      return false;
    }
    erase_string_at(static_cast<uint32_t>(i), args);
    erase_string_at(static_cast<uint32_t>(i), args);
    return true;
  }
  return false;
}

bool take_option_flag(const char* name, std::vector<std::string>& args, bool keep) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (!same_ignoring_case(args[i], name)) continue;
    if (!keep) erase_string_at(static_cast<uint32_t>(i), args);
    return true;
  }
  return false;
}

bool has_option(const char* name, const std::vector<std::string>& args, uint8_t start) {
  for (size_t i = start; i < args.size(); ++i)
    if (same_ignoring_case(args[i], name)) return true;
  return false;
}

bool take_arg_flag(const char* name, int& argc, char** argv, bool keep) {
  if (argv == nullptr || name == nullptr) return false;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    try {
      if (!same_ignoring_case(argv[i], name)) continue;
    } catch (const std::exception&) {
      return false;
    }
    if (!keep) remove_arg(static_cast<uint32_t>(i), argc, argv);
    return true;
  }
  return false;
}

bool has_arg(const char* name, int argc, char** argv) {
  return take_arg_flag(name, argc, argv, true);
}

namespace {
template <typename Ch>
bool remove_arg_impl(uint32_t index, int& argc, Ch** argv) {
  if (argv == nullptr || argc <= 0 || index >= static_cast<uint32_t>(argc)) return false;
  for (int j = static_cast<int>(index); j + 1 < argc; ++j) argv[j] = argv[j + 1];
  --argc;
  return true;
}
}  // namespace

bool remove_arg(uint32_t index, int& argc, char** argv) {
  return remove_arg_impl(index, argc, argv);
}

bool remove_arg_w(uint32_t index, int& argc, wchar_t** argv) {
  return remove_arg_impl(index, argc, argv);
}

bool erase_string_at(uint32_t index, std::vector<std::string>& list) {
  if (index >= list.size()) return false;
  list.erase(list.begin() + index);
  return true;
}

bool erase_wstring_at(uint32_t index, std::vector<std::wstring>& list) {
  if (index >= list.size()) return false;
  list.erase(list.begin() + index);
  return true;
}

std::string self_exe_path() {
  constexpr size_t kSize = 2048;
  try {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[kSize]());
    if (!buf) return std::string();
    ssize_t n = host_sys().query_readlink("/proc/self/exe", buf.get(), kSize - 1);
    if (n < 0) return std::string();
    return std::string(buf.get(),
                       static_cast<size_t>(n) < kSize ? static_cast<size_t>(n) : kSize - 1);
  } catch (const std::exception&) {
    return std::string();
  }
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
  try {
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
  } catch (const std::exception&) {
    info.m_valid = 0;
    return false;
  }
  info.m_on_usb_device = exe_on_usb_device() ? 1 : 0;
  info.m_on_network_fs = exe_on_network_fs() ? 1 : 0;
  info.m_valid = 1;
  return true;
}

void write_system_info(const host_info& info, std::ostringstream& out, const std::string& separator,
                       const std::string& replacement, bool with_node, bool with_path) {
  out.str(std::string());
  out.clear();
  try {
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
  } catch (const std::exception&) {
  }
}

bool host_info_set_exe_size(host_info& info) {
  try {
    info.m_exe_size = file_size_wide(from_utf8(info.m_exe_path));
  } catch (const std::exception&) {
    info.m_exe_size = 0;
  }
  return info.m_exe_size != 0;
}

std::string vss_device_path(bool lower, bool with_root) {
  std::string s;
  try {
    if (with_root) s = "\\\\?\\GLOBALROOT";
    s += "\\Device\\HarddiskVolumeShadowCopy";
    if (lower) str_to_lower(s);
  } catch (const std::exception&) {
    s.clear();
  }
  return s;
}

}  // namespace vk
