// The item and ID-list text walk. Texts are built in one buffer of the run's
// scratch that keeps its capacity; a record's details are places in it until the
// public routines copy them out.
#include "shell/item_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <span>
#include <string_view>
#include <type_traits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_string.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/parse_ctx.h"
#include "shell/property_keys.h"
#include "shell/property_listing.h"
#include "shell/shell_kernels.h"

namespace vk {

namespace {

bool is_string_vartype(uint32_t vt) {
  return vt == 31 || vt == 30 || vt == 8;
}

bool contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}

// Equal bytes; short texts (most names) by word compares, not a call.
inline bool same_bytes(const char* a, const char* b, size_t n) {
  const byte_view va(reinterpret_cast<const uint8_t*>(a), n);
  const byte_view vb(reinterpret_cast<const uint8_t*>(b), n);
  // The words at off of both texts are there and equal.
  auto same_word = [&](size_t off, auto w) {
    auto x = w;
    return va.block(off, w) && vb.block(off, x) && w == x;
  };
  if (n >= 8 && n <= 16) return same_word(0, uint64_t{}) && same_word(n - 8, uint64_t{});
  if (n >= 4 && n < 8) return same_word(0, uint32_t{}) && same_word(n - 4, uint32_t{});
  if (n < 4) {
    for (size_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
  return std::memcmp(a, b, n) == 0;
}

// contains for a text of at most 32 bytes and a shorter name of at least
// two (an item's short name against its long name, most often not in it):
// the name's first and last bytes are looked for at every place at once,
// the bytes between compared only where both are there.
inline bool short_contains(std::string_view text, std::string_view name) {
#ifdef __SSE2__
  const size_t t = text.size(), n = name.size();
  alignas(16) char buf[64] = {};
  // Two copies of fixed size that overlap cover any length, with no call.
  if (t >= 16) {
    std::memcpy(buf, text.data(), 16);
    std::memcpy(buf + t - 16, text.data() + t - 16, 16);
  } else if (t >= 8) {
    std::memcpy(buf, text.data(), 8);
    std::memcpy(buf + t - 8, text.data() + t - 8, 8);
  } else {
    std::memcpy(buf, text.data(), 4);
    std::memcpy(buf + t - 4, text.data() + t - 4, 4);
  }
  const size_t places = t - n + 1;  // 1 to 31
  const __m128i first = _mm_set1_epi8(name[0]), last = _mm_set1_epi8(name[n - 1]);
  uint32_t found = 0;
  for (size_t at = 0; at < places; at += 16) {
    const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(buf + at));
    const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + at + n - 1));
    found |= static_cast<uint32_t>(_mm_movemask_epi8(
                 _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(z, last))))
             << at;
  }
  found &= (uint32_t{1} << places) - 1;
  for (; found != 0; found &= found - 1) {
    const size_t at = static_cast<size_t>(std::countr_zero(found));
    if (std::memcmp(buf + at + 1, name.data() + 1, n - 2) == 0) return true;
  }
  return false;
#else
  return contains(text, name);
#endif
}

// contains for an item's names, most of which equal its text (a short name
// read twice) or are longer: a compare of sizes first.
[[gnu::always_inline]] inline bool holds(std::string_view text, std::string_view name) {
  if (name.size() >= text.size())
    return name.size() == text.size() && same_bytes(name.data(), text.data(), name.size());
  if (name.size() >= 2 && text.size() <= 32 && text.size() >= 4) return short_contains(text, name);
  return contains(text, name);
}

constexpr std::string_view k_blanks = " \t\r\n";

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(k_blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(k_blanks) - first + 1);
}

// ---- the walk's workspace ----
//
// The texts of a walk go end to end into one buffer of the scratch that
// keeps its capacity, and lists of texts are places in it, so that a record's
// details cost no allocation of their own once the buffers have grown.

// A text in the buffer, with its hash for the distinctness tests.
struct span {
  size_t off = 0;
  size_t len = 0;
  size_t hash = 0;
};

