// Display names of the GPT partition types the library knows, by type GUID.
#pragma once

#include <map>
#include <string>

#include "foundation/vk_guid.h"

namespace vk {

using gpt_type_name_map = std::map<guid, std::string>;

inline constexpr size_t gpt_type_name_count = 44;

// Fills the caller's map when it is empty (a copy of the table built once
// per run); a map already filled is left as it is.
bool build_gpt_type_names(gpt_type_name_map& names);

}  // namespace vk
