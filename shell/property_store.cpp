#include "shell/property_store.h"

#include <cstdio>

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "shell/guid_names.h"
#include "shell/property_keys.h"

namespace vk {

namespace {

constexpr uint32_t k_tag_dword = 0x26cbc756;
constexpr uint32_t k_tag_qword = 0x94b5d121;
constexpr uint32_t k_tag_filetime = 0xf0b57858;
constexpr uint32_t k_tag_date = 0x56e2ac24;
constexpr uint32_t k_tag_bytes = 0xb816936b;

// Numbers and byte runs have no text of their own to key on: the kind's tag
// and the file position make the key unique.
std::string position_key(uint32_t tag, uint64_t offset) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x_%08llx", tag, static_cast<unsigned long long>(offset));
  return buf;
}

void file_record(shell_item_record& rec, property_value& pv, uint32_t vartype,
                 const std::string& text, std::string key_text, uint64_t offset) {
  pv.key_known = 1;
  pv.vartype = vartype;
  pv.text = text;
  pv.key_text = std::move(key_text);
  pv.offset = offset;
  pv.offset2 = offset;
  rec.properties.emplace(pv.key_text, pv);
}

void file_number(shell_item_record& rec, property_value& pv, uint32_t tag, uint32_t vartype,
                 uint64_t value, uint64_t offset, bool filetime) {
  pv.number = value;
  if (filetime)
    pv.is_filetime = 1;
  else
    pv.is_number = 1;
  std::string key = position_key(tag, offset);
  file_record(rec, pv, vartype, key, key, offset);
}

std::string lowered(std::string text) { return str_to_lower(text); }

bool store_body(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                property_value& pv, const cmd_params& opts) {
  auto offset_of = [&](size_t i) { return i < tv.offsets.size() ? tv.offsets[i] : 0; };
  switch (tv.kind) {
    case tv_dword:
      for (size_t i = 0; i < tv.dwords.size(); ++i) {
        file_number(rec, pv, k_tag_dword, 19, tv.dwords[i], offset_of(i), false);
        rec.prop_dwords.push_back(tv.dwords[i]);
      }
      return true;
    case tv_qword:
    case tv_filetime:
    case tv_date: {
      uint32_t tag = tv.kind == tv_qword ? k_tag_qword
                     : tv.kind == tv_filetime ? k_tag_filetime : k_tag_date;
      uint32_t vartype = tv.kind == tv_qword ? 21 : tv.kind == tv_filetime ? 64 : 7;
      for (size_t i = 0; i < tv.qwords.size(); ++i) {
        file_number(rec, pv, tag, vartype, tv.qwords[i], offset_of(i), tv.kind == tv_filetime);
        rec.prop_qwords.push_back(tv.qwords[i]);
      }
      return true;
    }
    case tv_bytes: {
      if (tv.blobs.empty() || tv.blobs[0].size() < tv.count) return true;
      const std::string& blob = tv.blobs[0];
      std::string key = position_key(k_tag_bytes, ctx.offset);
      pv.bytes += blob;
      file_record(rec, pv, 4113, key, key, offset_of(0));
      rec.prop_bytes.insert(rec.prop_bytes.end(), blob.begin(), blob.end());
      rec.prop_flags[4] = 1;
      return true;
    }
    case tv_text:
      for (size_t i = 0; i < tv.texts.size(); ++i) {
        if (tv.texts[i].empty()) continue;
        file_record(rec, pv, 31, tv.texts[i], lowered(tv.texts[i]), offset_of(i));
        rec.prop_texts.push_back(tv.texts[i]);
      }
      return true;
    case tv_guid:
      for (size_t i = 0; i < tv.blobs.size(); ++i) {
        if (tv.blobs[i].size() != 16) continue;
        guid g;
        g.set(tv.blobs[i].data());
        std::string text = clsid_text(&g);
        file_record(rec, pv, 72, text, lowered(text), offset_of(i));
        rec.prop_guid_texts.push_back(text);
      }
      return true;
    case tv_stream: {
      if (tv.texts.empty()) return true;
      pv.key_known = 1;
      pv.vartype = 66;
      pv.text = tv.texts[0];
      pv.key_text = lowered(tv.texts[0]);
      pv.offset = offset_of(0);
      if (tv.blobs.empty()) return true;
      file_record(rec, pv, 66, tv.texts[0], pv.key_text, offset_of(0));
      rec.prop_texts.push_back(tv.texts[0]);
      rec.prop_flags[4] = 1;
      parse_special_stream_value(rec, ctx, tv, pv, opts);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool store_typed_value(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                       property_value& pv, const cmd_params& opts) {
  return guarded([&] { return store_body(rec, ctx, tv, pv, opts); });
}

int32_t add_item_property(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                          int64_t size, uint16_t vartype, uint16_t pid, const guid* fmtid,
                          const cmd_params& opts) {
  return guarded(
      [&]() -> int32_t {
        clear_item_property_fields(rec);
        if (!data || size <= 0) {
          ctx.consumed = 0;
          return 0;
        }
        property_value pv(fmtid, pid);
        if (lookup_property_value_key(pv)) {
          rec.prop_flags = {pv.table_bit0, pv.table_bit1, pv.listed,
                            pv.table_bit5, pv.table_bit3, static_cast<uint8_t>(pv.key_known)};
        }
        typed_value tv;
        int32_t result = 0;
        if (parse_typed_value(tv, ctx, data, size, vartype)) {
          pv.vartype = vartype & 0xFF;
          store_typed_value(rec, ctx, tv, pv, opts);
          result = static_cast<int32_t>(tv.consumed);
        }
        ctx.consumed = static_cast<uint32_t>(result);
        return result;
      },
      [&]() -> int32_t {
        ctx.consumed = 0;
        return 0;
      });
}

}  // namespace vk
