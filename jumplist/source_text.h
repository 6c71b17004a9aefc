// How a report shows the source path of a record (file names and other byte
// strings are written by shown_name, foundation/vk_text.h).
#pragma once

#include <string>
#include <string_view>

#include "foundation/vk_text.h"
#include "jumplist/vesk_options.h"

namespace vk {

// Sets the source path of the file being read and makes the text the
// reports show for it (kept in the run's scratch).
void set_source_path(lnk::useropts& options, const std::string& path);
// The source path as the reports show it: escaped, aliased, then its
// control characters marked (shown_name); the text
// set_source_path made for the current path (a path set otherwise shows as
// it stands).
std::string record_source_text(const lnk::useropts& options);
const std::string& shown_source_text(const lnk::useropts& options);

}  // namespace vk
