// How a report shows texts it did not make: file names and other byte
// strings as UTF-8 with stray bytes escaped, and the source path of a record.
#pragma once

#include <string>
#include <string_view>

#include "jumplist/vesk_options.h"

namespace vk {

// The text as it is when it is UTF-8; each byte that is not part of a UTF-8
// sequence written as \xNN (file names may hold any bytes).
std::string utf8_or_escaped(const std::string& text);
void append_utf8_or_escaped(std::string& out, std::string_view text);

// Sets the source path of the file being read and makes the text the
// reports show for it (kept in the run's scratch).
void set_source_path(lnk::useropts& options, const std::string& path);
// The source path as the reports show it: escaped, then aliased; the text
// set_source_path made for the current path (a path set otherwise shows as
// it stands).
std::string record_source_text(const lnk::useropts& options);
const std::string& shown_source_text(const lnk::useropts& options);

}  // namespace vk
