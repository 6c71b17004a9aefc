// GUID-to-name lookup: "{CLSID_<name>}" for the GUIDs the built-in table
// knows (shell folders, known folders, control-panel items, device classes,
// property sets, COM classes) and for two office product families.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "foundation/vk_guid.h"

namespace vk {

// A GUID written in the usual Data1-Data4 form.
struct guid_parts {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
// The stored 16 bytes of a GUID so written.
guid guid_from_parts(const guid_parts& p);

// One insertion of the built-in table.
struct clsid_table_entry {
  guid_parts id;
  const char* name;
};

// The insertions in their fixed order (some keys come more than once; the
// first insertion of a key wins).
const clsid_table_entry* clsid_table_entries(size_t& count);

struct guid_less_fn {
  bool operator()(const guid& a, const guid& b) const { return guid_less(a, b); }
};
using clsid_map = std::map<guid, std::string, guid_less_fn>;

// Called where a table build allocates, so that a test can make the build
// fail as when the memory is not there (it throws std::bad_alloc); the tool
// passes none.
using table_build_fault = void (*)();

// Fills the map (cleared first); false when building failed.
bool clsid_name_table(clsid_map& table, table_build_fault fault = nullptr);

// out = "{CLSID_<name>}" and true for a known GUID (table first, then the
// Visio and Office families); the plain lower-case GUID text and false for
// any other; "" and false for a null g or a failed table build (retried on
// the next call).
bool clsid_name(std::string& out, const guid* g);
// The name the table (then the Visio and Office families) gives g, without
// braces or prefix; empty for any other GUID or a failed table build.
std::string_view clsid_known_name(const guid& g);
// Appends "{CLSID_<name>}" to out in one allocation at most; false (out as
// it was) when the memory is not there.
bool append_clsid_text(std::string& out, std::string_view name);
// The text clsid_name leaves in out; "" for a null g.
std::string clsid_text(const guid* g);

// Builds the shared table unless built (the first lookup of the run does
// it), fault called first; true when the table is there. A failed build
// leaves none and the next call builds again.
bool clsid_table_ready(table_build_fault fault = nullptr) noexcept;

}  // namespace vk
