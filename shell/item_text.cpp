#include "shell/item_text.h"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>

#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "shell/idlist_text.h"
#include "shell/property_keys.h"
#include "shell/property_listing.h"

namespace vk {

namespace {

bool is_string_vartype(uint32_t vt) { return vt == 31 || vt == 30 || vt == 8; }

bool contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}


std::string labelled(const std::string& name, const std::string& value) {
  return name.empty() ? value : name + " : " + value;
}

// The details of one call: each text emitted once, in the order first met.
struct detail_sink {
  std::vector<std::string>& details;
  std::set<std::string> seen;

  void emit(const std::string& detail, const std::string& key) {
    if (seen.insert(key).second) details.push_back(detail);
  }
  void emit(const std::string& detail) { emit(detail, detail); }
};

// Fills the record's first empty time slot that the value's flags name; a
// flagged slot already set ends the chain.
void fill_record_time(shell_item_record& rec, const property_value& v) {
  struct slot {
    uint32_t flag;
    uint64_t& ticks;
  };
  slot slots[] = {
      {propflag_fills_created, rec.created},
      {propflag_fills_modified, rec.modified},
      {propflag_fills_accessed, rec.accessed},
  };
  for (slot& s : slots) {
    if (!(v.table_flags & s.flag)) continue;
    if (s.ticks == 0) s.ticks = v.number;
    return;
  }
}

void value_details(shell_item_record& rec, detail_sink& sink, const cmd_params& settings,
                   bool keep_plain_ids) {
  const bool hex = settings.m_hex_numbers != 0;
  for (const auto& entry : rec.properties) {
    const property_value& v = entry.second;
    if (v.name.empty() && v.table_flags == 0) {
      if (!is_string_vartype(v.vartype)) continue;
      if (v.text.starts_with("Provider\\M") || v.text.starts_with("Layered\\M") ||
          v.text.starts_with("\\\\"))
        sink.emit("ID : " + v.text, v.text);
      else if (keep_plain_ids)
        sink.emit(v.text);
      continue;
    }
    switch (v.vartype) {
      case 31:
      case 30:
      case 8:
        if (v.name == "Type" || v.name == "ParsingName") break;
        sink.emit(labelled(v.name, v.text), v.text);
        break;
      case 7: {
        const time t = time_from_double(std::bit_cast<double>(v.number), type_time::ole);
        if (t.valid()) sink.emit(v.name + " : " + time_text(t, settings, " [local]"));
        break;
      }
      case 64: {
        const time t = time_from_u64(v.number, type_time::filetime);
        if (!t.valid()) break;
        std::string date, clock;
        format_time_by_descriptor(date, clock, t, settings.m_time_settings);
        sink.emit(labelled(v.name, date + " " + clock + " [UTC]"));
        fill_record_time(rec, v);
        break;
      }
      case 21:
        if (contains(v.name, "Size") || contains(v.name, "Time") ||
            contains(v.name, "Thumbnail") || (v.table_flags & propflag_unsigned64))
          sink.emit(labelled(v.name, hex_number_text(v.number, hex, 16)));
        break;
      case 19:
      case 22:
      case 23:
        if (v.table_flags & propflag_sfgao)
          sink.emit("Flags : " + sfgao_text(static_cast<uint32_t>(v.number)));
        else if (contains(v.name, "Time") || contains(v.name, "Attrib"))
          sink.emit(labelled(v.name, hex_number_text(v.number, hex, 8)));
        else if ((v.table_flags & propflag_value_code) && v.number >= 1 && v.number <= 4)
          sink.emit(labelled(v.name, value_code_label(v.number)));
        break;
      default:
        break;
    }
  }
}

// Path, times and details of an embedded list as details of the item; the
// trimmed path is returned.
std::string embedded_details(shell_item_list& list, detail_sink& sink,
                             const cmd_params& settings) {
  std::string path, line;
  std::vector<std::string> list_details;
  uint64_t modified = 0, accessed = 0, created = 0;
  if (!idlist_text(path, line, list_details, modified, accessed, created, settings, list))
    return std::string();
  trim_ws(path);
  if (!path.empty()) sink.emit("Embedded Path : " + path, path);
  const std::pair<const char*, uint64_t> times[] = {
      {"Created : ", created}, {"Modified : ", modified}, {"Accessed : ", accessed}};
  for (const auto& [label, ticks] : times) {
    if (ticks == 0) continue;
    const time t = time_from_u64(ticks, type_time::filetime);
    if (t.valid()) sink.emit(label + time_text(t, settings, " [UTC]"));
  }
  for (std::string& d : list_details) {
    trim_ws(d);
    if (!d.empty()) sink.emit(d);
  }
  return path;
}

bool item_text_impl(shell_item_record& rec, std::string& text, std::string& detail_line,
                    std::vector<std::string>& details, const cmd_params& settings,
                    bool with_embedded, bool keep_plain_ids) {
  detail_sink sink{details, {}};
  std::vector<std::string> scratch;

  if (!rec.long_name.empty() && !rec.properties.empty()) {
    scratch.push_back(rec.long_name);
    remove_overlapping_names(rec.properties, scratch);
  }

  std::string custom_prop;
  if (!rec.properties.empty()) {
    using pos = property_value_map::iterator;
    std::map<uint64_t, pos> primary, secondary;
    std::string parsing;
    for (pos it = rec.properties.begin(); it != rec.properties.end(); ++it) {
      const property_value& v = it->second;
      if (v.table_bit0)
        primary.emplace(it->first.size(), it);
      else if (v.table_bit2)
        secondary.emplace(it->first.size(), it);
      else if (v.table_bit1)
        parsing = v.text;
      else if (v.string_named)
        custom_prop = "CUSTOM_PROP_" + v.name;
    }
    std::map<uint64_t, pos>* chosen =
        !primary.empty() ? &primary : (!secondary.empty() ? &secondary : nullptr);
    if (chosen) {
      if (rec.long_name.empty()) {
        pos it = chosen->rbegin()->second;
        rec.long_name = it->second.text;
        rec.properties.erase(it);
      }
    } else if (rec.long_name.empty() && !parsing.empty()) {
      rec.long_name = parsing;
      scratch.push_back(parsing);
      remove_overlapping_names(rec.properties, scratch);
    }
    property_value_map kept;
    copy_property_map(kept, rec.properties);
    rec.properties.swap(kept);
  }

  size_t names_from = 0, guid_names_from = 0;
  if (!rec.long_name.empty()) {
    text = rec.long_name;
  } else if (!rec.primary_name.empty()) {
    text = rec.primary_name;
  } else if (!rec.guid_names.empty()) {
    text = rec.guid_names.front();
    guid_names_from = 1;
  } else if (!rec.names.empty()) {
    text = rec.names.front();
    names_from = 1;
  } else {
    text = custom_prop;
  }

  value_details(rec, sink, settings, keep_plain_ids);

  if (!text.empty()) {
    for (size_t i = names_from; i < rec.names.size(); ++i)
      if (!contains(text, rec.names[i])) sink.emit(rec.names[i]);
    for (size_t i = guid_names_from; i < rec.guid_names.size(); ++i)
      if (!contains(text, rec.guid_names[i])) sink.emit(rec.guid_names[i]);
    for (const std::string* extra : {&rec.localized_name, &rec.extra_name})
      if (!extra->empty() && !contains(text, *extra)) sink.emit(*extra);
  }
  for (const std::string& d : rec.date_texts)
    if (!d.empty()) details.push_back(d);

  std::string embedded_path;
  if (with_embedded) {
    for (shell_item_list& list : rec.embedded_lists)
      embedded_path = embedded_details(list, sink, settings);
    if (!rec.children.empty()) embedded_path = embedded_details(rec.children, sink, settings);
  }

  detail_line = numbered_detail_line(details);

  if (text.empty()) {
    if (embedded_path.empty()) {
      if (!rec.guids.empty()) text = "CLSID_{" + guid_to_string(rec.guids.front()) + "}";
    } else {
      const size_t slash = embedded_path.rfind('\\');
      if (slash != std::string::npos) text = embedded_path.substr(slash + 1);
    }
  }
  return !text.empty();
}

}  // namespace

