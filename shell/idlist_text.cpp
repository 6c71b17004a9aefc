#include "shell/idlist_text.h"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <map>

#include "foundation/vk_guard.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "shell/guid_names.h"
#include "shell/item_text.h"
#include "shell/property_keys.h"

namespace vk {

namespace {

// Nesting of idlist_text through embedded lists and children; records built
// by hand may nest without end, so the walk stops at the parse guard's depth.
thread_local int t_text_depth = 0;

struct text_depth_level {
  bool ok;
  text_depth_level() : ok(++t_text_depth <= parse_guard::k_max_depth) {}
  ~text_depth_level() { --t_text_depth; }
};

std::string hex_text(uint64_t value, int min_digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*" PRIx64, min_digits, value);
  return buf;
}

// Every run of backslashes becomes one, and a trailing one goes.
void squeeze_separators(std::string& path) {
  size_t out = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' && out > 0 && path[out - 1] == '\\') continue;
    path[out++] = path[i];
  }
  path.resize(out);
  if (!path.empty() && path.back() == '\\') path.pop_back();
}

bool all_zero(const guid& g) { return guid_equals(g, guid()); }

bool shown_vartype(uint32_t vt) {
  return vt == 31 || vt == 8 || vt == 30 || vt == 64 || vt == 7;
}

}  // namespace

bool idlist_text(std::string& path, std::string& detail_line, std::vector<std::string>& details,
                 uint64_t& modified, uint64_t& accessed, uint64_t& created,
                 const cmd_params& settings, shell_item_list& items) {
  path.clear();
  detail_line.clear();
  details.clear();
  modified = accessed = created = 0;
  text_depth_level level;
  if (items.empty() || !level.ok) return false;
  return guarded([&] {
    std::map<std::string, int> first_seen;
    std::string item_text, item_line;
    std::vector<std::string> item_details;
    for (size_t i = 0; i < items.size(); ++i) {
      shell_item_record& item = items[i];
      if (shell_item_text(item, item_text, item_line, item_details, settings, true, false)) {
        item.long_name = item_text;
        path += item.long_name;
        path += '\\';
      }
      for (const std::string& d : item_details)
        first_seen.emplace(d, static_cast<int>(first_seen.size()));
      if (i + 1 == items.size()) {
        modified = item.modified;
        accessed = item.accessed;
        created = item.created;
      }
    }
    if (!first_seen.empty()) {
      details.resize(first_seen.size());
      for (auto& [text, index] : first_seen) details[static_cast<size_t>(index)] = text;
      detail_line = numbered_detail_line(details);
    }
    squeeze_separators(path);
    return !path.empty();
  }, [&] { path.clear(); });
}

std::string property_value_text(const property_value& v, const cmd_params& settings) {
  return guarded([&]() -> std::string {
    if (v.is_number) {
      if (v.vartype == 7) {
        const time t = time_from_double(std::bit_cast<double>(v.number), type_time::ole);
        return t.valid() ? time_text(t, settings, " [UTC]") : hex_text(v.number, 1);
      }
      if (settings.m_hex_numbers) return hex_text(v.number, 8);
      return std::to_string(v.number);
    }
    if (v.is_filetime) {
      const time t = time_from_u64(v.number, type_time::filetime);
      return t.valid() ? time_text(t, settings, " [UTC]") : hex_text(v.number, 1);
    }
    return v.text;
  });
}

void collect_property_texts(const shell_item_record& record,
                            std::vector<std::string>& parsing_names,
                            std::vector<std::string>& primary_names,
                            std::vector<std::string>& keys, std::vector<std::string>& values,
                            const cmd_params& settings, bool split_names) {
  guarded([&] {
    std::multimap<uint64_t, const property_value*> by_position;
    for (const auto& entry : record.properties)
      if (!all_zero(entry.second.key.fmtid))
        by_position.emplace(entry.second.offset, &entry.second);
    for (const auto& entry : by_position) {
      const property_value& v = *entry.second;
      if (v.table_bit3 || !shown_vartype(v.vartype)) continue;
      if (split_names && v.table_bit0) {
        primary_names.push_back(v.text);
        continue;
      }
      if (split_names && v.table_bit1) {
        parsing_names.push_back(v.text);
        continue;
      }
      property_value lookup(&v.key.fmtid, v.key.pid);
      lookup_property_value_key(lookup);
      std::string key = guid_to_string(v.key.fmtid) + "/";
      key += lookup.name.empty() ? hex_text(v.key.pid, 2) : lookup.name;
      std::string value = property_value_text(v, settings);
      // Both or neither, so that the two lists stay aligned by index.
      keys.push_back(std::move(key));
      values.push_back(std::move(value));
    }
  }, [&] {
    if (keys.size() > values.size()) keys.resize(values.size());
  });
}

