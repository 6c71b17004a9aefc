// Per-file drivers: tell automatic jump lists, custom jump lists and other
// files holding shell links apart, turn their links into records and report
// them once the whole file has been read.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "jumplist/lnk_record.h"
#include "jumplist/vesk_options.h"

namespace vk {

// Classifies the file and runs its road; false when it is no compound file
// and holds no shell link in its first 32768 bytes, or its road fails.
// Prints nothing of its own; a failure is kept in the settings' failure
// fields for failure_line.
bool process_jumplist_file(std::ostream& out, const std::string& path, vesk_options& options);

// The DestList entries of a compound file in order, each with its LNK
// stream; reported from the highest DestList position down, then the links
// of free space as they are found, a copy of each kept in
// free_space_records under its file offset.
bool process_automatic_jumplist(std::ostream& out, const std::string& path, vesk_options& options,
                                std::multimap<int64_t, lnk_record>& free_space_records);

// Custom jump lists and other files holding links: every link the scanner
// carves, reported from the highest file offset down.
bool process_custom_jumplist(std::ostream& out, const std::string& path, vesk_options& options);

// The line (ending in a line feed) saying why the file named path gave no
// record, from the failure the driver kept; "no entries" when it kept none.
std::string failure_line(const lnk::useropts& options, const std::string& path);

// The file could not be opened or read (as against holding nothing to report).
bool failure_is_access(const lnk::useropts& options);

}  // namespace vk
