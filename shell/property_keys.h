// The property-key table: for a format identifier and property id, the
// property's short name and the display flags that steer how the item text
// shows its value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "shell/guid_names.h"
#include "shell/property_value.h"

namespace vk {

// Flag bits of a table entry.
enum : uint32_t {
  propflag_primary_name = 0x1,
  propflag_parsing_name = 0x2,
  propflag_secondary_name = 0x4,
  propflag_hidden = 0x8,
  propflag_filetime = 0x10,
  propflag_bit5 = 0x20,
  propflag_fills_created = 0x40,
  propflag_fills_modified = 0x80,
  propflag_fills_accessed = 0x100,
  propflag_value_code = 0x400,
  propflag_unsigned64 = 0x800,
  propflag_sfgao = 0x1000,
};

struct windows_propid {
  uint32_t pid = 0;
  uint32_t flags = 0;
  std::string name;
  std::string name2;
  std::string name3;

  windows_propid(uint32_t id, const char* n, const char* n2, const char* n3, uint32_t f)
      : pid(id), flags(f), name(n ? n : ""), name2(n2 ? n2 : ""), name3(n3 ? n3 : "") {}
  bool operator<(const windows_propid& other) const { return pid < other.pid; }
};

// Raw table data: groups in their fixed order, each an FMTID and its entries.
struct propid_entry {
  uint32_t pid;
  const char* name;
  uint32_t flags;
};
struct propkey_group {
  guid_parts fmtid;
  const propid_entry* entries;
  size_t count;
};

using property_key_map = std::map<guid, std::set<windows_propid>, guid_less_fn>;

const propkey_group* property_key_groups(size_t& count);

// Fills the map (cleared first); false when building failed.
bool property_key_table(property_key_map& table, table_build_fault fault = nullptr);

// True when the key is known: found in the table (names, flags and flag
// bytes copied into rec) or the FMTID is the string-named property set. The
// record is changed only when true.
// D5CDD505-2E9C-101B-9397-08002B2CF9AE: values named by strings, not ids.
const guid& string_named_set();
// Its first field, which tells most other sets apart at once.
constexpr uint32_t k_string_named_set_data1 = 0xD5CDD505;

bool lookup_property_key(property_value& rec, const guid& fmtid, uint32_t pid);
bool lookup_property_value_key(property_value& rec);
// As lookup_property_value_key for a value whose names nobody reads: the
// flags and marks only, the name texts left as they are. Never throws.
bool lookup_property_value_flags(property_value& rec) noexcept;
// The table's flags of the key (0 for a key of the string-named set); false
// when neither. Never throws.
bool property_key_flags(const guid& fmtid, uint32_t pid, uint32_t& flags) noexcept;
// Appends "<FMTID text>/<the table's name>", or "<FMTID text>/0x<pid>" (at
// least 2 hex digits) when the table has no name for the key.
void append_property_key_text(std::string& out, const guid& fmtid, uint32_t pid);
// The same for a filed value: a string-named one by its own name, which its
// id (always 0) does not tell.
void append_property_key_text(std::string& out, const property_value& v);
// The table's name of the key; empty when the table lacks the key.
std::string_view property_key_name(const guid& fmtid, uint32_t pid);

// Two-word label of a value code: 1 to 4 have their own, any other value the default.
std::string value_code_label(uint64_t value);
// The first word of the default label, shown for a property without a known key.
extern const char* const k_no_key_word;

// Builds the shared index unless built (the first lookup of the run does
// it), fault called first; true when the index is there. A failed build
// leaves none and the next call builds again.
bool property_key_index_ready(table_build_fault fault = nullptr) noexcept;

}  // namespace vk