void collect_list_property_texts(std::vector<std::string>& parsing_names,
                                 std::vector<std::string>& primary_names,
                                 std::vector<std::string>& keys,
                                 std::vector<std::string>& values, const cmd_params& settings,
                                 bool split_names, const shell_item_list& items) {
  parsing_names.clear();
  primary_names.clear();
  keys.clear();
  values.clear();
  for (const shell_item_record& rec : items)
    collect_property_texts(rec, parsing_names, primary_names, keys, values, settings,
                           split_names);
}

bool is_condition_leaf_record(const uint8_t* p, int64_t available) {
  if (!p || available < 122) return false;
  byte_view v(p, static_cast<size_t>(available));
  return *v.u16(32) == 4 && *v.u16(34) == 'i' && *v.u16(36) == 't' && *v.u16(38) == 'e' &&
         120 + 2 * static_cast<int64_t>(*v.u16(118)) <= available;
}

int64_t condition_leaf_length(const uint8_t* p, int64_t available) {
  if (!is_condition_leaf_record(p, available)) return 0;
  // The test above read this count through the same bounds.
  return 120 + 2 * static_cast<int64_t>(*byte_view(p, static_cast<size_t>(available)).u16(118));
}

bool condition_leaf_text(parse_ctx&, shell_item_record& record, const uint8_t* p,
                         uint32_t available) {
  if (!p || available == 0 || !is_condition_leaf_record(p, available)) return false;
  return guarded([&] {
    byte_view v(p, available);
    std::string name, value;
    read_utf16(v, 34, 34 + 2 * static_cast<int64_t>(*v.u16(32)), name);
    read_utf16(v, 120, 120 + 2 * static_cast<int64_t>(*v.u16(118)), value);
    if (name.empty() || value.empty()) return false;
    guid g;
    g.set(p + 82);
    const std::string guid_text = all_zero(g) ? std::string() : clsid_text(&g);
    record.names.push_back(name + " [" + value + "] : " + guid_text);
    return true;
  });
}

void collect_property_text_map(shell_item_record& record, std::vector<std::string>& primary_texts,
                               std::vector<std::string>& parsing_texts,
                               std::map<std::string, property_value>& out,
                               const cmd_params& settings) {
  guarded([&] {
    for (auto& entry : record.properties) {
      property_value& v = entry.second;
      if (v.table_bit3) continue;
      v.pair_key_text = (all_zero(v.key.fmtid) ? std::string("CLSID_unk")
                                               : clsid_text(&v.key.fmtid)) +
                        "/" + hex_text(v.key.pid, 2);
      v.pair_value_text = property_value_text(v, settings);
      const std::string combined = v.pair_key_text + "_" + v.pair_value_text;
      auto [it, inserted] = out.emplace(combined, v);
      if (!inserted) {
        it->second.offset_list.push_back(v.offset);
      } else if (v.table_bit0) {
        primary_texts.push_back(combined);
      } else if (v.table_bit1) {
        parsing_texts.push_back(combined);
      }
    }
  });
}

void collect_list_property_text_maps(std::vector<std::string>& primary_texts,
                                     std::vector<std::string>& parsing_texts,
                                     std::map<std::string, property_value>& out,
                                     const cmd_params& settings, shell_item_list& items) {
  primary_texts.clear();
  parsing_texts.clear();
  out.clear();
  for (shell_item_record& rec : items)
    collect_property_text_map(rec, primary_texts, parsing_texts, out, settings);
}

}  // namespace vk
