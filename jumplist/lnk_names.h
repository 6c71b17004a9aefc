// Names of the coded values of a shell link: show command, LinkFlags,
// drive type and CSIDL. Values without a name give "unk".
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace vk {

const char* show_command_name(uint32_t value);
// Names of the set bits 0 to 25 joined by ", "; "Default" for 0, "" when no
// named bit is set.
std::string link_flags_names(uint32_t flags);
void append_link_flags_names(std::string& out, uint32_t flags);
// The same text written at `at`, which has k_link_flags_names_room bytes of
// room; returns its end.
inline constexpr size_t k_link_flags_names_room = 512;
char* put_link_flags_names(char* at, uint32_t flags);
const char* drive_type_text(uint32_t type);
std::ostream& drive_type_name(std::ostream& out, uint32_t type);
const char* csidl_name(uint32_t special_folder_id);
// |a - b| without overflow.
uint64_t u64_distance(int64_t a, int64_t b);

}  // namespace vk
