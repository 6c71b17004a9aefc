// Paths and host queries: where a path's directory ends and its name begins,
// the path form of a name (its bytes as wide text and back), what the machine
// runs and where the program lives, and the device path of a volume shadow
// copy.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_args.h"  // the option look-ups once declared here

namespace vk {

// The host-system record of the run header.
struct host_info {
  uint8_t m_valid = 0;
  uint8_t m_is_64bit = 0;
  std::string m_system_name;
  std::string m_version;
  std::string m_release;
  std::string m_node_name;
  uint8_t m_release_cut = 0;  // write the release only up to one character after its last '.'
  std::string m_exe_path;
  std::string m_exe_name;  // text after the path's last '/' up to the next '_'
  uint64_t m_exe_size = 0;
  std::string m_extra;
  uint8_t m_on_network_fs = 0;
  uint8_t m_on_usb_device = 0;
};

// Flags and size to 0, every text empty.
void clear_host_info(host_info& info);
// Prepares a record for use (the same as a freshly constructed one).
void init_host_info(host_info& info);
// Empties the record and gives back the memory of its texts.
void destroy_host_info(host_info& info);

// Splits at the last '\', or when the path holds none at the last '/'.  A path
// without a usable separator gives directory "." and the whole path as name;
// a name ".." becomes "." with "\.." (or "//..") appended to the directory.
// False for an empty path (both outputs emptied first).
bool split_path(const std::string& path, std::string& dir, std::string& name);
// The wide form leaves the outputs untouched for an empty path.
bool split_path_w(const std::wstring& path, std::wstring& dir, std::wstring& name);
bool split_path_cstr(const char* path, std::string& directory, std::string& name);
// Directory, name before its last '.', and the text after that '.'.
bool split_path_base_ext(const char* path, std::string& directory, std::string& base,
                         std::string& extension);

// The path form of a name. File names are bytes on this system and need not
// be UTF-8; the wide path form keeps every byte: well-formed UTF-8 becomes
// its characters, every other byte b the code point 0xDC00 + b (a lone
// surrogate that well-formed text never yields), and back again. Every
// routine that takes a wide path opens exactly the bytes path_to_bytes gives.
std::wstring path_to_wide(const std::string& bytes);
// The bytes of a wide path; a character beyond Unicode is left out.
std::string path_from_wide(const std::wstring& wide);
// The bytes of a wide path; false (out empty) for an empty path or one with
// a character beyond Unicode, which names no file.
bool path_to_bytes(const std::wstring& wide, std::string& out);

// Target of /proc/self/exe (at most 2047 bytes); "" on failure.
std::string self_exe_path();
// The program file lies on NFS, SMB, FUSE or CIFS.
bool exe_on_network_fs();
// The block device holding the program file resolves under /sys/dev/block to
// a path through a USB bus.
bool exe_on_usb_device();
// Fills the record from uname and the given program path; false when uname fails.
bool get_system_info(host_info& info, const std::string& exe_path);
// The record as one separated line: system name, [node name,] version,
// release, "64"/"32", [lower-cased program path,] [size in hex].  The
// separator inside a value is replaced by the replacement text.
void write_system_info(const host_info& info, std::ostringstream& out, const std::string& separator,
                       const std::string& replacement, bool with_node, bool with_path);
// Sets m_exe_size to the size of the file at the UTF-8 path m_exe_path (0
// when it cannot be read); true when not 0.
bool host_info_set_exe_size(host_info& info);

// Paths longer than this many characters keep a "\\?\GLOBALROOT" prefix.
constexpr uint32_t long_path_limit() {
  return 46;
}

// "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy" (with_root) or
// "\Device\HarddiskVolumeShadowCopy", lower-cased when asked; the caller
// appends the copy number.
std::string vss_device_path(bool lower, bool with_root);

}  // namespace vk
