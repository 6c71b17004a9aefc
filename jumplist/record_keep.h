// Which parsed links are worth a record: the keep rule of every road.
#pragma once

#include "jumplist/lnk_record.h"

namespace vk {

// No object, no target path (a network share's among them), no creation
// time and no property store.
inline bool record_is_empty(const lnk_record& r) {
  return r.m_object_droid.empty() && r.m_idlist_path.empty() && r.m_vista_idlist_path.empty() &&
         r.m_local_base_path.empty() && r.m_net_name.empty() && r.m_idlist_times[2] == 0 &&
         (r.m_property_keys.empty() || r.m_lnk_size == 0);
}

// Nor does any extra-data block a reader of the link shows (a link may hold
// nothing else): each needs its block's signature and size to be read.
inline bool extra_data_is_empty(const lnk_record& r) {
  return r.m_icon_environment.empty() && r.m_machine_id.empty() && r.m_known_folder_id.empty() &&
         r.m_darwin_product.empty() && r.m_shim_layer.empty();
}

// A link is kept on every road when anything names its target: also an
// environment block or the link's own texts, which console and shell-command
// links carry without any path above. A stream that was missing or not a
// link, or bytes that only look like a link header, have none of them.
inline bool carved_record_is_empty(const lnk_record& r) {
  return record_is_empty(r) && r.m_environment_target.empty() && r.m_relative_path.empty() &&
         r.m_working_dir.empty() && r.m_arguments.empty() && r.m_icon_location.empty() &&
         r.m_name.empty() && extra_data_is_empty(r);
}

}  // namespace vk