// Texts seen (open addressing over spans; cleared by a new stamp, so a
// table grown once by a large input costs nothing on later clears).
class text_set {
 public:
  void clear() {
    count_ = 0;
    if (++stamp_ == 0) {
      for (slot& s : slots_) s.stamp = 0;
      stamp_ = 1;
    }
  }
  size_t bytes() const { return slots_.capacity() * sizeof(slot); }
  void release() {
    std::vector<slot>().swap(slots_);
    count_ = 0;
  }
  // True when s was not in the set; it is now.
  bool insert(const std::string& buffer, const span& s) {
    if ((count_ + 1) * 2 > slots_.size()) grow(buffer);
    const std::string_view text(buffer.data() + s.off, s.len);
    const size_t mask = slots_.size() - 1;
    for (size_t i = s.hash & mask;; i = (i + 1) & mask) {
      slot& at = slots_[i];
      if (at.stamp != stamp_) {
        at = {stamp_, s};
        ++count_;
        return true;
      }
      if (at.s.hash == s.hash && at.s.len == s.len &&
          std::string_view(buffer.data() + at.s.off, at.s.len) == text)
        return false;
    }
  }

 private:
  struct slot {
    uint32_t stamp = 0;
    span s;
  };
  void grow(const std::string& buffer) {
    std::vector<slot> old(std::max<size_t>(16, slots_.size() * 2));
    old.swap(slots_);
    const uint32_t live = stamp_;
    stamp_ = 1;
    count_ = 0;
    for (const slot& o : old)
      if (o.stamp == live) insert(buffer, o.s);
  }

  std::vector<slot> slots_;
  uint32_t stamp_ = 1;
  size_t count_ = 0;
};

// What one nesting level of the walk keeps: the details of the item in hand
// (distinct by their keys) and those of the list (distinct by text), and the
// list's path.
struct text_level {
  text_set item_keys;
  std::vector<span> item_details;
  text_set list_seen;
  std::vector<span> list_details;
  std::string path;
};

// The times of a list's last item.
struct list_times {
  uint64_t modified = 0, accessed = 0, created = 0;
};

}  // namespace

struct text_workspace {
  std::string buffer;
  std::string lowered;
  std::string date, clock;
  std::array<text_level, parse_guard::k_max_depth + 1> levels;
  size_t deepest = 0;  // the deepest level used since the last release
  // Nesting of the list walk through embedded lists and children; records
  // built by hand may nest without end, so the walk stops at the parse
  // guard's depth.
  int depth = 0;

  // What a hostile record grew far past ordinary needs goes back to the heap.
  void release_large() {
    constexpr size_t k_keep = size_t{1} << 20;
    auto drop = [](auto& x, size_t bytes) {
      if (bytes > k_keep) std::remove_reference_t<decltype(x)>().swap(x);
    };
    // Most walks grow nothing that far: the largest is looked at first.
    size_t most = buffer.capacity();
    for (size_t d = 0; d <= deepest; ++d) {
      const text_level& l = levels[d];
      most = std::max({most, l.path.capacity(), l.item_details.capacity() * sizeof(span),
                       l.list_details.capacity() * sizeof(span), l.item_keys.bytes(),
                       l.list_seen.bytes()});
    }
    if (most <= k_keep) {
      deepest = 0;
      return;
    }
    drop(buffer, buffer.capacity());
    for (size_t d = 0; d <= deepest; ++d) {
      text_level& l = levels[d];
      drop(l.path, l.path.capacity());
      drop(l.item_details, l.item_details.capacity() * sizeof(span));
      drop(l.list_details, l.list_details.capacity() * sizeof(span));
      if (l.item_keys.bytes() > k_keep) l.item_keys.release();
      if (l.list_seen.bytes() > k_keep) l.list_seen.release();
    }
    deepest = 0;
  }
};

template <>
void scratch_drop<text_workspace>::operator()(text_workspace* part) const noexcept {
  delete part;
}