std::string time_text(const time& t, const cmd_params& settings, const char* suffix) {
  if (!t.valid()) return std::string();
  return guarded([&] {
    std::string date, clock;
    format_time_by_descriptor(date, clock, t, settings.m_time_settings);
    return date + " " + clock + suffix;
  });
}

std::string numbered_detail_line(const std::vector<std::string>& details) {
  return guarded([&] {
    std::string line;
    for (size_t i = 0; i < details.size(); ++i) {
      if (i) line += "; ";
      line.append(1, '[').append(std::to_string(i + 1)).append("] ").append(details[i]);
    }
    return line;
  });
}

bool shell_item_text(shell_item_record& record, std::string& text, std::string& detail_line,
                     std::vector<std::string>& details, const cmd_params& settings,
                     bool with_embedded, bool keep_plain_ids) {
  text.clear();
  detail_line.clear();
  details.clear();
  return guarded(
      [&] {
        return item_text_impl(record, text, detail_line, details, settings, with_embedded,
                              keep_plain_ids);
      },
      [&] { return !text.empty(); });
}

bool remove_overlapping_names(property_value_map& values, std::vector<std::string>& names) {
  if (values.empty() || names.empty()) return false;
  for (std::string& name : names) {
    if (values.empty()) break;
    str_to_lower(name);
    // Whether an entry goes depends only on its key and the name, so one
    // pass removes what repeated restarts would (equal keys included).
    for (auto it = values.begin(); it != values.end();) {
      const std::string& key = it->first;
      if (key == name || contains(key, name) || contains(name, key))
        it = values.erase(it);
      else
        ++it;
    }
  }
  return true;
}

}  // namespace vk
