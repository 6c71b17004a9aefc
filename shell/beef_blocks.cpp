// 0xBEEF extension blocks: an 8-byte header (size, version, identifier,
// signature 0xBEEF) and a body by kind. Each block is read into a fresh
// record that is merged into the caller's. A field that does not fit in the
// block is absent; the block is still stepped by its size.
#include <algorithm>

#include "foundation/vk_time.h"
#include "shell/idlist.h"

namespace vk {

namespace {

constexpr int64_t k_max_block = 16383;

void time_line(shell_item_record& rec, const char* label, uint64_t ticks,
               const cmd_params& opts) {
  time t = time_from_u64(ticks, type_time::filetime);
  if (!t.valid()) return;
  std::string date, clock;
  format_time_by_descriptor(date, clock, t, opts.m_time_settings);
  rec.date_texts.push_back(std::string(label) + date + " " + clock + " [UTC]");
}

uint64_t dos_ticks(const uint8_t* p) {
  time t = time_from_dos(load_le16(p), load_le16(p + 2), true);
  return t.valid() ? t.m_filetime : 0;
}

void recycle_block(shell_item_record& rec, const uint8_t* p, int64_t size, parse_ctx& ctx) {
  byte_view v(p, static_cast<size_t>(size));
  shell_item_record nested;
  nested.modified = load_le64(p + 16);
  std::string text;
  int64_t n = read_utf16(v, 24, 24 + 520, text);
  nested.names.push_back(text + " [orig path/file]");
  int64_t left = 520 - n;
  int64_t q = 24 + n;
  if (left > 4) {
    while (left > 4 && p[q] == 0) {
      ++q;
      --left;
    }
    if (left > 4 && p[q] != 0) {
      read_utf16(v, q, q + left, text);
      nested.names.push_back(text + " [orig file]");
    }
  }
  read_utf16(v, 544, 544 + 160, text);
  nested.names.push_back(text + " [recycle path/file]");
  recycle_block_debug_length(p, size, ctx);
  rec.children.push_back(std::move(nested));
}

void file_entry_extension(shell_item_record& t, const uint8_t* p, int64_t size, int64_t avail,
                          uint16_t version, int32_t& taken) {
  byte_view v(p, static_cast<size_t>(size));
  taken = static_cast<int32_t>(avail);
  if (size >= 12 && load_le16(p + 8)) t.created = dos_ticks(p + 8);
  if (size >= 16 && load_le16(p + 12)) t.accessed = dos_ticks(p + 12);
  if (size < 18) return;
  uint16_t long_at = load_le16(p + 16);
  if (long_at == 0 || long_at >= avail) return;
  const int64_t names_end = size - 2;  // the block's last u16 ends every string
  read_utf16(v, long_at, names_end, t.long_name);
  if (version == 3) {
    if (size < 20) return;
    uint16_t loc = load_le16(p + 18);
    if (loc == 0 || loc >= size) return;
    if (loc + 1 < size && p[loc + 1] != 0)
      read_ansi(v, loc, size, t.localized_name);
    else
      read_utf16(v, loc, names_end, t.localized_name);
    return;
  }
  if (version != 3 && size >= 28) {
    t.mft_entry = load_le32(p + 20) | (static_cast<uint64_t>(load_le16(p + 24)) << 32);
    t.mft_sequence = load_le16(p + 26);
  }
  if (version != 7 && size >= 20) {
    uint16_t at = load_le16(p + 18);
    std::string s;
    if (at && at < size && read_utf16(v, at, names_end, s) && !s.empty()) t.names.push_back(s);
  }
  if (size >= 38) {
    uint16_t at = load_le16(p + 36);
    if (at && at < size) read_utf16(v, at, names_end, t.localized_name);
  }
  taken = static_cast<int32_t>(size);
}

// Texts of a block of unknown kind; they may run on into the following
// bytes, which count against the parse's work bound through the reader.
int64_t string_scan(shell_item_record& t, const uint8_t* p, int64_t avail) {
  byte_view v(p, static_cast<size_t>(avail));
  int64_t pos = 8, b = avail - 8;
  while (true) {
    int64_t skipped = 0;
    while (b > 0 && pos + 2 <= avail && load_le16(p + pos) <= 0x1F) {
      pos += 2;
      b -= 2;
      ++skipped;
    }
    if (!guard_charge(skipped) || b <= 3) break;
    std::string s;
    int64_t n = read_utf16(v, pos, pos + b, s);
    if (s.size() > 5) t.names.push_back(s);
    if (n == 0) break;
    b -= n;
    if (b <= 15) break;
    pos += n;
  }
  return b;
}

}  // namespace

bool is_beef_block(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 8) && load_le16(p + 6) == 0xBEEF;
}

bool is_beef_v0_id20_body(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 66);
  if (!size) return false;
  uint64_t inner = load_le16(p + 24);
  return inner + 24 <= *size && static_cast<uint64_t>(load_le32(p + 60)) + 58 <= inner;
}