namespace {

// The texts' scratch space, kept in the shell scratch.
text_workspace& text_scratch(shell_scratch& scratch) {
  return made_part(scratch.texts);
}

struct text_depth_level {
  int& depth;
  bool ok;
  explicit text_depth_level(text_workspace& ws)
      : depth(ws.depth), ok(++depth <= parse_guard::k_max_depth) {}
  ~text_depth_level() { --depth; }
  text_depth_level(const text_depth_level&) = delete;
  text_depth_level& operator=(const text_depth_level&) = delete;
};

// The buffer's texts from one public call go when it returns.
struct buffer_mark {
  text_workspace& ws;
  size_t size;
  explicit buffer_mark(text_workspace& w) : ws(w), size(w.buffer.size()) {}
  ~buffer_mark() {
    ws.buffer.resize(size);
    if (ws.depth == 0 && size == 0) ws.release_large();
  }
};

std::string_view view_of(const text_workspace& ws, const span& s) {
  return std::string_view(ws.buffer.data() + s.off, s.len);
}

// The hash the walk's text sets index by: eight bytes a step and the last
// few as one word, mixed so that the low bits the sets use depend on every
// byte.
size_t text_hash(const char* p, size_t len) {
  constexpr uint64_t k_mul = 0xFF51AFD7ED558CCDull;
  uint64_t h = 0x9E3779B97F4A7C15ull ^ len;
  const byte_view v(reinterpret_cast<const uint8_t*>(p), len);
  size_t i = 0;
  for (uint64_t w; v.block(i, w); i += 8) {
    h = (h ^ w) * k_mul;
    h ^= h >> 32;
  }
  // The last bytes: the word that ends the text (bytes hashed already
  // shifted out), or for a text under eight bytes two overlapping halves.
  uint64_t tail = 0;
  const size_t left = len - i;
  if (left != 0 && len >= 8) {
    v.block(len - 8, tail);
    tail >>= 8 * (8 - left);
  } else if (left >= 4) {
    uint32_t a = 0, b = 0;
    v.block(0, a);
    v.block(left - 4, b);
    tail = a | (uint64_t{b} << 32);
  } else if (left != 0) {
    tail = static_cast<uint8_t>(p[0]) | (uint64_t{static_cast<uint8_t>(p[left / 2])} << 8) |
           (uint64_t{static_cast<uint8_t>(p[left - 1])} << 16);
  }
  h = (h ^ tail) * k_mul;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<size_t>(h);
}

span make_span(const text_workspace& ws, size_t off, size_t len) {
  return {off, len, text_hash(ws.buffer.data() + off, len)};
}

// The details of one item: each emitted once per key, in the order first met.
struct detail_sink {
  text_workspace& ws;
  text_level& level;

  // Ends the detail written to the buffer from start; its key is its tail
  // from key_at. A detail whose key was met already is taken back.
  void finish(size_t start, size_t key_at) {
    const span detail = make_span(ws, start, ws.buffer.size() - start);
    const span key = key_at == start ? detail : make_span(ws, key_at, ws.buffer.size() - key_at);
    if (level.item_keys.insert(ws.buffer, key))
      level.item_details.push_back(detail);
    else
      ws.buffer.resize(start);
  }
  void emit(std::string_view detail) {
    const size_t start = ws.buffer.size();
    ws.buffer += detail;
    finish(start, start);
  }
  // Starts a detail with "label : " (nothing for an empty label); returns
  // where it starts.
  size_t begin_labelled(std::string_view label) {
    const size_t start = ws.buffer.size();
    if (!label.empty()) ws.buffer.append(label).append(" : ");
    return start;
  }
  // "label : value" (the value alone for an empty label), keyed by value.
  void emit_labelled(std::string_view label, std::string_view value) {
    const size_t start = begin_labelled(label);
    const size_t key_at = ws.buffer.size();
    ws.buffer += value;
    finish(start, key_at);
  }
  // A text already in the buffer, keyed by itself.
  void emit_span(const span& s) {
    if (level.item_keys.insert(ws.buffer, s)) level.item_details.push_back(s);
  }
  // Starts a detail written piecewise; end it with finish(start, start).
  size_t begin() const { return ws.buffer.size(); }
};

// Date, a blank and clock of a valid time by the settings.
void append_date_clock(text_workspace& ws, const time& t, const cmd_params& settings) {
  format_time_by_descriptor(ws.date, ws.clock, t, settings.m_time_settings);
  ws.buffer.append(ws.date).append(1, ' ').append(ws.clock);
}

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
  std::string& out = sink.ws.buffer;
  for (const auto& entry : rec.properties) {
    const property_value& v = entry.second;
    if (v.name.empty() && v.table_flags == 0) {
      if (!is_string_vartype(v.vartype)) continue;
      if (v.text.starts_with("Provider\\M") || v.text.starts_with("Layered\\M") ||
          v.text.starts_with("\\\\"))
        sink.emit_labelled("ID", v.text);
      else if (keep_plain_ids)
        sink.emit(v.text);
      continue;
    }
    switch (v.vartype) {
      case 31:
      case 30:
      case 8:
        if (v.name == "Type" || v.name == "ParsingName") break;
        sink.emit_labelled(v.name, v.text);
        break;
      case 7: {
        const time t = time_from_double(std::bit_cast<double>(v.number), type_time::ole);
        if (!t.valid()) break;
        const size_t start = sink.begin();
        out.append(v.name).append(" : ");
        append_date_clock(sink.ws, t, settings);
        out += " [local]";
        sink.finish(start, start);
        break;
      }
      case 64: {
        filetime_texts t;
        if (!filetime_date_clock(t, v.number, settings.m_time_settings.m_descriptor)) break;
        const size_t start = sink.begin_labelled(v.name);
        t.append_to(out);
        out += " [UTC]";
        sink.finish(start, start);
        fill_record_time(rec, v);
        break;
      }
      case 21:
        if (contains(v.name, "Size") || contains(v.name, "Time") || contains(v.name, "Thumbnail") ||
            (v.table_flags & propflag_unsigned64)) {
          const size_t start = sink.begin_labelled(v.name);
          append_hex_number_text(out, v.number, hex, 16);
          sink.finish(start, start);
        }
        break;
      case 19:
      case 22:
      case 23:
        if (v.table_flags & propflag_sfgao) {
          const size_t start = sink.begin();
          out += "Flags : ";
          append_sfgao_text(out, static_cast<uint32_t>(v.number));
          sink.finish(start, start);
        } else if (contains(v.name, "Time") || contains(v.name, "Attrib")) {
          const size_t start = sink.begin_labelled(v.name);
          append_hex_number_text(out, v.number, hex, 8);
          sink.finish(start, start);
        } else if ((v.table_flags & propflag_value_code) && v.number >= 1 && v.number <= 4) {
          const size_t start = sink.begin_labelled(v.name);
          out += value_code_label(v.number);
          sink.finish(start, start);
        }
        break;
      default:
        break;
    }
  }
}

