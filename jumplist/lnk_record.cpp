#include "jumplist/lnk_record.h"

#include <utility>

#include "foundation/vk_bytes.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/lnk_layout.h"

namespace vk {

lnk_header load_lnk_header(const uint8_t* p) {
  namespace H = lnk_layout::header;
  const byte_view v(p, H::size);
  lnk_header h;
  h.m_lnk_header_size = *v.u32(H::header_size);
  v.copy(H::clsid, h.m_lnk_clsid.data(), h.m_lnk_clsid.size());
  h.m_lnk_flags = *v.u32(H::flags);
  h.m_file_attributes = *v.u32(H::file_attributes);
  h.m_create_time = *v.u64(H::create_time);
  h.m_access_time = *v.u64(H::access_time);
  h.m_write_time = *v.u64(H::write_time);
  h.m_file_size = *v.u32(H::file_size);
  h.m_icon_index = *v.i32(H::icon_index);
  h.m_show_cmd = *v.u32(H::show_cmd);
  h.m_hotkey = *v.u16(H::hotkey);
  h.m_reserved1 = *v.u16(H::reserved1);
  h.m_reserved2 = *v.u32(H::reserved2);
  h.m_reserved3 = *v.u32(H::reserved3);
  return h;
}

lnk_record::lnk_record() {
  reset_lnk_record(*this);
}

void clear_lnk_record(lnk_record& record) noexcept {
  // Moving the context texts out and back allocates nothing.
  std::string name = std::move(record.m_source_name);
  std::string type = std::move(record.m_source_type);
  std::string alt = std::move(record.m_source_alt_label);
  static_cast<lnk_record_fields&>(record) = lnk_record_fields{};
  record.m_source_name = std::move(name);
  record.m_source_type = std::move(type);
  record.m_source_alt_label = std::move(alt);
}

void reset_lnk_record(lnk_record& record) noexcept {
  clear_lnk_record(record);
  record.m_source_name.clear();
  record.m_source_type.clear();
  record.m_source_alt_label.clear();
}

void compact_lnk_record(lnk_record& record, bool keep_items) noexcept {
  if (keep_items) collect_idlist_segments(record.m_idlist_segments, record.m_idlist_items);
  shell_item_list().swap(record.m_idlist_items);
  std::vector<uint8_t>().swap(record.m_object_droid_bytes);
  for (std::string lnk_record_fields::*text :
       {&lnk_record_fields::m_destlist_path, &lnk_record_fields::m_darwin_product,
        &lnk_record_fields::m_darwin_feature, &lnk_record_fields::m_darwin_component,
        &lnk_record_fields::m_shim_layer, &lnk_record_fields::m_property_storage_fmtid})
    std::string().swap(record.*text);
}

}  // namespace vk
