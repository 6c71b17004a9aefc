#include "disk/platform_volumes.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"

namespace vk {

namespace {

void map_name(std::map<std::string, uint64_t>& names, std::string name, uint64_t index) {
  if (name.empty()) return;
  names[str_to_lower(name)] = index;
}

}  // namespace

bool query_platform_volumes(platform_volume_map& volumes) {
  volumes.clear();
  return false;
}

bool query_platform_volumes(platform_volume_number_map& volumes) {
  volumes.clear();
  return false;
}

uint8_t index_platform_volumes(volume_store& store) {
  if (store.m_indexed) return store.m_indexed;
  guarded([&] {
    platform_volume_map found;
    if (!query_platform_volumes(found)) return;
    // Built aside: a platform that lists nothing leaves the store's own
    // records in place.
    volume_store fresh;
    for (const auto& [key, volume] : found) {
      if (volume.m_volume_name.empty() && volume.m_text5.empty()) continue;
      const uint64_t index = fresh.m_volumes.size();
      fresh.m_volumes.push_back(volume);
      map_name(fresh.m_by_volume_name, volume.m_volume_name, index);
      map_name(fresh.m_by_device_name, volume.m_text5, index);
      map_name(fresh.m_by_drive, volume.m_volume_letter, index);
      if (volume.m_serial) fresh.m_by_number[volume.m_serial] = index;
    }
    if (fresh.m_volumes.empty()) return;
    fresh.m_indexed = 1;
    store = std::move(fresh);
  });
  return store.m_indexed;
}

}  // namespace vk