// Erases every value whose key text equals, contains or is contained in the
// lower-cased name.
void erase_overlapping(property_value_map& values, std::string_view name) {
  for (auto it = values.begin(); it != values.end();) {
    const std::string& key = it->first;
    if (contains(key, name) || contains(name, key))
      it = values.erase(it);
    else
      ++it;
  }
}

void erase_overlapping_name(text_workspace& ws, property_value_map& values,
                            const std::string& name) {
  ws.lowered.assign(name);
  str_to_lower(ws.lowered);
  erase_overlapping(values, ws.lowered);
}

const text_level* list_walk(text_workspace& ws, shell_item_list& items, uint64_t& modified,
                            uint64_t& accessed, uint64_t& created, const cmd_params& settings,
                            std::string* path_into = nullptr);

// Path, times and details of an embedded list as details of the item; the
// trimmed path is returned (a view into the list's level, valid until the
// next list of that depth).
std::string_view embedded_details(shell_item_list& list, detail_sink& sink,
                                  const cmd_params& settings) {
  text_workspace& ws = sink.ws;
  uint64_t modified = 0, accessed = 0, created = 0;
  const text_level* inner = list_walk(ws, list, modified, accessed, created, settings);
  if (!inner || inner->path.empty()) return {};
  const std::string_view path = trimmed(inner->path);
  if (!path.empty()) sink.emit_labelled("Embedded Path", path);
  const std::pair<const char*, uint64_t> times[] = {
      {"Created : ", created}, {"Modified : ", modified}, {"Accessed : ", accessed}};
  for (const auto& [label, ticks] : times) {
    if (ticks == 0) continue;
    if (is_raw_dos_time(ticks)) {
      const size_t start = sink.begin();
      ws.buffer += label;
      append_hex_number_text(ws.buffer, static_cast<uint32_t>(ticks), true, 8);
      sink.finish(start, start);
      continue;
    }
    filetime_texts t;
    if (!filetime_date_clock(t, ticks, settings.m_time_settings.m_descriptor)) continue;
    const size_t start = sink.begin();
    ws.buffer += label;
    t.append_to(ws.buffer);
    ws.buffer += " [UTC]";
    sink.finish(start, start);
  }
  for (const span& d : inner->list_details) {
    const std::string_view whole = view_of(ws, d);
    const std::string_view t = trimmed(whole);
    if (t.empty()) continue;
    sink.emit_span(
        t.size() == whole.size()
            ? d
            : make_span(ws, d.off + static_cast<size_t>(t.data() - whole.data()), t.size()));
  }
  return path;
}

