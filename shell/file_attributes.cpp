#include "shell/file_attributes.h"

#include <array>
#include <cstring>
#include <iterator>

#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"

namespace vk {

namespace {
struct attribute_name {
  uint32_t bit;
  std::string_view name;
};
constexpr attribute_name k_attribute_names[] = {
    {0x1, "FILE_ATTRIBUTE_READONLY"},
    {0x2, "FILE_ATTRIBUTE_HIDDEN"},
    {0x4, "FILE_ATTRIBUTE_SYSTEM"},
    {0x8, "Reserved1"},
    {0x10, "FILE_ATTRIBUTE_DIRECTORY"},
    {0x20, "FILE_ATTRIBUTE_ARCHIVE"},
    {0x40, "Reserved2"},
    {0x80, "FILE_ATTRIBUTE_NORMAL"},
    {0x100, "FILE_ATTRIBUTE_TEMPORARY"},
    {0x200, "FILE_ATTRIBUTE_SPARSE_FILE"},
    {0x400, "FILE_ATTRIBUTE_REPARSE_POINT"},
    {0x800, "FILE_ATTRIBUTE_COMPRESSED"},
    {0x1000, "FILE_ATTRIBUTE_OFFLINE"},
    {0x2000, "FILE_ATTRIBUTE_NOT_CONTENT_INDEXED"},
    {0x4000, "FILE_ATTRIBUTE_ENCRYPTED"},
    {0x8000, "Reserved3"},
    {0x10000, "FILE_ATTRIBUTE_VIRTUAL"},
};

// The names in fixed-size slots, so that each is copied whole in one move.
constexpr size_t k_name_slot = 40;
struct name_slot {
  char text[k_name_slot];
  uint8_t size;
};
constexpr auto k_name_slots = [] {
  std::array<name_slot, std::size(k_attribute_names)> slots{};
  for (size_t i = 0; i < slots.size(); ++i) {
    const std::string_view name = k_attribute_names[i].name;
    for (size_t k = 0; k < name.size(); ++k) slots[i].text[k] = name[k];
    slots[i].size = static_cast<uint8_t>(name.size());
  }
  return slots;
}();

constexpr size_t all_attribute_names_size() {
  size_t n = 0;
  for (const attribute_name& a : k_attribute_names) {
    if (a.name.size() > k_name_slot) return ~size_t{0};
    n += a.name.size();
  }
  return n;
}
// The bits the names cover.
constexpr uint32_t k_named_bits = [] {
  uint32_t bits = 0;
  for (const attribute_name& a : k_attribute_names) bits |= a.bit;
  return bits;
}();
// "0x" and eight digits.
constexpr size_t k_unnamed_size = 10;

// Every name and separator written, with the slot's overhang past the last
// and the unnamed bits' value.
static_assert(all_attribute_names_size() + k_name_slot + k_unnamed_size <=
              file_attributes_text_room(0));
static_assert(std::size(k_attribute_names) <= 17);
}  // namespace

char* put_file_attributes_text(char* at, uint32_t mask, std::string_view separator) {
  char* p = at;
  for (size_t i = 0; i < k_name_slots.size(); ++i) {
    if (!(mask & k_attribute_names[i].bit)) continue;
    if (p != at)
      for (const char c : separator) *p++ = c;
    std::memcpy(p, k_name_slots[i].text, k_name_slot);
    p += k_name_slots[i].size;
  }
  // Bits without a name are evidence too: their value stands after the names.
  if (const uint32_t unnamed = mask & ~k_named_bits) {
    if (p != at)
      for (const char c : separator) *p++ = c;
    p = put_hex_number_text(p, unnamed, true, 8);
  }
  return p;
}

void append_file_attributes_text(std::string& out, uint32_t mask, std::string_view separator) {
  bool first = true;
  for (const attribute_name& a : k_attribute_names) {
    if (!(mask & a.bit)) continue;
    if (!first) out += separator;
    out += a.name;
    first = false;
  }
  if (const uint32_t unnamed = mask & ~k_named_bits) {
    char hex[k_number_text_room];
    if (!first) out += separator;
    out.append(hex, put_hex_number_text(hex, unnamed, true, 8));
  }
}

std::string file_attributes_text(uint32_t mask, const std::string& separator) {
  std::string out;
  append_file_attributes_text(out, mask, separator);
  return out;
}

void item_names(const shell_item_record& record, std::string& name,
                std::vector<std::string>& names) {
  guarded(
      [&] {
        name = !record.long_name.empty() ? record.long_name : record.primary_name;
        names = !record.names.empty() || record.primary_leads_names ? listed_names(record)
                                                                    : record.guid_names;
        if (!names.empty()) return;
        for (const auto& entry : record.properties) {
          const property_value& v = entry.second;
          if (name.empty() && v.table_bit1)
            name = v.text;
          else
            names.push_back(v.text);
        }
      },
      [&] {
        name.clear();
        names.clear();
      });
}

void write_property_texts(std::ostream& out, const property_value_map& values,
                          const std::string& separator, bool end_line) {
  size_t index = 0;
  for (const auto& entry : values) {
    const property_value& v = entry.second;
    const bool last = ++index == values.size();
    if (!v.key_known) continue;
    bool wrote = false;
    if (v.vartype == 30 || v.vartype == 8 || v.vartype == 31) {
      out << v.text;
      wrote = true;
    }
    if (!v.pair_key_text.empty()) {
      out << "[" << v.pair_key_text << " : " << v.pair_value_text << "]";
      wrote = true;
    }
    if (wrote && !last) out << separator;
  }
  if (end_line) out << '\n';
}

bool prune_property_names(property_value_map& values, std::vector<std::string>& names) {
  if (values.empty()) return false;
  for (std::string& name : names) {
    str_to_lower(name);
    values.erase(name);
  }
  property_value* remembered = nullptr;
  const std::string* remembered_key = nullptr;
  for (auto& entry : values) {
    property_value& current = entry.second;
    if (remembered && *remembered_key == entry.first) {
      if (current.key_known) {
        remembered->skip_copy = 1;
        continue;
      }
      current.skip_copy = 1;
    }
    remembered = &current;
    remembered_key = &entry.first;
  }
  return true;
}

}  // namespace vk
