// Serialized property values filed into a shell item: one record per
// element under a key text that is unique per file position.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_parse_fault.h"
#include "shell/shell_item.h"
#include "shell/typed_value.h"

namespace vk {

// Parses the value at data (size bytes allowed) and files its records.
// Returns the bytes consumed, 0 on failure; the same number is left in
// ctx.consumed. pid is the low half of the stored property id.
int32_t add_item_property(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data, int64_t size,
                          uint16_t vartype, uint16_t pid, const guid* fmtid,
                          const cmd_params& opts);

// Moves the values of the collection to the scratch's spare list (as many as it
// keeps; the rest stay), where the values parsed later take their room.
void keep_property_nodes(property_value_map& values, shell_scratch& scratch) noexcept;

// Files the elements of tv with pv (key, names, flags already set) as the
// template; pv ends holding the last element filed. False for the kinds
// that carry nothing (none, null), true otherwise, also when nothing fits.
bool store_typed_value(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                       property_value& pv, const cmd_params& opts);

// As store_typed_value for a value decoded only to be filed: the template
// and the value's texts move into the records filed, so both are left
// unspecified. Every record filed, and the bytes it copies, is charged to
// the parse guard; filing stops when the guard refuses.
bool file_typed_value(shell_item_record& rec, parse_ctx& ctx, typed_value& tv, property_value&& pv,
                      const cmd_params& opts);

// Expands a stream value filed under the name prop4294967295 whose key the
// table names "autolist" (a list of ID lists) or "condition" (a search-
// condition tree) into the item; sets item flag 0x1 for every known, non-
// empty stream. False when the stream is not expanded, which is always the
// case while another special stream is being expanded in the same parse, and
// when its bytes overlap a stream expanded before in it.
bool parse_special_stream_value(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                                const property_value& pv, const cmd_params& opts);
// The two walks on stream data of their own (size bytes at data).
bool parse_autolist_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                           int64_t size, const cmd_params& opts);
bool parse_condition_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                            int64_t size, const cmd_params& opts);

// ---- values kept flat for a report's key and value lists ----
// While a scope is open on the run's flat list, the single texts and times
// filed into scratch records parsed only for those lists (prop_shown_only
// with lists unread) go to that list instead of the records' collections:
// no key text and no map node is made for them, and the guard is charged as
// for filing. Scopes nest; each sees the values filed while it is the
// innermost, and drops them when it closes.
namespace shown_values {

struct list;
// The scratch's flat list.
list& list_of(shell_scratch& scratch);

class scope {
 public:
  explicit scope(list& flat) noexcept;
  ~scope();
  scope(const scope&) = delete;
  scope& operator=(const scope&) = delete;
  // The index of the record the values filed next are folded into.
  void set_record(uint32_t record) noexcept;
  // As collect_merged_property_texts without split names over the count
  // records and the scope's flat values, as if each flat value were in its
  // record's collection; the texts made take their room from the scratch's
  // rooms, and memory that runs out is noted there.
  void collect(const shell_item_record* records, size_t count, std::vector<std::string>& keys,
               std::vector<std::string>& values, const cmd_params& settings,
               shell_scratch& scratch);

 private:
  list& m_list;
  size_t m_start;
  uint32_t m_record;
  bool m_open;
};

// How many values add_item_property has taken past the single ones that a
// record parsed for a report's lists skips or keeps in this list: while it
// stands still, the values met left the record they were filed into as it
// was.
uint64_t record_filings(const list& flat) noexcept;
// The list's length now: the values filed from here on lie past it.
size_t mark(const list& flat) noexcept;
// Drops the values past mark (those of a storage that was not kept).
void drop_from(list& flat, size_t mark) noexcept;
// True when a value past mark is kept.
bool any_from(const list& flat, size_t mark) noexcept;

}  // namespace shown_values

bool is_autolist_header(const uint8_t* p, int64_t available);
bool is_autolist_entry(const uint8_t* p, int64_t available);
bool is_condition_tree(const uint8_t* p, int64_t available);
bool is_condition_guid_record(const uint8_t* p, int64_t available);
// ctx.consumed += 58 when an autolist header is at p.
bool skip_autolist_header(const uint8_t* header, parse_ctx& ctx, shell_item_record& rec,
                          const uint8_t* p, int64_t available, const cmd_params& opts);
// One condition record at p (record points at it too) into rec: a value
// record's 64-bit value as its modified time, or a property leaf's value
// filed under its key.
bool parse_condition_record(const uint8_t* record, parse_ctx& ctx, shell_item_record& rec,
                            const uint8_t* p, int64_t available, const cmd_params& opts);

}  // namespace vk

namespace vk {

// ---- serialized property storages ("1SPS") ----
// Storage sizes are read as their low 16 bits, except by the embedded test.
bool is_property_storage(const uint8_t* p, int64_t available);
bool is_string_named_storage(const uint8_t* p, int64_t available);
bool is_integer_named_storage(const uint8_t* p, int64_t available);
bool is_string_list_entry(const uint8_t* p, int64_t available);

// True when nothing but property values (and the current-property group)
// was filed into the record: every other member is as clear() leaves it.
// A member added to shell_item_record must be tested here too.
bool holds_values_only(const shell_item_record& r);

// Walks consecutive storages from p and merges their properties into rec;
// ctx.consumed = bytes walked. True only when the walk moved past a storage
// with room for another behind it.
bool parse_property_storages(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t size,
                             const cmd_params& opts);
// The same walk; values_only is set false when a storage may have added to
// rec more than property values, and left as it is otherwise. The first
// place where the walk did not read what the storages declare, at an offset
// from p, goes to the context's sink, or to fault when one is given: a
// storage failing its test, a value running past its storage, a value whose
// data and declared size disagree or whose type lies past its storage, bytes
// other than zeros left behind the values.
bool parse_property_storages_noting(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                                    int64_t size, const cmd_params& opts, bool& values_only,
                                    parse_fault* fault = nullptr);
bool parse_integer_named_storage(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                                 int64_t size, const cmd_params& opts);
bool parse_integer_named_value(parse_ctx& ctx, shell_item_record& rec, const guid* fmtid,
                               const uint8_t* value, int64_t available, const cmd_params& opts);
bool parse_string_named_storage(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                                int64_t size, const cmd_params& opts);
// The property list of the three-string structures; always 0.
uint32_t parse_embedded_property_list(shell_item_record& rec, const uint8_t* list, int64_t size,
                                      parse_ctx& ctx, const cmd_params& opts);
// out = the FMTID text of the storage (24 bytes at storage); ctx.consumed = 11.
void property_storage_fmtid_text(const uint8_t* storage, parse_ctx& ctx, std::string& out);

}  // namespace vk