// The text of one item into text (which may be the record's own long_name),
// its details into the level of the current depth.
void item_walk(text_workspace& ws, shell_item_record& rec, std::string& text,
               const cmd_params& settings, bool with_embedded, bool keep_plain_ids) {
  text_level& level = ws.levels[static_cast<size_t>(ws.depth)];
  level.item_keys.clear();
  level.item_details.clear();
  detail_sink sink{ws, level};

  if (!rec.long_name.empty() && !rec.properties.empty())
    erase_overlapping_name(ws, rec.properties, rec.long_name);

  std::string custom_prop;
  if (!rec.properties.empty()) {
    using pos = property_value_map::iterator;
    const pos none = rec.properties.end();
    // Of each kind of name candidate the longest key text, on a tie the first.
    pos primary = none, secondary = none;
    const std::string* parsing = nullptr;
    for (pos it = rec.properties.begin(); it != none; ++it) {
      const property_value& v = it->second;
      if (v.table_bit0) {
        if (primary == none || it->first.size() > primary->first.size()) primary = it;
      } else if (v.table_bit2) {
        if (secondary == none || it->first.size() > secondary->first.size()) secondary = it;
      } else if (v.table_bit1) {
        parsing = &v.text;
      } else if (v.string_named) {
        custom_prop = "CUSTOM_PROP_" + v.name;
      }
    }
    const pos chosen = primary != none ? primary : secondary;
    if (chosen != none) {
      if (rec.long_name.empty()) {
        rec.long_name = chosen->second.text;
        rec.properties.erase(chosen);
      }
    } else if (rec.long_name.empty() && parsing && !parsing->empty()) {
      rec.long_name = *parsing;
      erase_overlapping_name(ws, rec.properties, rec.long_name);
    }
    for (auto it = rec.properties.begin(); it != rec.properties.end();)
      it = it->second.skip_copy ? rec.properties.erase(it) : std::next(it);
  }

  size_t names_from = 0, guid_names_from = 0;
  const std::string* source = &custom_prop;
  if (!rec.long_name.empty()) {
    source = &rec.long_name;
  } else if (!rec.primary_name.empty()) {
    source = &rec.primary_name;
  } else if (!rec.guid_names.empty()) {
    source = &rec.guid_names.front();
    guid_names_from = 1;
  } else if (!rec.names.empty()) {
    source = &rec.names.front();
    names_from = 1;
  }
  if (source != &text) text = *source;

  if (!rec.properties.empty()) value_details(rec, sink, settings, keep_plain_ids);

  if (!text.empty()) {
    if (rec.primary_leads_names && !holds(text, rec.primary_name)) sink.emit(rec.primary_name);
    for (size_t i = names_from; i < rec.names.size(); ++i)
      if (!holds(text, rec.names[i])) sink.emit(rec.names[i]);
    for (size_t i = guid_names_from; i < rec.guid_names.size(); ++i)
      if (!holds(text, rec.guid_names[i])) sink.emit(rec.guid_names[i]);
    if (!rec.localized_name.empty() && !holds(text, rec.localized_name))
      sink.emit(rec.localized_name);
    if (!rec.extra_name.empty() && !holds(text, rec.extra_name)) sink.emit(rec.extra_name);
  }
  for (const std::string& d : rec.date_texts) {
    if (d.empty()) continue;
    const size_t start = ws.buffer.size();
    ws.buffer += d;
    level.item_details.push_back(make_span(ws, start, d.size()));
  }

  std::string_view embedded_path;
  if (with_embedded) {
    for (shell_item_list& list : rec.embedded_lists)
      embedded_path = embedded_details(list, sink, settings);
    if (!rec.children.empty()) embedded_path = embedded_details(rec.children, sink, settings);
  }

  if (text.empty()) {
    if (embedded_path.empty()) {
      if (!rec.guids.empty()) {
        text.reserve(44);
        text = "CLSID_{";
        append_guid_text(text, rec.guids.front());
        text += '}';
      }
    } else {
      const size_t slash = embedded_path.rfind('\\');
      if (slash != std::string_view::npos) text.assign(embedded_path.substr(slash + 1));
    }
  }
}

// A detail of the list when it is new to the list.
void add_list_detail(text_workspace& ws, text_level& level, std::string_view text) {
  const size_t start = ws.buffer.size();
  ws.buffer += text;
  const span d = make_span(ws, start, text.size());
  if (level.list_seen.insert(ws.buffer, d))
    level.list_details.push_back(d);
  else
    ws.buffer.resize(start);
}

