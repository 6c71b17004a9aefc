// The testable pieces of the program's entry: the usage text, the run
// header and the AppID taken from a jump list's file name.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_time.h"

namespace vk {

inline constexpr const char* k_vesk_version = "ver: 0.64";
inline constexpr const char* k_vesk_banner = "vesk ver: 0.64";

void write_vesk_usage(std::ostream& out);

// The run header's lines (banner, run line, command line), each ending in a
// line feed. args holds the program path first; date_template is the
// "-dateformat" value or "" for month/day/year; system_text is the os field.
std::string vesk_run_header(const std::vector<std::string>& args, const time& start,
                            const std::string& date_template, const std::string& host,
                            const std::string& system_text, bool on_network_fs, bool on_usb_device);

// "<system>;<version>;<release>;64" of this host for the program at exe_path.
std::string vesk_system_text(const std::string& exe_path);

// The AppID of a jump list's path: the run of hexadecimal digits that ends
// at the name's last '.' (its last 16 at most), their value, and the text
// after that '.'. A name whose character before the '.' is no hexadecimal
// digit has no AppID.
struct source_appid {
  std::string text;
  uint64_t value = 0;
  std::string extension;
};
source_appid appid_from_path(const std::string& path);
// The same into the caller's texts (emptied first; their room is kept).
void assign_appid_from_path(std::string_view path, std::string& text, uint64_t& value,
                            std::string& extension);

// The file an input name stands for: the name itself when a file has it,
// else the name with its %VAR% references expanded.
std::string input_path(const std::string& name);
// The same without a copy: name itself, or expanded holding the expansion.
const std::string& input_path(const std::string& name, std::string& expanded);

}  // namespace vk

namespace vk {

// One whole run of the tool over its argument vector (program path first);
// the process status: 0 every input read in full, 1 some could not be
// opened or read, 2 some structure was damaged, cut or not reported, -1
// nothing could be read or the command line was wrong.
int vesk_run(std::vector<std::string> args);

}  // namespace vk
