#include "shell/idlist.h"
#include "shell/item_layout.h"

namespace vk {

namespace {

namespace L = item_layout;
using L::le16;
using L::le32;
using L::le8;

// The item's bytes once its size test has passed.
byte_view sized_view(const uint8_t* p, uint16_t size) {
  return byte_view(p, size);
}
}  // namespace

bool is_network_type_byte(uint16_t t) {
  return t == 0x20 || (t >= 0x40 && t <= 0x4B) || (t >= 0x4D && t <= 0x4F) || t == 0xC3;
}

bool is_type_1e_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 20) && p[2] == 0x1E;
}

bool is_root_folder_item(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 20);
  if (!size) return false;
  const byte_view v = sized_view(p, *size);
  const uint8_t type = le8(v, L::item::type);
  if (type != L::type::root_folder && type != L::type::type_4d) return false;
  if (*size == L::root_folder::short_size) return true;
  if (type == L::type::type_4d) return false;
  uint16_t last = le16(v, *size - 2u);
  return last <= available && last <= *size && last == 20;
}

bool is_root_folder_item_with_data(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 14);
  if (!size || *size <= L::root_folder::short_size) return false;
  const byte_view v = sized_view(p, *size);
  if (le8(v, L::item::type) != L::type::root_folder) return false;
  uint16_t a = le16(v, 4), b = le16(v, 12);
  return a != 0 && a <= *size && b != 0 && b <= a;
}

bool is_type_71_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 14) && p[2] == 0x71;
}

bool is_control_panel_category_item(const uint8_t* p, int64_t available) {
  namespace C = L::control_panel_category;
  auto size = sized_structure(p, available, 12);
  if (!size) return false;
  const byte_view v = sized_view(p, *size);
  return le32(v, C::signature_at) == C::signature &&
         le8(v, L::item::type) == L::type::control_panel_category;
}

bool is_type_01_item(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 8);
  if (!size || *size < L::small_item::min_size) return false;
  const byte_view v = sized_view(p, *size);
  return le16(v, 4) == 0 && le8(v, L::item::type) == 0x01;
}

bool is_type_02_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 8) && p[2] == 0x02;
}

bool is_volume_item(const uint8_t* p, int64_t available) {
  if (!sized_structure(p, available, 7)) return false;
  return p[2] == 0x23 || p[2] == 0x25 || p[2] == 0x29 || p[2] == 0x2F;
}

bool is_type_52_body(const uint8_t* p, int64_t available) {
  // The count at 46 must itself lie inside the bytes.
  if (!sized_structure(p, available, 4) || available < 50) return false;
  uint32_t c = le32(L::view_of(p, available), L::type_52::count);
  return c != 0 && 2 * static_cast<int64_t>(c) <= available;
}

bool is_type_64_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 6) && p[2] == 0x64;
}

bool is_network_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 6) && p[5] >= 0x20 && p[5] <= 0x7D &&
         (is_network_type_byte(p[2]) || p[2] == 0x43);
}

bool is_network_type_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 6) && (is_network_type_byte(p[2]) || p[2] == 0x43);
}

bool is_file_entry_item(const uint8_t* p, int64_t available) {
  if (!sized_structure(p, available, 15)) return false;
  switch (p[2]) {
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x34:
    case 0x35:
    case 0x36:
    case 0x38:
    case 0x39:
    case 0x3A:
    case 0x3D:
    case 0x3E:
    case 0xB1:
      return true;
    default:
      return false;
  }
}

bool is_94_byte_structure(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 94);
  namespace S = L::s94;
  if (!size) return false;
  const byte_view v = sized_view(p, *size);
  if (le32(v, S::zero_word) != 0) return false;
  const size_t c1 = le16(v, S::count1), c2 = le16(v, S::count2);
  if (c1 == 0 || *size != S::fixed_size + 2 * static_cast<int64_t>(c1 + c2)) return false;
  // Both texts end in a zero unit.
  return le16(v, S::text + 2 * c1) == 0 && le16(v, S::text + 2 + 2 * c1 + 2 * c2) == 0;
}

bool is_string_named_value(const uint8_t* p, int64_t available) {
  if (!p || available < 11) return false;
  const byte_view v = L::view_of(p, available);
  uint32_t value_size = le32(v, 0), name_size = le32(v, 4);
  return value_size >= 11 && value_size <= available && name_size <= value_size && le8(v, 8) == 0;
}

}  // namespace vk