// item_walk in list_walk for an item that shows names only, as most do: its
// long name or, lacking one, its only GUID name as text, and the other names
// it does not hold as details. Those go straight to the list's details: the
// item's own distinctness is by the same texts, which the list's covers.
// False, nothing done, for any other item.
bool names_only_item(text_workspace& ws, text_level& level, shell_item_record& rec) {
  if (!rec.properties.empty() || !rec.date_texts.empty() || !rec.embedded_lists.empty() ||
      !rec.children.empty())
    return false;
  const std::string* text = &rec.long_name;
  if (!rec.long_name.empty()) {
    if (!rec.guid_names.empty()) return false;
  } else if (rec.primary_name.empty() && rec.guid_names.size() == 1 &&
             !rec.guid_names.front().empty()) {
    text = &rec.guid_names.front();
  } else {
    return false;
  }
  if (rec.primary_leads_names && !holds(*text, rec.primary_name))
    add_list_detail(ws, level, rec.primary_name);
  for (const std::string& name : rec.names)
    if (!holds(*text, name)) add_list_detail(ws, level, name);
  if (!rec.localized_name.empty() && !holds(*text, rec.localized_name))
    add_list_detail(ws, level, rec.localized_name);
  if (!rec.extra_name.empty() && !holds(*text, rec.extra_name))
    add_list_detail(ws, level, rec.extra_name);
  if (text != &rec.long_name) rec.long_name = *text;
  return true;
}

// Copies a text of at most 16 bytes holding no backslash (most item texts)
// by word moves; false, nothing copied, for any other text.
inline bool copy_short_without_backslash(const char* from, size_t n, char* to) {
  constexpr uint64_t k_ones = 0x0101010101010101ull;
  auto has_backslash = [](uint64_t w) {
    w ^= 0x5C * k_ones;
    return ((w - k_ones) & ~w & (0x80 * k_ones)) != 0;
  };
  const byte_view v(reinterpret_cast<const uint8_t*>(from), n);
  if (n >= 8 && n <= 16) {
    uint64_t head, tail;
    if (!v.block(0, head) || !v.block(n - 8, tail)) return false;
    if (has_backslash(head) || has_backslash(tail)) return false;
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
    return true;
  }
  if (n >= 4 && n < 8) {
    uint32_t head, tail;
    if (!v.block(0, head) || !v.block(n - 4, tail)) return false;
    if (has_backslash(head | (uint64_t{tail} << 32))) return false;
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
    return true;
  }
  if (n < 4) {
    for (size_t i = 0; i < n; ++i)
      if (from[i] == '\\') return false;
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
    return true;
  }
  return false;
}

// The length of the leading "\\\\" run of a network item's text that starts a
// network name (\\server\share); 0 for any other item or text.
size_t network_name_lead(const shell_item_record& item) {
  const std::string& text = item.long_name;
  // text[0] and text[1] are there (a string ends in its NUL), so the first
  // byte, which rules out most texts, is looked at first.
  if (text.empty() || text[0] != '\\' || text.size() < 3 || text[1] != '\\' ||
      !is_network_type_byte(item.item_type))
    return 0;
  const size_t lead = text.find_first_not_of('\\');
  return lead == std::string::npos ? 0 : lead;
}

// Appends to path the texts in order, each followed by a backslash, with
// every run of backslashes, across the joints too, made one; only a network
// name keeps its two leading backslashes, in place of the separator before
// it. The room, the texts' sizes and a separator each, is made once; a text
// with no backslash (most are) is copied whole. What path holds is the same
// list's texts so far, each followed by its backslash.
void append_path(std::string& path, const shell_item_record* items, size_t count, size_t room) {
  const size_t at = path.size();
  path.resize(at + room);
  char* const start = path.data();
  char* to = start + at;
  for (const shell_item_record& item : std::span(items, count)) {
    const std::string& text = item.long_name;
    if (text.empty()) continue;
    const char* from = text.data();
    size_t n = text.size();
    if (const size_t lead = network_name_lead(item)) {
      // Two written for a run of at least two taken: the room holds.
      while (to != start && to[-1] == '\\') --to;
      *to++ = '\\';
      *to++ = '\\';
      from += lead;
      n -= lead;
    }
    if (copy_short_without_backslash(from, n, to)) {
      to += n;
    } else if (n > 16 && !std::memchr(from, '\\', n)) {
      std::memcpy(to, from, n);
      to += n;
    } else {
      for (size_t i = 0; i < n; ++i) {
        if (from[i] == '\\' && to != start && to[-1] == '\\') continue;
        *to++ = from[i];
      }
      if (to[-1] == '\\') continue;
    }
    *to++ = '\\';
  }
  path.resize(static_cast<size_t>(to - start));
}

// A list's texts a run of records at a time: each item's text (as its
// long name) onto the path, its details into the level's distinct ones, and
// the times of the run's last item. The path is begun cleared and ended
// without its trailing backslash.
void list_begin(text_level& level, std::string& path) {
  path.clear();
  level.list_seen.clear();
  level.list_details.clear();
}

