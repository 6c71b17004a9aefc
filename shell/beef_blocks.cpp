// 0xBEEF extension blocks: an 8-byte header (size, version, identifier,
// signature 0xBEEF) and a body by kind. A block is read straight into the
// caller's record under the merge rules (lists appended, single fields
// filled only while empty), so no record is built per block. A field that
// does not fit in the block is absent; the block is still stepped by its size.
#include <algorithm>
#include <string_view>

#include "foundation/vk_time.h"
#include "shell/idlist.h"
#include "shell/item_layout.h"
#include "shell/property_store.h"

namespace vk {

namespace {

namespace L = item_layout;
namespace B = item_layout::beef;
using L::le16;
using L::le32;
using L::le64;
using L::le8;

int32_t clamp32(int64_t n) {
  return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
}

void time_line(shell_item_record& rec, std::string_view label, uint64_t ticks,
               const cmd_params& opts) {
  // The texts come straight from the ticks, as a time value would give them.
  filetime_texts t;
  if (!filetime_date_clock(t, ticks, opts.m_time_settings.m_descriptor)) return;
  std::string line;
  take_pooled(rec, line);
  line.reserve(label.size() + t.m_date_size + t.m_clock_size + 7);
  line.append(label);
  t.append_to(line);
  line.append(" [UTC]", 6);
  take_pooled(rec.date_texts);
  rec.date_texts.push_back(std::move(line));
}

inline uint64_t dos_ticks(byte_view v, size_t at) {
  return dos_filetime(le16(v, at), le16(v, at + 2));
}

void recycle_block(shell_item_record& rec, const uint8_t* p, int64_t size, parse_ctx& ctx) {
  namespace R = B::recycle;
  byte_view v(p, static_cast<size_t>(size));
  shell_item_record nested;
  nested.modified = le64(v, R::deleted);
  std::string text;
  int64_t n = read_utf16(ctx.guard, v, R::path, R::path + R::path_size, text);
  nested.names.push_back(text + " [orig path/file]");
  int64_t left = R::path_size - n;
  size_t q = R::path + static_cast<size_t>(n);
  if (left > 4) {
    while (left > 4 && le8(v, q) == 0) {
      ++q;
      --left;
    }
    if (left > 4 && le8(v, q) != 0) {
      read_utf16(ctx.guard, v, static_cast<int64_t>(q), static_cast<int64_t>(q) + left, text);
      nested.names.push_back(text + " [orig file]");
    }
  }
  read_utf16(ctx.guard, v, R::recycle_path, R::recycle_path + R::recycle_path_size, text);
  nested.names.push_back(text + " [recycle path/file]");
  recycle_block_debug_length(p, size, ctx);
  rec.children.push_back(std::move(nested));
}

// Where a name offset of a file-entry extension points, when not where its
// version places that name; the offset alone is not followed.
enum class stray { fixed_fields, past_block, long_name, between };
constexpr const char* k_stray_causes[4][4] = {
    {"0xBEEF0004 long-name offset points into the block's fixed fields; names read where its "
     "version places them",
     "0xBEEF0004 long-name offset points past the block; names read where its version places "
     "them",
     "0xBEEF0004 long-name offset points into the long name; names read where its version "
     "places them",
     "0xBEEF0004 long-name offset points past the long name; names read where its version "
     "places them"},
    {"0xBEEF0004 localized-name offset points into the block's fixed fields; the name read "
     "after the long name",
     "0xBEEF0004 localized-name offset points past the block; the name read after the long name",
     "0xBEEF0004 localized-name offset points into the long name; the name read after the long "
     "name",
     "0xBEEF0004 localized-name offset points past the long name's end; the name read after the "
     "long name"},
    {"0xBEEF0004 offset at 18 points into the block's fixed fields; not followed",
     "0xBEEF0004 offset at 18 points past the block; not followed",
     "0xBEEF0004 offset at 18 points into the long name; not followed",
     "0xBEEF0004 offset at 18 points to no name's start; not followed"},
    // The same, where the bytes after the long name hold no name.
    {"0xBEEF0004 localized-name offset points into the block's fixed fields; no name after the "
     "long name",
     "0xBEEF0004 localized-name offset points past the block; no name after the long name",
     "0xBEEF0004 localized-name offset points into the long name; no name after the long name",
     "0xBEEF0004 localized-name offset points past the long name's end; no name after the long "
     "name"},
};

stray where_stray(int64_t at, int64_t names_at, int64_t long_end, int64_t names_end) {
  if (at < names_at) return stray::fixed_fields;
  if (at >= names_end) return stray::past_block;
  return at < long_end ? stray::long_name : stray::between;
}

// The long name of a block whose item has one already: read, and added to
// the names. Apart, as few blocks have one.
[[gnu::noinline]] int64_t displaced_long_name(parse_guard* guard, shell_item_record& rec,
                                              byte_view v, int64_t names_at, int64_t names_end) {
  std::string other_long;
  const int64_t taken = read_utf16(guard, v, names_at, names_end, other_long);
  merge_name(rec, rec.long_name, std::move(other_long));
  return taken;
}

// Versions 3, 7, 8 and 9. Returns the bytes taken. The long name starts
// where the version's fixed fields end and the localized name where the
// long name ends; the offsets that repeat those places are checked against
// them, and one that disagrees is said, never followed: it would show other
// fields' bytes as names. The texts go straight into their slots while
// these are empty, which is what a merge of the block's own record would
// do: nothing in between reads or writes a slot.
[[gnu::always_inline]] inline int64_t file_entry_extension(parse_ctx& ctx, shell_item_record& rec,
                                                           byte_view v, int64_t avail,
                                                           uint16_t version) {
  namespace F = B::file_ext;
  parse_guard* const guard = ctx.guard;
  const int64_t size = static_cast<int64_t>(v.size());
  // A time fills only an empty slot: converted only then. One no date
  // covers stands as it is, and is said.
  const auto dos_slot = [&](uint64_t& slot, size_t at) {
    if (slot || !le16(v, at)) return;
    slot = dos_time_slot(le16(v, at), le16(v, at + 2));
    if (is_raw_dos_time(slot)) note_inner_damage(ctx.space(), k_raw_dos_cause);
  };
  if (size >= 12) dos_slot(rec.created, F::created);
  if (size >= 16) dos_slot(rec.accessed, F::accessed);
  const int64_t names_at = F::names_at(version);
  const int64_t names_end = size - 2;  // the block's last u16 ends every string
  if (names_at > names_end) {
    // No room for the fields and names the version lays out.
    note_inner_damage(ctx.space(),
                      "0xBEEF0004 block shorter than its version's fixed fields; "
                      "the fields past its end not read");
    return avail;
  }
  // A long name displaced by one already there joins names before the
  // block's localized name, as in a merge (nothing between adds a name).
  int64_t long_taken;
  if (rec.long_name.empty()) {
    take_pooled(rec.long_name);
    long_taken = read_utf16(guard, v, names_at, names_end, rec.long_name);
  } else {
    long_taken = displaced_long_name(guard, rec, v, names_at, names_end);
  }
  // An empty name still holds its terminator, which the reader does not
  // count: the localized name follows it.
  if (long_taken == 0 && names_at + 2 <= names_end && le16(v, static_cast<size_t>(names_at)) == 0)
    long_taken = 2;
  const int64_t long_end = names_at + long_taken;
  const auto check = [&](int field, int64_t at, int64_t expected) {
    if (at == expected) return true;
    note_inner_damage(ctx.space(),
                      k_stray_causes[field][int(where_stray(at, names_at, long_end, names_end))]);
    return false;
  };
  check(0, le16(v, F::long_name), names_at);
  // The localized name, when its offset says there is one.
  const uint16_t loc = le16(v, version == 3 ? F::second : F::localized);
  std::string localized;
  if (loc == 0 && (version == 3 || size >= F::localized_min)) {
    // None declared: the bytes after the long name are zeros, or a name
    // whose offset was lost.
    for (int64_t at = long_end; at + 2 <= names_end; at += 2)
      if (le16(v, static_cast<size_t>(at)) != 0) {
        note_inner_damage(ctx.space(),
                          "0xBEEF0004 localized-name offset is 0, yet a name follows "
                          "the long name; not read");
        break;
      }
  } else if (loc != 0 && (version == 3 || size >= F::localized_min)) {
    // Version 3's localized name is 8-bit; like every name, it ends where
    // the block's last u16 begins. Read straight into an empty slot.
    const bool loc_slot = rec.localized_name.empty();
    if (loc_slot) take_pooled(rec, rec.localized_name);
    std::string& text = loc_slot ? rec.localized_name : localized;
    if (version == 3)
      read_ansi(guard, v, long_end, names_end, text);
    else
      read_utf16(guard, v, long_end, names_end, text);
    check(text.empty() ? 3 : 1, loc, long_end);
  }
  if (version != 3) {
    if (size >= F::mft_min && !rec.mft_entry) {
      const uint64_t entry = le32(v, F::mft_low) | (uint64_t{le16(v, F::mft_high)} << 32);
      if (entry) {
        rec.mft_entry = entry;
        rec.mft_sequence = le16(v, F::mft_sequence);
      }
    }
    // The version lays out no further name: an offset at 18 may name one
    // of its two names, and points nowhere else.
    if (const uint16_t at = le16(v, F::second); at != 0 && at != names_at && at != long_end)
      check(2, at, names_at);
  }
  merge_name(rec, rec.localized_name, std::move(localized));
  return version == 3 ? avail : size;
}

// A file entry's extension of a version no layout has. Its offsets cannot
// be checked against a layout: one moved into a name or onto other fields
// would show a piece of the name or the fields' bytes as a name, so no
// name is read, and that is said. Returns the bytes taken.
int64_t unknown_file_extension(parse_ctx& ctx, byte_view v) {
  note_inner_damage(ctx.space(), "0xBEEF0004 block of a version no layout has; its names not read");
  return static_cast<int64_t>(v.size());
}

// Texts of a block of unknown kind; they may run on into the following
// bytes, which count against the parse's work bound through the reader.
int64_t string_scan(parse_guard* guard, shell_item_record& rec, byte_view v) {
  const int64_t avail = static_cast<int64_t>(v.size());
  int64_t pos = B::header_size, b = avail - B::header_size;
  std::string s;
  while (true) {
    int64_t skipped = 0;
    while (b > 0 && pos + 2 <= avail && le16(v, static_cast<size_t>(pos)) <= 0x1F) {
      pos += 2;
      b -= 2;
      ++skipped;
    }
    if (!guard_charge(guard, skipped) || b <= 3) break;
    int64_t n = read_utf16(guard, v, pos, pos + b, s);
    if (s.size() > 5) rec.names.push_back(s);
    if (n == 0) break;
    b -= n;
    if (b <= 15) break;
    pos += n;
  }
  return b;
}

// No kind has a file-entry extension's version, so those blocks, the most
// common, skip the search.
constexpr bool kinds_skip_file_ext_versions() {
  for (const B::kind& k : B::kinds)
    if (B::is_file_ext_version(k.version)) return false;
  return true;
}
static_assert(kinds_skip_file_ext_versions());

const B::kind* find_kind(uint16_t version, uint16_t id) {
  if (B::is_file_ext_version(version)) return nullptr;
  for (const B::kind& k : B::kinds)
    if (k.version == version && k.id == id) return &k;
  return nullptr;
}

}  // namespace

bool is_beef_block(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, B::header_size) &&
         le16(L::view_of(p, available), B::signature_at) == B::signature;
}

