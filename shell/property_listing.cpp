#include "shell/property_listing.h"

#include <bit>
#include <iomanip>
#include <map>

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "shell/property_keys.h"

namespace vk {

const char* const k_listing_number_prefix = "0x";
const char* const k_listing_no_key_second = "key";
const char* const k_listing_primary_note = "primary";
const char* const k_listing_parsing_note = "parsing";

void print_property_values(parse_ctx& ctx, const property_value_map& values, bool by_offset) {
  if (values.empty() || !debug_output_enabled(ctx)) return;
  std::ostream& os = *ctx.debug_stream;
  if (!by_offset) {
    for (const auto& entry : values) print_property_value(entry.second, os, " : ", true, true);
    return;
  }
  guarded([&] {
    // multimap insertion places an equal key after the earlier ones.
    std::multimap<uint64_t, const property_value*> ordered;
    for (const auto& entry : values) ordered.emplace(entry.second.offset, &entry.second);
    for (const auto& entry : ordered) print_property_value(*entry.second, os, " : ", true, true);
  });
}

namespace {
void write_listing_line(const property_value& v, std::ostream& os, const std::string& sep,
                        bool end_line, bool pad_name) {
  os << std::setfill(' ') << std::left;
  os << k_listing_number_prefix << std::setfill('0') << std::hex << std::right << std::setw(6)
     << v.offset << sep;

  os << std::setfill(' ') << std::left << std::setw(36);
  if (v.key_known)
    os << guid_to_string(v.key.fmtid);
  else
    os << k_no_key_word << ' ' << k_listing_no_key_second;
  os << sep;

  os << k_listing_number_prefix << std::setfill('0') << std::right << std::setw(2) << v.key.pid
     << sep;

  os << std::setfill(' ') << std::left;
  if (pad_name) os << std::setw(15);
  if (v.key_known && !v.name2.empty()) {
    const size_t us = v.name2.find('_');
    os << (us == std::string::npos ? v.name2 : v.name2.substr(us + 1));
  } else {
    os << "-";
  }
  os << sep;

  if (!v.key_known) {
    os << v.text;
  } else if (holds_filetime(v)) {
    write_date_time(os, time_from_u64(v.number, type_time::filetime));
  } else if (v.is_number) {
    if (v.vartype == 7) {
      write_date_time(os, time_from_double(std::bit_cast<double>(v.number), type_time::ole));
    } else {
      os << std::hex << std::setfill('0') << std::right << k_listing_number_prefix << std::setw(8)
         << v.number;
    }
  } else if (!v.table_bit3) {
    os << v.text;
    if (v.table_bit0 || v.table_bit1) {
      os << " [";
      if (v.table_bit0) os << k_listing_primary_note;
      if (v.table_bit0 && v.table_bit1) os << "; ";
      if (v.table_bit1) os << k_listing_parsing_note << ' ';
      os << "]";
    }
  }
  if (end_line) os << std::endl;
}
}  // namespace

void print_property_value(const property_value& v, std::ostream& os, const std::string& sep,
                          bool end_line, bool pad_name) {
  guarded([&] { write_listing_line(v, os, sep, end_line, pad_name); });
}

namespace {
struct sfgao_name {
  uint32_t mask;
  const char* text;
};
constexpr sfgao_name k_sfgao_names[] = {
    {0x1, "can_copy"},        {0x2, "can_move"},           {0x4, "can_link"},
    {0x10, "can_rename"},     {0x20, "can_delete"},        {0x40, "has_propsheet"},
    {0x100, "drop_target"},   {0x1000, "system_item"},     {0x2000, "encrypted"},
    {0x4000, "slow"},         {0x8000, "dimmed"},          {0x10000, "link"},
    {0x20000, "shared"},      {0x40000, "read_only"},      {0x80000, "hidden"},
    {0x100000, "enum_item"},  {0x200000, "new_content"},   {0x400000, "has_stream"},
    {0x2000000, "removable"}, {0x4000000, "compressed"},   {0x8000000, "browsable"},
    {0x20000000, "folder"},   {0x40000000, "system_file"}, {0x80000000, "has_subdirs"},
};
}  // namespace

void append_sfgao_text(std::string& out, uint32_t mask) {
  const size_t size = out.size();
  guarded(
      [&] {
        bool first = true;
        for (const sfgao_name& n : k_sfgao_names) {
          if (!(mask & n.mask)) continue;
          if (!first) out += "; ";
          out += n.text;
          first = false;
        }
      },
      [&] { out.resize(size); });
}

std::string sfgao_text(uint32_t mask) {
  std::string out;
  append_sfgao_text(out, mask);
  return out;
}

}  // namespace vk