void list_add(text_workspace& ws, text_level& level, std::string& path, shell_item_record* items,
              size_t count, list_times& times, const cmd_params& settings) {
  if (count == 0) return;
  size_t room = 0;
  for (shell_item_record& item : std::span(items, count)) {
    if (!names_only_item(ws, level, item)) {
      // The item's text becomes its long name.
      item_walk(ws, item, item.long_name, settings, true, false);
      for (const span& d : level.item_details)
        if (level.list_seen.insert(ws.buffer, d)) level.list_details.push_back(d);
    }
    room += item.long_name.size() + 1;
  }
  append_path(path, items, count, room);
  const shell_item_record& last = items[count - 1];
  times = {last.modified, last.accessed, last.created};
}

void list_end(std::string& path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
}

// The list's path and distinct details into the level of its depth, which
// is returned; null for an empty list or one nested too deep. The path goes
// to path_into instead when it is given (the caller's own string, saving a
// copy).
const text_level* list_walk(text_workspace& ws, shell_item_list& items, uint64_t& modified,
                            uint64_t& accessed, uint64_t& created, const cmd_params& settings,
                            std::string* path_into) {
  text_depth_level depth(ws);
  if (items.empty() || !depth.ok) return nullptr;
  const size_t at = static_cast<size_t>(ws.depth);
  ws.deepest = std::max(ws.deepest, at);
  text_level& level = ws.levels[at];
  std::string& path = path_into ? *path_into : level.path;
  list_begin(level, path);
  list_times times;
  list_add(ws, level, path, items.data(), items.size(), times, settings);
  modified = times.modified;
  accessed = times.accessed;
  created = times.created;
  list_end(path);
  return &level;
}

// "[1] a; [2] b" of the texts, appended: sized once and written in place.
template <class Texts, class View>
void append_numbered(std::string& out, const Texts& texts, View view) {
  if (texts.empty()) return;
  size_t size = 0, n = 0;
  for (const auto& t : texts) {
    ++n;
    const size_t digits = n < 10 ? 1 : n < 100 ? 2 : n < 1000 ? 3 : 20;
    size += view(t).size() + digits + 5;  // "; [", the number, "] ", the text
  }
  const size_t at = out.size();
  out.resize(at + size);
  char* const start = out.data();
  char* to = start + at;
  n = 0;
  for (const auto& t : texts) {
    if (n) {
      *to++ = ';';
      *to++ = ' ';
    }
    *to++ = '[';
    if (++n < 10)
      *to++ = static_cast<char>('0' + n);
    else
      to = put_decimal(to, n);
    *to++ = ']';
    *to++ = ' ';
    const std::string_view text = view(t);
    std::memcpy(to, text.data(), text.size());
    to += text.size();
  }
  out.resize(static_cast<size_t>(to - start));
}

void spans_out(const text_workspace& ws, const std::vector<span>& spans,
               std::vector<std::string>& details, std::string& detail_line, text_rooms& rooms) {
  details.reserve(spans.size());
  for (const span& s : spans) {
    const std::string_view text = view_of(ws, s);
    std::string& d = details.emplace_back();
    // Room of texts dropped before (a record's details give theirs back
    // when it is cleared), rather than a heap block per detail.
    if (text.size() > d.capacity()) rooms.take(d);
    d.assign(text);
  }
  append_numbered(detail_line, spans, [&](const span& s) { return view_of(ws, s); });
}

}  // namespace

idlist_text_builder::idlist_text_builder(std::string& path, std::string& detail_line,
                                         std::vector<std::string>& details, uint64_t& modified,
                                         uint64_t& accessed, uint64_t& created,
                                         const cmd_params& settings, shell_scratch& scratch)
    : m_path(path),
      m_detail_line(detail_line),
      m_details(details),
      m_modified(modified),
      m_accessed(accessed),
      m_created(created),
      m_settings(settings),
      m_scratch(scratch) {
  guarded([&] { m_ws = &text_scratch(scratch); }, [&] { note_out_of_memory(scratch); });
  if (!m_ws) return;
  // The list's level is held until the end: walks nested in the items'
  // parse between runs take the levels below it.
  m_mark = m_ws->buffer.size();
  m_depth_ok = ++m_ws->depth <= parse_guard::k_max_depth;
  if (m_depth_ok) m_ws->deepest = std::max(m_ws->deepest, static_cast<size_t>(m_ws->depth));
}

idlist_text_builder::~idlist_text_builder() {
  leave();
}

void idlist_text_builder::leave() {
  if (!m_ws) return;
  text_workspace& ws = *std::exchange(m_ws, nullptr);
  --ws.depth;
  ws.buffer.resize(m_mark);
  if (ws.depth == 0 && m_mark == 0) ws.release_large();
}