bool is_beef_v0_id20_body(const uint8_t* p, int64_t available) {
  namespace C = B::chain;
  auto size = sized_structure(p, available, C::min_size);
  if (!size) return false;
  byte_view v(p, *size);
  uint64_t inner = le16(v, C::inner);
  return inner + C::inner <= *size && uint64_t{le32(v, C::length)} + 58 <= inner;
}

namespace {
// A block that passed is_beef_block, with at least B::min_parse bytes.
int32_t beef_block_body(shell_item_record& record, const uint8_t* p, int64_t avail, int64_t size,
                        parse_ctx& ctx, const cmd_params& opts) {
  const byte_view all = L::view_of(p, avail);
  const byte_view v(p, static_cast<size_t>(size));
  const uint16_t version = le16(v, B::version), id = le16(v, B::id);
  const uint64_t remembered = ctx.offset;
  int64_t taken = avail;

  const B::kind* k = find_kind(version, id);
  if (k && k->act == B::action::string_chain && !is_beef_v0_id20_body(p, avail)) k = nullptr;
  if (k) {
    if (k->consumed >= 0) ctx.consumed = static_cast<uint32_t>(k->consumed);
    if (k->taken >= 0) taken = k->taken;
    switch (k->act) {
      case B::action::two_guids:
        if (size >= B::two_guid_size) {
          add_item_guid(record, p + B::guid1);
          add_item_guid(record, p + B::guid2);
        }
        break;
      case B::action::one_guid:
        if (size >= B::one_guid_size) add_item_guid(record, p + B::guid1);
        break;
      case B::action::dos_created:
        if (size >= 12) merge_time(record.created, dos_ticks(v, B::dos_time));
        // Laid out as a file entry's extension (its long name's offset
        // where a version puts it): the version is what changed.
        if (size >= 20)
          for (uint16_t file_version : {3, 7, 8, 9})
            if (le16(v, B::file_ext::long_name) == B::file_ext::names_at(file_version)) {
              note_inner_damage(ctx.space(),
                                "0xBEEF0004 block of version 0 laid out as a file "
                                "entry's; its names not read");
              break;
            }
        break;
      case B::action::recycle:
        if (size >= B::recycle::block_size) recycle_block(record, p, size, ctx);
        break;
      case B::action::nested_list: {
        // The nested list ends with the block, not with the caller's bytes.
        shell_item_list list;
        if (parse_idlist(list, p + B::nested_list_at, size - B::nested_list_at, false, false, ctx,
                         opts))
          append_moved(record.children, std::move(list));
        break;
      }
      case B::action::storage: {
        ctx.offset = remembered + B::storage_at;
        // The storages lie within their block, back to back.
        const int64_t room = size - B::storage_at;
        if (room > 0 && is_embedded_property_storage(p + B::storage_at, room)) {
          // A storage files its values into a record of its own first, so
          // that its keys join the item's as a merge adds them.
          shell_item_record t;
          const uint32_t saved = ctx.consumed;
          parse_property_storages(ctx, t, p + B::storage_at, room, opts);
          const uint32_t storage = le32(all, B::storage_at);
          ctx.consumed = saved + storage;
          taken = B::storage_at + int64_t{storage};
          merge_shell_item(record, std::move(t));
        } else {
          // A block of this kind holds a storage: one its test refuses (a
          // size of zero or past the block, a first value of no type) is
          // damage, for the item to say.
          ++ctx.space().inner_damage;
        }
        break;
      }
      case B::action::string_chain: {
        add_item_guid(record, p + B::guid1);
        int64_t pos = B::chain::strings;
        std::string s;
        int64_t n = read_utf16(ctx.guard, all, pos, avail, s);
        add_item_name(record, std::move(s));
        while (avail - pos - n > 4) {
          pos += n + B::chain::gap;
          n = read_utf16(ctx.guard, all, pos, avail, s);
          add_item_name(record, std::move(s));  // empty ones are not kept, as in a merge
          if (pos >= avail) break;
        }
        break;
      }
      case B::action::empty_name:
        break;
      case B::action::guessed_times2:
      case B::action::guessed_times3:
        if (size >= k->taken) {
          time_line(record, "Created [guess]: ", le64(v, B::guess_created), opts);
          time_line(record, "Modified [guess]: ", le64(v, B::guess_modified), opts);
          if (k->act == B::action::guessed_times3)
            time_line(record, "Accessed [guess]: ", le64(v, B::guess_accessed), opts);
        }
        break;
      case B::action::name: {
        std::string name;
        read_utf16(ctx.guard, v, B::name_at, size - 2, name);
        merge_name(record, record.long_name, std::move(name));
        taken = size;
        break;
      }
      case B::action::v5_id11: {
        std::string name, s1, s2, s3;
        uint64_t a = 0, b = 0;
        if (parse_beef_v5_id11(ctx.guard, p, size, name, s1, s2, s3, a, b)) {
          add_item_name(record, std::move(s1));
          add_item_name(record, std::move(s2));
          add_item_name(record, std::move(s3));
          if (a || b) {
            time_line(record, "Embedded date: ", a, opts);
            time_line(record, "Embedded date: ", b, opts);
          }
          merge_name(record, record.long_name, std::move(name));
        }
        taken = size;
        break;
      }
    }
  } else if (B::is_file_ext_version(version)) {
    ctx.consumed = static_cast<uint32_t>(B::file_ext_consumed(version));
    taken = file_entry_extension(ctx, record, v, avail, version);
  } else if (id == 4 && version != 0) {
    taken = unknown_file_extension(ctx, v);
  } else {
    taken = avail - string_scan(ctx.guard, record, all);
  }
  if (taken <= 0) taken = avail;
  return clamp32(taken);
}
}  // namespace

