#include "shell/idlist.h"

namespace vk {

namespace {
bool network_type(uint8_t t) {
  return t == 0x20 || (t >= 0x40 && t <= 0x4B) || (t >= 0x4D && t <= 0x4F) || t == 0xC3;
}
}  // namespace

bool is_type_1e_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 20) && p[2] == 0x1E;
}

bool is_root_folder_item(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 20);
  if (!size || (p[2] != 0x1F && p[2] != 0x4D)) return false;
  if (*size == 20) return true;
  if (p[2] == 0x4D) return false;
  uint16_t last = load_le16(p + *size - 2);
  return last <= available && last <= *size && last == 20;
}

bool is_root_folder_item_with_data(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 14);
  if (!size || p[2] != 0x1F || *size <= 20) return false;
  uint16_t a = load_le16(p + 4), b = load_le16(p + 12);
  return a != 0 && a <= *size && b != 0 && b <= a;
}

bool is_type_71_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 14) && p[2] == 0x71;
}

bool is_control_panel_category_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 12) && load_le32(p + 4) == 0x39DE2184 && p[2] == 0x01;
}

bool is_type_01_item(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 8);
  return size && *size >= 50 && load_le16(p + 4) == 0 && p[2] == 0x01;
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
  uint32_t c = load_le32(p + 46);
  return c != 0 && 2 * static_cast<int64_t>(c) <= available;
}

bool is_type_64_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 6) && p[2] == 0x64;
}

bool is_network_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 6) && p[5] >= 0x20 && p[5] <= 0x7D &&
         (network_type(p[2]) || p[2] == 0x43);
}

bool is_network_type_item(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 6) && (network_type(p[2]) || p[2] == 0x43);
}

bool is_file_entry_item(const uint8_t* p, int64_t available) {
  if (!sized_structure(p, available, 15)) return false;
  switch (p[2]) {
    case 0x30: case 0x31: case 0x32: case 0x34: case 0x35: case 0x36:
    case 0x38: case 0x39: case 0x3A: case 0x3D: case 0x3E: case 0xB1:
      return true;
    default:
      return false;
  }
}

bool is_94_byte_structure(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 94);
  if (!size || load_le32(p + 76) != 0) return false;
  int64_t c1 = load_le16(p + 84), c2 = load_le16(p + 88);
  if (c1 == 0 || *size != 100 + 2 * (c1 + c2)) return false;
  return load_le16(p + 92 + 2 * c1) == 0 && load_le16(p + 94 + 2 * c1 + 2 * c2) == 0;
}

bool is_string_named_value(const uint8_t* p, int64_t available) {
  if (!p || available < 11) return false;
  uint32_t value_size = load_le32(p), name_size = load_le32(p + 4);
  return value_size >= 11 && value_size <= available && value_size <= 32768 &&
         name_size <= value_size && p[8] == 0;
}

}  // namespace vk
