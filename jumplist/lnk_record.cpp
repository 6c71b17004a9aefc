#include "jumplist/lnk_record.h"

#include <utility>

#include "foundation/vk_bytes.h"

namespace vk {

lnk_header load_lnk_header(const uint8_t* p) {
  lnk_header h;
  h.m_lnk_header_size = load_le32(p);
  for (size_t i = 0; i < h.m_lnk_clsid.size(); ++i) h.m_lnk_clsid[i] = p[4 + i];
  h.m_lnk_flags = load_le32(p + 20);
  h.m_file_attributes = load_le32(p + 24);
  h.m_create_time = load_le64(p + 28);
  h.m_access_time = load_le64(p + 36);
  h.m_write_time = load_le64(p + 44);
  h.m_file_size = load_le32(p + 52);
  h.m_icon_index = static_cast<int32_t>(load_le32(p + 56));
  h.m_show_cmd = load_le32(p + 60);
  h.m_hotkey = load_le16(p + 64);
  h.m_reserved1 = load_le16(p + 66);
  h.m_reserved2 = load_le32(p + 68);
  h.m_reserved3 = load_le32(p + 72);
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

}  // namespace vk
