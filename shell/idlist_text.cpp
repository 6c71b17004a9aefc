#include "shell/idlist_text.h"

#include <algorithm>
#include <bit>
#include <map>

#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "shell/guid_names.h"
#include "shell/item_text.h"
#include "shell/property_keys.h"

namespace vk {

void append_property_value_text(std::string& out, const property_value& v,
                                const cmd_params& settings) {
  if (holds_filetime(v)) {
    filetime_texts t;
    if (filetime_date_clock(t, v.number, settings.m_time_settings.m_descriptor)) {
      t.append_to(out);
      out += " [UTC]";
    } else {
      append_hex_number_text(out, v.number, true, 1);
    }
  } else if (v.is_number) {
    if (v.vartype == 7) {
      const time t = time_from_double(std::bit_cast<double>(v.number), type_time::ole);
      if (t.valid())
        append_time_text(out, t, settings, " [UTC]");
      else
        append_hex_number_text(out, v.number, true, 1);
    } else if (settings.m_hex_numbers) {
      append_hex_number_text(out, v.number, true, 8);
    } else {
      append_decimal(out, v.number);
    }
  } else {
    out += v.text;
  }
}

namespace {

// A value in file-position order; equal positions keep the order of the
// records' collections merged into one: by key, then by record, then by
// place in the record's own collection (seq).
struct placed_value {
  uint64_t offset;
  size_t seq;
  size_t record;
  const std::string* key;
  const property_value* value;
};

}  // namespace

// The values of one call in report order; kept in the scratch so that its
// room serves the next call.
struct placed_values {
  std::vector<placed_value> list;
};

template <>
void scratch_drop<placed_values>::operator()(placed_values* part) const noexcept {
  delete part;
}

std::string property_value_text(const property_value& v, const cmd_params& settings) {
  return guarded(
      [&] {
        std::string out;
        append_property_value_text(out, v, settings);
        return out;
      },
      [] {});
}

void collect_property_texts(const shell_item_record& record,
                            std::vector<std::string>& parsing_names,
                            std::vector<std::string>& primary_names, std::vector<std::string>& keys,
                            std::vector<std::string>& values, const cmd_params& settings,
                            shell_scratch& scratch, bool split_names) {
  collect_merged_property_texts(&record, 1, parsing_names, primary_names, keys, values, settings,
                                scratch, split_names);
}

void collect_merged_property_texts(const shell_item_record* records, size_t count,
                                   std::vector<std::string>& parsing_names,
                                   std::vector<std::string>& primary_names,
                                   std::vector<std::string>& keys, std::vector<std::string>& values,
                                   const cmd_params& settings, shell_scratch& scratch,
                                   bool split_names) {
  guarded(
      [&] {
        std::vector<placed_value>& placed = made_part(scratch.placed).list;
        placed.clear();
        size_t shown = 0;
        for (size_t r = 0; r < count; ++r) {
          size_t seq = 0;
          for (const auto& entry : records[r].properties) {
            const property_value& v = entry.second;
            ++seq;
            if (guid_is_zero(v.key.fmtid)) continue;
            placed.push_back({v.offset, seq, r, &entry.first, &v});
            if (!v.table_bit3 && shown_property_vartype(v.vartype)) ++shown;
          }
        }
        if (shown == 0) return;
        std::sort(placed.begin(), placed.end(), [](const placed_value& a, const placed_value& b) {
          if (a.offset != b.offset) return a.offset < b.offset;
          if (a.record == b.record) return a.seq < b.seq;
          const int by_key = a.key->compare(*b.key);
          return by_key != 0 ? by_key < 0 : a.record < b.record;
        });
        reserve_more(keys, shown);
        reserve_more(values, shown);
        text_rooms& rooms = scratch.rooms;
        for (const placed_value& p : placed) {
          const property_value& v = *p.value;
          if (v.table_bit3 || !shown_property_vartype(v.vartype)) continue;
          if (split_names && v.table_bit0) {
            primary_names.push_back(v.text);
            continue;
          }
          if (split_names && v.table_bit1) {
            parsing_names.push_back(v.text);
            continue;
          }
          // The table's name only: a value's own name may come from elsewhere.
          std::string key;
          rooms.take(key);
          append_property_key_text(key, v);
          std::string value;
          rooms.take(value);
          append_property_value_text(value, v, settings);
          // Both or neither, so that the two lists stay aligned by index.
          keys.push_back(std::move(key));
          values.push_back(std::move(value));
        }
      },
      [&] {
        note_out_of_memory(scratch);
        if (keys.size() > values.size()) keys.resize(values.size());
      });
}

void collect_list_property_texts(std::vector<std::string>& parsing_names,
                                 std::vector<std::string>& primary_names,
                                 std::vector<std::string>& keys, std::vector<std::string>& values,
                                 const cmd_params& settings, shell_scratch& scratch,
                                 bool split_names, const shell_item_list& items) {
  parsing_names.clear();
  primary_names.clear();
  keys.clear();
  values.clear();
  for (const shell_item_record& rec : items)
    collect_property_texts(rec, parsing_names, primary_names, keys, values, settings, scratch,
                           split_names);
}

bool is_condition_leaf_record(const uint8_t* p, int64_t available) {
  if (!p || available < 122) return false;
  byte_view v(p, static_cast<size_t>(available));
  return v.u16_or_zero(32) == 4 && v.u16_or_zero(34) == 'i' && v.u16_or_zero(36) == 't' &&
         v.u16_or_zero(38) == 'e' &&
         120 + 2 * static_cast<int64_t>(v.u16_or_zero(118)) <= available;
}

int64_t condition_leaf_length(const uint8_t* p, int64_t available) {
  if (!is_condition_leaf_record(p, available)) return 0;
  return 120 +
         2 * static_cast<int64_t>(byte_view(p, static_cast<size_t>(available)).u16_or_zero(118));
}

bool condition_leaf_text(parse_ctx& ctx, shell_item_record& record, const uint8_t* p,
                         uint32_t available) {
  if (!p || available == 0 || !is_condition_leaf_record(p, available)) return false;
  return guarded(
      ctx,
      [&] {
        byte_view v(p, available);
        std::string name, value;
        read_utf16(ctx.guard, v, 34, 34 + 2 * static_cast<int64_t>(v.u16_or_zero(32)), name);
        read_utf16(ctx.guard, v, 120, 120 + 2 * static_cast<int64_t>(v.u16_or_zero(118)), value);
        if (name.empty() || value.empty()) return false;
        guid g;
        g.set(p + 82);
        const std::string guid_text = guid_is_zero(g) ? std::string() : clsid_text(&g);
        record.names.push_back(name + " [" + value + "] : " + guid_text);
        return true;
      },
      [] {});
}

void collect_property_text_map(shell_item_record& record, std::vector<std::string>& primary_texts,
                               std::vector<std::string>& parsing_texts,
                               std::map<std::string, property_value>& out,
                               const cmd_params& settings) {
  guarded(
      [&] {
        for (auto& entry : record.properties) {
          property_value& v = entry.second;
          if (v.table_bit3) continue;
          v.pair_key_text =
              guid_is_zero(v.key.fmtid) ? std::string("CLSID_unk") : clsid_text(&v.key.fmtid);
          v.pair_key_text += '/';
          if (v.own_name || (v.string_named && !v.name.empty()))
            v.pair_key_text += v.name;  // its own name: its id is always 0
          else
            append_hex_number_text(v.pair_key_text, v.key.pid, true, 2);
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
      },
      [] {});
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