void idlist_text_builder::clear_outputs() {
  m_path.clear();
  m_detail_line.clear();
  m_details.clear();
  m_modified = m_accessed = m_created = 0;
}

void idlist_text_builder::take(shell_item_record* records, size_t count) {
  if (!m_ws || !m_depth_ok || m_failed || count == 0) return;
  text_workspace& ws = *m_ws;
  text_level& level = ws.levels[static_cast<size_t>(ws.depth)];
  guarded(
      [&] {
        if (!m_begun) {
          clear_outputs();
          list_begin(level, m_path);
          m_begun = true;
        }
        list_times times;
        list_add(ws, level, m_path, records, count, times, m_settings);
        m_modified = times.modified;
        m_accessed = times.accessed;
        m_created = times.created;
      },
      [&] {
        note_out_of_memory(m_scratch);
        m_failed = true;
      });
}

bool idlist_text_builder::finish() {
  bool shown = m_ws && m_begun && !m_failed;
  if (shown) {
    const text_workspace& ws = *m_ws;
    const text_level& level = ws.levels[static_cast<size_t>(ws.depth)];
    shown = guarded(
        [&] {
          list_end(m_path);
          spans_out(ws, level.list_details, m_details, m_detail_line, m_scratch.rooms);
          return true;
        },
        [&] { note_out_of_memory(m_scratch); });
  }
  leave();
  if (!shown) clear_outputs();
  return !m_path.empty();
}

bool idlist_text(std::string& path, std::string& detail_line, std::vector<std::string>& details,
                 uint64_t& modified, uint64_t& accessed, uint64_t& created,
                 const cmd_params& settings, shell_scratch& scratch, shell_item_list& items) {
  idlist_text_builder text(path, detail_line, details, modified, accessed, created, settings,
                           scratch);
  text.take(items.data(), items.size());
  return text.finish();
}

void append_time_text(std::string& out, const time& t, const cmd_params& settings,
                      const char* suffix) {
  if (!t.valid()) return;
  const size_t size = out.size();
  guarded(
      [&] {
        std::string date, clock;
        format_time_by_descriptor(date, clock, t, settings.m_time_settings);
        out.append(date).append(1, ' ').append(clock).append(suffix);
      },
      [&] { out.resize(size); });
}

std::string time_text(const time& t, const cmd_params& settings, const char* suffix) {
  std::string out;
  append_time_text(out, t, settings, suffix);
  return out;
}

void append_numbered_detail_line(std::string& out, const std::vector<std::string>& details) {
  const size_t size = out.size();
  guarded(
      [&] {
        append_numbered(out, details, [](const std::string& s) -> std::string_view { return s; });
      },
      [&] { out.resize(size); });
}

std::string numbered_detail_line(const std::vector<std::string>& details) {
  std::string line;
  append_numbered_detail_line(line, details);
  return line;
}

bool shell_item_text(shell_item_record& record, std::string& text, std::string& detail_line,
                     std::vector<std::string>& details, const cmd_params& settings,
                     shell_scratch& scratch, bool with_embedded, bool keep_plain_ids) {
  text.clear();
  detail_line.clear();
  details.clear();
  return guarded(
      [&] {
        text_workspace& ws = text_scratch(scratch);
        buffer_mark mark(ws);
        item_walk(ws, record, text, settings, with_embedded, keep_plain_ids);
        spans_out(ws, ws.levels[static_cast<size_t>(ws.depth)].item_details, details, detail_line,
                  scratch.rooms);
        return !text.empty();
      },
      [&] {
        note_out_of_memory(scratch);
        return !text.empty();
      });
}

bool remove_overlapping_names(property_value_map& values, std::vector<std::string>& names) {
  if (values.empty() || names.empty()) return false;
  for (std::string& name : names) {
    if (values.empty()) break;
    str_to_lower(name);
    // Whether an entry goes depends only on its key and the name, so one
    // pass removes what repeated restarts would (equal keys included).
    erase_overlapping(values, name);
  }
  return true;
}

bool same_bytes_for_test(const char* a, const char* b, size_t n) {
  return same_bytes(a, b, n);
}

bool copy_short_without_backslash_for_test(const char* from, size_t n, char* to) {
  return copy_short_without_backslash(from, n, to);
}

size_t text_hash_for_test(const char* p, size_t len) {
  return text_hash(p, len);
}

bool holds_for_test(std::string_view text, std::string_view name) {
  return holds(text, name);
}

}  // namespace vk