int32_t parse_beef_block(shell_item_record& record, const uint8_t* p, int64_t avail,
                         parse_ctx& ctx, const cmd_params& opts) {
  if (!p || avail < 18 || !is_beef_block(p, avail)) return 0;
  const int64_t size = load_le16(p);
  const uint16_t version = load_le16(p + 2), id = load_le16(p + 4);
  const uint64_t remembered = ctx.offset;
  byte_view v(p, static_cast<size_t>(size));
  shell_item_record t;
  int32_t taken = static_cast<int32_t>(std::min<int64_t>(avail, INT32_MAX));
  auto kind = [&](uint16_t ver, uint16_t ident) { return version == ver && id == ident; };

  if (kind(0, 0)) {
    if (size >= 40) {
      add_item_guid(t, p + 8);
      add_item_guid(t, p + 24);
    }
    ctx.consumed = 48;
    taken = 40;
  } else if (kind(0, 3) || kind(0, 5)) {
    if (size >= 24) add_item_guid(t, p + 8);
    ctx.consumed = 32;
    taken = 24;
  } else if (kind(0, 4)) {
    if (size >= 12) t.created = dos_ticks(p + 8);
    ctx.consumed = 18;
    taken = 20;
  } else if (kind(0, 8)) {
    if (size >= 704) recycle_block(t, p, size, ctx);
    taken = 704;
  } else if (kind(0, 14)) {
    ctx.consumed = 20;
    // The nested list ends with the block, not with the caller's bytes.
    shell_item_list list;
    if (parse_idlist(list, p + 12, size - 12, false, false, ctx, opts))
      t.children.insert(t.children.end(), list.begin(), list.end());
    taken = 12;
  } else if (kind(0, 16)) {
    ctx.offset = remembered + 16;
    ctx.consumed = 24;
    taken = 16;
    if (is_embedded_property_storage(p + 16, avail - 16)) {
      uint32_t saved = ctx.consumed;
      parse_storage_block(ctx, t, p + 16, avail - 16, opts);
      uint32_t storage = load_le32(p + 16);
      ctx.consumed = saved + storage;
      taken = static_cast<int32_t>(std::min<int64_t>(16 + int64_t{storage}, INT32_MAX));
    }
  } else if (kind(0, 19) || kind(0, 25)) {
    if (size >= 40) {
      add_item_guid(t, p + 8);
      add_item_guid(t, p + 24);
    }
    ctx.consumed = 50;
    taken = 42;
  } else if (kind(0, 20) && is_beef_v0_id20_body(p, avail)) {
    add_item_guid(t, p + 8);
    byte_view all(p, static_cast<size_t>(avail));
    int64_t pos = 64;
    std::string s;
    int64_t n = read_utf16(all, pos, avail, s);
    t.names.push_back(s);
    while (avail - pos - n > 4) {
      pos += n + 8;
      n = read_utf16(all, pos, avail, s);
      t.names.push_back(s);
      if (pos >= avail) break;
    }
  } else if (kind(0, 29) || kind(0, 26) || kind(0, 1)) {
    t.names.push_back("");
    ctx.consumed = 18;
  } else if (kind(0, 37)) {
    if (size >= 28) {
      time_line(t, "Created [guess]: ", load_le64(p + 12), opts);
      time_line(t, "Modified [guess]: ", load_le64(p + 20), opts);
    }
    ctx.consumed = 36;
    taken = 28;
  } else if (kind(1, 37) || kind(1, 38)) {
    if (size >= 36) {
      time_line(t, "Created [guess]: ", load_le64(p + 12), opts);
      time_line(t, "Modified [guess]: ", load_le64(p + 20), opts);
      time_line(t, "Accessed [guess]: ", load_le64(p + 28), opts);
    }
    ctx.consumed = 36;
    taken = 36;
  } else if (version == 3 || version == 7 || version == 8 || version == 9) {
    ctx.consumed = version == 3 ? 30 : version == 7 ? 46 : version == 8 ? 50 : 54;
    file_entry_extension(t, p, size, avail, version, taken);
  } else if (kind(5, 6) || kind(13, 6) || kind(39, 6)) {
    read_utf16(v, 8, size - 2, t.long_name);
    ctx.consumed = 16;
    taken = static_cast<int32_t>(size);
  } else if (kind(5, 11)) {
    ctx.consumed = 24;
    std::string name, s1, s2, s3;
    uint64_t a = 0, b = 0;
    if (parse_beef_v5_id11(p, size, name, s1, s2, s3, a, b)) {
      t.long_name = name;
      for (const std::string* s : {&s1, &s2, &s3})
        if (!s->empty()) t.names.push_back(*s);
      if (a || b) {
        time_line(t, "Embedded date: ", a, opts);
        time_line(t, "Embedded date: ", b, opts);
      }
    }
    taken = static_cast<int32_t>(size);
  } else {
    int64_t left = string_scan(t, p, avail);
    taken = static_cast<int32_t>(std::min<int64_t>(avail - left, INT32_MAX));
  }
  if (taken <= 0) taken = static_cast<int32_t>(std::min<int64_t>(avail, INT32_MAX));
  merge_shell_item(record, t);
  return taken;
}

int32_t parse_beef_block_list(shell_item_record& record, const uint8_t* p, int64_t avail,
                              parse_ctx& ctx, const cmd_params& opts) {
  if (!p) return 0;
  int64_t total = 0;
  while (avail >= 9 && is_beef_block(p, avail)) {
    int64_t size = load_le16(p);
    if (size > k_max_block || !guard_charge(1)) break;
    shell_item_record t;
    if (parse_beef_block(t, p, avail, ctx, opts) != 0) merge_shell_item(record, t);
    ctx.offset += size;
    ctx.consumed += static_cast<uint32_t>(size);
    p += size;
    avail -= size;
    total += size;
  }
  return static_cast<int32_t>(total);
}

}  // namespace vk
