// The platform's list of mounted volumes, and the volume store built from
// it. This platform offers no such list: the queries answer nothing, and a
// store indexed from them stays unindexed.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "disk/volume_store.h"

namespace vk {

// Keyed by "<drive number>_<start sector>" (decimal).
using platform_volume_map = std::map<std::string, partition_entry>;
// Keyed by volume number.
using platform_volume_number_map = std::map<uint32_t, partition_entry>;

// Empties the map and fills it from the platform; true when it holds entries.
bool query_platform_volumes(platform_volume_map& volumes);
bool query_platform_volumes(platform_volume_number_map& volumes);

// Rebuilds the store from the platform's volumes unless it is indexed
// already; a platform that lists none leaves the store as it is. Returns
// the indexed flag.
uint8_t index_platform_volumes(volume_store& store);

}  // namespace vk