int32_t parse_beef_block(shell_item_record& record, const uint8_t* p, int64_t avail, parse_ctx& ctx,
                         const cmd_params& opts) {
  if (!p || avail < B::min_parse || !is_beef_block(p, avail)) return 0;
  return beef_block_body(record, p, avail, byte_view(p, static_cast<size_t>(avail)).u16_or_zero(0),
                         ctx, opts);
}

int32_t parse_beef_block_list(shell_item_record& record, const uint8_t* p, int64_t avail,
                              parse_ctx& ctx, const cmd_params& opts) {
  if (!p) return 0;
  int64_t total = 0;
  while (avail >= B::min_walk && is_beef_block(p, avail)) {
    const byte_view block(p, static_cast<size_t>(avail));
    const int64_t size = block.u16_or_zero(0);
    if (!guard_charge(ctx, 1)) break;
    if (avail >= B::min_parse) {
      // A file entry's own extension, the most common block, goes straight
      // to its reader (the body would do the same, its result unused here).
      const uint16_t version = block.u16_or_zero(B::version);
      if (B::is_file_ext_version(version)) {
        ctx.consumed = static_cast<uint32_t>(B::file_ext_consumed(version));
        file_entry_extension(ctx, record, byte_view(p, static_cast<size_t>(size)), avail, version);
      } else {
        beef_block_body(record, p, avail, size, ctx, opts);
      }
    }
    ctx.offset += static_cast<uint64_t>(size);
    ctx.consumed += static_cast<uint32_t>(size);
    p += size;
    avail -= size;
    total += size;
  }
  // A block header whose size cannot be right (zero, or past the bytes)
  // stops the run short: the blocks from there on are lost, for the item to
  // say.
  if (avail >= static_cast<int64_t>(B::header_size) &&
      le16(L::view_of(p, avail), B::signature_at) == B::signature && !is_beef_block(p, avail))
    ++ctx.space().inner_damage;
  return static_cast<int32_t>(total);
}

}  // namespace vk
