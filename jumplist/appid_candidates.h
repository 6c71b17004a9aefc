// The byte strings an application's path may have been hashed from to name
// its jump-list files: the path with a known folder replaced by the folder's
// identifier, and the path itself. Each is hashed with appid_crc64.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vk {

// A known folder's identifier as "{guid}" text, and the folder's label.
using folder_guid_pair = std::pair<std::string, std::string>;

// out = ("{" + guid_text + "}", label); false (out cleared) when it cannot be
// made.
bool make_folder_guid_pair(folder_guid_pair& out, const std::string& guid_text,
                           const std::string& label);

// Fills candidates with upper-cased UTF-16LE texts (no terminator) and names
// with one name each: the candidate's own text when texts_as_names is set,
// else the folder's label ("raw" for the path itself). Known-folder forms
// come first: those of the folders under Windows and Common Files, or, when
// none of these occurs, those of Program Files and Windows; then the path.
// A text that is not valid UTF-8 gives no candidate. Both lists are emptied
// first; true when candidates is not empty.
bool appid_candidates(std::vector<std::vector<uint8_t>>& candidates,
                      std::vector<std::string>& names, const std::string& path,
                      bool texts_as_names);

}  // namespace vk
