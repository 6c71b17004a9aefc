#include "shell/guid_names.h"

#include <cstring>
#include <new>

#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

bool g_built = false;
bool g_fail_next = false;

clsid_map& table_instance() {
  static clsid_map table;
  return table;
}

bool tail_equals(const guid& g, size_t from, std::initializer_list<uint8_t> bytes) {
  size_t i = from;
  for (uint8_t b : bytes)
    if (g.m_bytes[i++] != b) return false;
  return true;
}

}  // namespace

guid guid_from_parts(const guid_parts& e) {
  guid g;
  for (int i = 0; i < 4; ++i) g.m_bytes[i] = static_cast<uint8_t>(e.data1 >> (8 * i));
  g.m_bytes[4] = static_cast<uint8_t>(e.data2);
  g.m_bytes[5] = static_cast<uint8_t>(e.data2 >> 8);
  g.m_bytes[6] = static_cast<uint8_t>(e.data3);
  g.m_bytes[7] = static_cast<uint8_t>(e.data3 >> 8);
  std::memcpy(g.m_bytes + 8, e.data4, 8);
  return g;
}

bool clsid_name_table(clsid_map& table) {
  return vk::guarded([&] {
    table.clear();
    if (g_fail_next) {
      g_fail_next = false;
      throw std::bad_alloc();
    }
    size_t count = 0;
    const clsid_table_entry* entries = clsid_table_entries(count);
    for (size_t i = 0; i < count; ++i)
      table.emplace(guid_from_parts(entries[i].id), entries[i].name);  // first insertion wins
    return true;
  });
}

bool clsid_name(std::string& out, const guid* g) {
  out.clear();
  if (!g) return false;
  clsid_map& table = table_instance();
  if (!g_built) {
    if (!clsid_name_table(table)) {
      table.clear();
      return false;
    }
    g_built = true;
  }
  return vk::guarded(
      [&] {
        auto it = table.find(*g);
        if (it != table.end()) {
          out = "{CLSID_" + it->second + "}";
          return true;
        }
        if (tail_equals(*g, 4,
                        {0x54, 0x6D, 0xD4, 0x11, 0xBE, 0xE3, 0x00, 0xC0, 0x4F, 0x99, 0x03, 0x54})) {
          out = "{CLSID_Visio}";
          return true;
        }
        if (tail_equals(*g, 9, {0x00, 0x00, 0x00, 0x00, 0x0F, 0xF1, 0xCE}) ||
            tail_equals(*g, 4,
                        {0x00, 0x60, 0xD3, 0x11, 0x8C, 0xFE, 0x01, 0x50, 0x04, 0x83, 0x83, 0xC9}) ||
            tail_equals(*g, 4,
                        {0x00, 0x60, 0xD3, 0x11, 0x8C, 0xFE, 0x00, 0x50, 0x04, 0x83, 0x83, 0xC9})) {
          out = "{CLSID_Microsoft Office}";
          return true;
        }
        guid_to_string(out, g);
        return false;
      },
      [&] {
        out.clear();
        return false;
      });
}

std::string clsid_text(const guid* g) {
  std::string out;
  if (g) clsid_name(out, g);
  return out;
}

void clsid_table_reset_for_test() {
  table_instance().clear();
  g_built = false;
}

void clsid_table_fail_next_build_for_test() { g_fail_next = true; }

}  // namespace vk
