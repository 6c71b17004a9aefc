#include "jumplist/lnk_carve.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_posix.h"
#include "jumplist/compound_file.h"
#include "jumplist/custom_list.h"
#include "jumplist/destlist.h"
#include "jumplist/jumplist_kernels.h"
#include "jumplist/list_destlist.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/offset_table.h"
#include "jumplist/record_keep.h"
#include "jumplist/record_report.h"
#include "jumplist/report_spill.h"

namespace vk {

namespace {

constexpr uint32_t k_chunk_size = 32768;
// A chunk and the usual link read from a hit inside it fit in one window,
// so a hit that fails costs no read of its own; four chunks, so that the
// window moves on rarely.
constexpr uint32_t k_window_size = 4 * k_chunk_size + lnk_header_size;
constexpr uint64_t k_page = 4096;
constexpr uint32_t k_least_parse = lnk_layout::idlist::first_item + 4;
constexpr uint64_t k_max_embedded_image = 134217728;
constexpr size_t k_min_embedded_image = 4096;
// An embedded image's pages are read in blocks of this size, each once.
constexpr uint64_t k_fill_block = 512;
// The runs of an embedded image are searched for link headers this many
// bytes at a time.
constexpr uint64_t k_hit_search_chunk = uint64_t{1} << 20;
constexpr int32_t k_status_width = 45;

uint64_t align_up(uint64_t x, uint64_t step) {
  return step <= 1 ? x : (x + step - 1) / step * step;
}

// Short reads of a file that follow one another (the links, stream heads
// and small streams of a carved list lie one after another) read ahead,
// twice as far each time up to 64 KiB: read each on its own, a list of
// many links costs several system calls a link. A read out of that order
// starts over, so that reads elsewhere cost no more than their own bytes.
class short_reads {
 public:
  static constexpr uint64_t k_most_ahead = 64 * 1024;
  static constexpr uint64_t k_short = 8 * 1024;
  static constexpr uint64_t k_gap = 4096;  // passed by and still following

  bool read_at(uni::fileio& file, uint8_t* buf, uint64_t& len, uint64_t offset) {
    if (offset >= m_at && offset - m_at <= m_length && len <= m_length - (offset - m_at)) {
      std::memcpy(buf, m_bytes.get() + (offset - m_at), static_cast<size_t>(len));
      m_last = offset;
      m_next = offset + len;
      return true;
    }
    // A link's header is read, then the link from its start: a read from
    // where the last began follows it too.
    const bool follows = offset >= m_last && offset <= m_next + k_gap;
    m_follows = follows ? m_follows + 1 : 0;
    m_ahead = m_follows >= 2 ? std::min(std::max(m_ahead * 2, k_gap), k_most_ahead) : 0;
    m_last = offset;
    m_next = offset + len;
    if (len > k_short || m_ahead <= len) return file.read_at64(buf, len, offset);
    if (!m_bytes) m_bytes = std::make_unique_for_overwrite<uint8_t[]>(k_most_ahead);
    m_at = UINT64_MAX;
    uint64_t got = m_ahead;
    // A read ahead that fails or ends short (the file ended or shrank) is
    // passed by: the bytes asked for are read as they would be alone.
    if (!file.read_at64(m_bytes.get(), got, offset) || got < len)
      return file.read_at64(buf, len, offset);
    m_at = offset;
    m_length = got;
    std::memcpy(buf, m_bytes.get(), static_cast<size_t>(len));
    return true;
  }

 private:
  std::unique_ptr<uint8_t[]> m_bytes;
  uint64_t m_at = UINT64_MAX, m_length = 0;  // the bytes read ahead
  uint64_t m_last = 0, m_next = 0;           // where the last read began and ended
  uint64_t m_follows = 0, m_ahead = 0;
};

// Where the scanner's bytes come from: an open file (descriptor or memory
// mode), or bytes the caller holds.
struct scan_source {
  uni::fileio* file = nullptr;
  const uint8_t* bytes = nullptr;  // in place of the file when set
  uint64_t size = 0;               // the bytes the source holds
  short_reads* shorts = nullptr;   // null: each read from the file itself

  // Copies up to len bytes at offset into buf; len tells how many came.
  bool read_at(uint8_t* buf, uint64_t& len, uint64_t offset) const {
    if (!bytes)
      return shorts ? shorts->read_at(*file, buf, len, offset) : file->read_at64(buf, len, offset);
    if (offset >= size) return false;
    len = std::min(len, size - offset);
    std::memcpy(buf, bytes + offset, static_cast<size_t>(len));
    return true;
  }
};

// A window of the source held in memory; bytes asked for are read only when
// the window does not hold them already. Bytes already in memory are handed
// out where they lie. The window grows to the longest link asked for.
class file_window {
 public:
  file_window(const scan_source& source, uint64_t size) : m_source(source), m_size(size) {}

  // Up to want bytes at offset; got tells how many are there, 0 when the
  // read failed or gave nothing (the file shrank).
  const uint8_t* at(uint64_t offset, uint32_t want, uint32_t& got) {
    got = 0;
    if (offset >= m_size) return nullptr;
    want = static_cast<uint32_t>(std::min<uint64_t>(want, m_size - offset));
    if (m_source.bytes) {
      if (offset >= m_source.size) return nullptr;
      got = static_cast<uint32_t>(std::min<uint64_t>(want, m_source.size - offset));
      return m_source.bytes + offset;
    }
    if (offset < m_start || offset - m_start + want > m_length) {
      // Windows start and end on page bounds, so that the reads that move
      // them on do too.
      const uint64_t start = offset & ~(k_page - 1);
      const uint64_t span =
          align_up(std::max<uint64_t>(want + (offset - start), k_window_size), k_page);
      const uint64_t len64 = std::min<uint64_t>(span, m_size - start);
      // The bytes held from start on are kept, not read again: the scan
      // reads each byte of the file once.
      uint64_t kept = 0;
      if (start >= m_start && start < m_start + m_length)
        kept = std::min<uint64_t>(m_start + m_length - start, len64);
      uint8_t* const from = kept != 0 ? m_bytes + (start - m_start) : nullptr;
      if (kept != 0 && static_cast<uint64_t>(from - m_base) + len64 <= m_room) {
        // The window moves on within the room after it: the bytes it keeps
        // stay where they are, and are moved back to its start only once it
        // has moved on by a window's length (a list nested in another's
        // stream moves it a little at each level).
        m_bytes = from;
      } else if (m_room < len64) {
        // Left uninitialised: every byte handed out is read first. On a
        // page bound, as the file's reads are: a copy into bytes a few past
        // one runs several times slower on some processors. Room for a
        // window's length more, to move on into.
        const uint64_t room = len64 + k_window_size;
        auto grown = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(room + k_page));
        uint8_t* const bytes =
            grown.get() + (k_page - reinterpret_cast<uintptr_t>(grown.get()) % k_page) % k_page;
        if (kept != 0) std::memcpy(bytes, from, static_cast<size_t>(kept));
        m_storage = std::move(grown);
        m_base = m_bytes = bytes;
        m_room = room;
      } else {
        if (kept != 0) std::memmove(m_base, from, static_cast<size_t>(kept));
        m_bytes = m_base;
      }
      uint32_t len = static_cast<uint32_t>(len64 - kept);
      m_length = 0;
      const uint64_t room_left = m_room - static_cast<uint64_t>(m_bytes - m_base) - kept;
      if (len != 0 &&
          (!m_source.file->read_at(m_bytes + kept, len, start + kept) || len > room_left))
        return nullptr;
      m_start = start;
      m_length = kept + len;
      if (offset - m_start >= m_length) return nullptr;
    }
    const uint64_t within = offset - m_start;
    got = static_cast<uint32_t>(std::min<uint64_t>(want, m_length - within));
    return got ? m_bytes + within : nullptr;
  }

 private:
  const scan_source& m_source;
  uint64_t m_size;
  std::unique_ptr<uint8_t[]> m_storage;
  uint8_t* m_base = nullptr;   // m_room bytes in m_storage, from a page bound
  uint8_t* m_bytes = nullptr;  // the window's first byte, a page bound in them
  uint64_t m_room = 0;
  uint64_t m_start = 0;
  uint64_t m_length = 0;
};

// Why a link was handed fewer bytes than it declares.
enum class link_cut : uint8_t { none, end_of_file, size_cap };

void note_cut(lnk_record& record, link_cut cut) {
  if (cut == link_cut::none) return;
  // The structure the parse found running past its data is the cut itself:
  // the link is said once, as cut.
  record.m_faults.keep_if([](const parse_fault& f) {
    return f.cause == nullptr || std::strstr(f.cause, "past the data") == nullptr;
  });
  if (cut == link_cut::end_of_file)
    add_record_fault(record, parse_fault{"link", 0, "declared size runs past the end of the file"});
  else if (cut == link_cut::size_cap)
    add_record_fault(record, parse_fault{"link", 0, "longer than 16 MiB; the rest was not read"});
}

// The bytes of the link at offset a that its parse is handed: the extent
// its sizes declare, at most k_max_link_size and what the file holds,
// whether or not each structure makes sense (the parser says what does
// not). whole tells a link whose walk reached its terminal block. len is 0
// when nothing could be read.
const uint8_t* link_bytes(file_window& window, uint64_t a, uint64_t size, uint32_t& len,
                          link_cut& cut, bool& whole) {
  len = 0;
  cut = link_cut::none;
  whole = false;
  const uint64_t limit = std::min<uint64_t>(size - a, k_max_link_size);
  uint32_t got = 0;
  const uint8_t* data = window.at(a, k_chunk_size, got);
  if (!data) return nullptr;
  // Whether each structure makes sense is the parser's to say.
  lnk_extent e = declared_lnk_extent(byte_view(data, got), k_max_link_size, false);
  // Each pass at least doubles what is read, so the walks cost little more
  // than one.
  while (e.how == lnk_extent::end::open && got < limit) {
    const uint64_t want = std::min<uint64_t>(std::max<uint64_t>(e.size, uint64_t{got} * 2), limit);
    uint32_t more = 0;
    const uint8_t* again = window.at(a, static_cast<uint32_t>(want), more);
    if (!again || more <= got) {
      // The window may have moved for the read that failed: the bytes held
      // are asked for again, never read where they were.
      data = window.at(a, got, more);
      if (!data) return nullptr;
      if (more < got) {
        got = more;
        e = declared_lnk_extent(byte_view(data, got), k_max_link_size, false);
      }
      break;
    }
    data = again;
    got = more;
    e = declared_lnk_extent(byte_view(data, got), k_max_link_size, false);
  }
  switch (e.how) {
    case lnk_extent::end::terminal:
      // The parser looks for the header and the first ID-list fields before
      // anything else, even in a link that declares none.
      len = std::max(static_cast<uint32_t>(e.size), std::min(got, k_least_parse));
      whole = true;
      break;
    case lnk_extent::end::damaged:
      len = std::max(static_cast<uint32_t>(e.size), std::min(got, k_least_parse));
      break;
    case lnk_extent::end::open:
      len = got;
      if (!e.at_boundary) cut = link_cut::end_of_file;
      break;
    case lnk_extent::end::capped:
      // Bytes of a structure reaching past the cap that the parser would not
      // read are not read either.
      if (got < std::min<uint64_t>(limit, e.useful)) {
        uint32_t more = 0;
        const uint8_t* again =
            window.at(a, static_cast<uint32_t>(std::min<uint64_t>(limit, e.useful)), more);
        if (again && more > got) {
          data = again;
          got = more;
        } else {
          data = window.at(a, got, more);  // as above: the window may have moved
          if (!data) return nullptr;
          got = std::min(got, more);
        }
      }
      len = got;
      // A file that ends before the cap cut the link, not the cap.
      cut = limit < k_max_link_size ? link_cut::end_of_file : link_cut::size_cap;
      break;
  }
  return data;
}

// Nodes of emptied record multimaps, kept in the run's scratch for the
// next records: a record is parsed straight into a node, so storing it
// neither moves it nor allocates. The spares keep what their records held
// until they are reset for reuse, never more nodes than k_spare_limit.
constexpr size_t k_spare_limit = 1024;

// The label of a carved link at offset, into out (its room kept).
void assign_carved_label(std::string& out, uint64_t offset, const std::string& fallback) {
  if (offset == 0) {
    if (fallback.empty())
      out.assign("Shortcut LNK (carved)");
    else
      out.assign(fallback);
    return;
  }
  out.assign("Shortcut LNK (carved - ");
  append_hex_number_text(out, offset, true, 8);
  out.push_back(')');
}

}  // namespace

// What the carve road keeps of one file's records until they are reported:
// the records themselves (in the settings' record multimap) while they fit
// in the budget, past it their reports, held in the temporary folder.
class carve_ledger {
 public:
  // Counts a record about to be stored: true when it takes the records
  // held past the budget.
  bool over_budget(const lnk_record& record, const lnk::useropts& options) {
    m_held += stored_record_bytes(record);
    return m_held > options.m_carve_record_budget;
  }
  bool overflow() const { return m_spill != nullptr; }
  void reset() {
    m_held = 0;
    m_spill.reset();
  }
  std::unique_ptr<report_spill> m_spill;

 private:
  size_t m_held = 0;
};

template <>
void scratch_drop<carve_ledger>::operator()(carve_ledger* part) const noexcept {
  delete part;
}

namespace {

// Which record stands for a link that more than one compound file reaches
// at the same offset of the source, decided here alone. A link stream of a
// compound file that parses (its directory names the stream) is that
// list's record: it stands over a header met in another compound file's
// sectors or gaps, which stands only for bytes no parsed list claims; the
// rows of one list that share a stream all stand. Of two link streams:
// a compound file whose header lies in the free sectors of another that
// reads whole (its link streams hold links and its DestList names each)
// is that list's remains, and the whole list stands, its remains' entries
// with it; else the one whose compound file begins nearer before the link
// (met later) stands. Of two headers met in sectors, the first kept. A
// header a compound file looked at, parsed there or not, is never read
// again as the source's contiguous bytes: the scan passes it by.
class link_claims {
 public:
  struct claimant {
    uint64_t image = 0;   // where its compound file begins in the source
    bool stream = false;  // a link stream, else a header met in sectors or gaps
  };
  // Where a kept record is held, so that one standing over it can drop it.
  struct holding {
    std::multimap<int64_t, lnk_record>::iterator record{};
    uint64_t held_at = report_spill::k_none;  // its report held past the budget
    bool stored = false;
    // A header whose record waits (see carve_context::waiting): its place
    // there. UINT32_MAX: none.
    uint32_t waiting = UINT32_MAX;
  };
  // The records a kept one stands over, and whose they were.
  struct displaced {
    claimant who{};
    std::vector<holding> held;
  };

  // A compound file at image, carved from here on: whether it reads whole
  // and where its free sectors lie in the source (sorted spans).
  void enter(uint64_t image, bool whole, std::vector<std::pair<uint64_t, uint64_t>> free) {
    if (whole) m_whole[image] = std::move(free);
  }
  // Whether the compound file at image, whose link streams start at
  // links, is the remains of a whole list: its header lies in that list's
  // free sectors and a stream of that list stands at one of its links. Its
  // rows and notes then give way to the whole list's.
  bool remains(uint64_t image, const std::vector<uint64_t>& links) {
    for (uint64_t link : links) {
      const claim* it = m_claims.find(link);
      if (it && it->who.stream && remains_of(image, it->who.image)) {
        m_remains.push_back(image);
        return true;
      }
    }
    return false;
  }
  // Whether a record of who at offset would stand over the one kept there.
  bool stands(uint64_t offset, const claimant& who) const {
    const claim* it = m_claims.find(offset);
    return !it || joins(who, it->who) || over(who, it->who);
  }
  // Whether the rows of who's entries whose streams give no link stand:
  // not those of a remains.
  bool entries_stand(const claimant& who) const {
    return std::find(m_remains.begin(), m_remains.end(), who.image) == m_remains.end();
  }
  // The record of who kept at offset, held as h: what it displaces (none
  // when nothing was kept there, or only rows of its own list).
  displaced keep(uint64_t offset, const claimant& who, const holding& h) {
    auto [it, added] = m_claims.try_emplace(offset, claim{who, h, nullptr});
    claim& c = *it;
    if (added) return {};
    if (joins(who, c.who)) {
      if (!c.more) c.more = std::make_unique<std::vector<holding>>();
      c.more->push_back(h);
      return {};
    }
    displaced out{c.who, {c.first}};
    if (c.more) out.held.insert(out.held.end(), c.more->begin(), c.more->end());
    c = claim{who, h, nullptr};
    return out;
  }
  // A header met in sectors or gaps at offset, whose record waits as the
  // waiting one at place: it stands as its record would (called only where
  // one would stand), until a link stream takes the offset.
  void hold_waiting(uint64_t offset, const claimant& who, uint32_t place) {
    holding h;
    h.waiting = place;
    m_claims.try_emplace(offset, claim{who, h, nullptr});
  }
  // The waiting header at place gives way to its record, or to none where
  // it gives none (a header met later there then stands, as it would have).
  void let_go_waiting(uint64_t offset, uint32_t place) {
    const claim* it = m_claims.find(offset);
    if (it && it->first.waiting == place && !it->more) m_claims.erase(offset);
  }
  // Every waiting header gives way (memory ran out before they were read).
  void drop_waiting() {
    m_claims.erase_if([](const claim& c) { return c.first.waiting != UINT32_MAX && !c.more; });
  }
  // Each holding kept, for f to change where it is held.
  template <class F>
  void each_holding(F&& f) {
    m_claims.each([&](claim& c) {
      f(c.first);
      if (c.more)
        for (holding& h : *c.more) f(h);
    });
  }
  // Room for count headers more to be looked at, made once: a long list's
  // offsets are not copied again as they come. Never less than doubled, so
  // that many short lists cost no copy each.
  void will_look_at(size_t count) {
    const size_t want = m_looked.size() + count;
    if (want > m_looked.capacity()) m_looked.reserve(std::max(want, 2 * m_looked.capacity()));
  }
  // Room for count claims more (a list's link streams), made once.
  void will_claim(size_t count) { m_claims.will_add(count); }
  // A compound file looked at the header at offset. One an earlier one
  // looked at (a list nested in its stream meets its headers again) is
  // not kept twice.
  void looked_at(uint64_t offset) {
    const auto sorted_end = m_looked.begin() + static_cast<std::ptrdiff_t>(m_looked_sorted);
    if (!std::binary_search(m_looked.begin(), sorted_end, offset)) m_looked.push_back(offset);
  }
  // Whether a link read from the source's contiguous bytes at offset
  // stands: not when a compound file looked at its header.
  bool bytes_stand(uint64_t offset) {
    settle_looked();
    return !std::binary_search(m_looked.begin(), m_looked.end(), offset);
  }
  // Compound files met from here on begin at offset or past it, and reach
  // no link before it; the scan never goes back before it either, and
  // keeping what lies before would make each image cost every image
  // before it.
  void pass(uint64_t offset) {
    m_claims.erase_before(offset);
    settle_looked();
    m_looked.erase(m_looked.begin(), std::lower_bound(m_looked.begin(), m_looked.end(), offset));
    m_looked_sorted = m_looked.size();
    std::erase_if(m_remains, [offset](uint64_t image) { return image < offset; });
    for (auto it = m_whole.begin(); it != m_whole.end();)
      it = it->second.empty() || it->second.back().second <= offset ? m_whole.erase(it)
                                                                    : std::next(it);
  }

 private:
  // The headers looked at since the last call merged into the sorted ones.
  void settle_looked() {
    if (m_looked_sorted == m_looked.size()) return;
    const auto mid = m_looked.begin() + static_cast<std::ptrdiff_t>(m_looked_sorted);
    std::sort(mid, m_looked.end());
    std::inplace_merge(m_looked.begin(), mid, m_looked.end());
    m_looked_sorted = m_looked.size();
  }
  static bool joins(const claimant& x, const claimant& y) {
    return x.stream && y.stream && x.image == y.image;
  }
  // The compound file at x lies in the free sectors of the whole one at y.
  bool remains_of(uint64_t x, uint64_t y) const {
    const auto it = m_whole.find(y);
    if (it == m_whole.end()) return false;
    const auto& free = it->second;
    const auto span = std::upper_bound(free.begin(), free.end(), std::pair(x, UINT64_MAX));
    return span != free.begin() && x < std::prev(span)->second;
  }
  bool over(const claimant& x, const claimant& y) const {
    if (x.stream != y.stream) return x.stream;
    if (!x.stream) return false;
    if (remains_of(x.image, y.image)) return false;
    if (remains_of(y.image, x.image)) return true;
    return x.image > y.image;
  }
  // One record, as a link mostly has; the rows of one list that share its
  // stream past the first apart, so that a claim costs one allocation.
  struct claim {
    claimant who;
    holding first;
    std::unique_ptr<std::vector<holding>> more;
  };
  // A claim let go: a waiting place no header has.
  struct claim_gone {
    static constexpr uint32_t k_gone = UINT32_MAX - 1;
    static bool gone(const claim& c) { return c.first.waiting == k_gone; }
    static void let_go(claim& c) { c.first.waiting = k_gone; }
  };
  offset_table<claim, claim_gone> m_claims;
  // The free sectors of the lists that read whole, by where each begins.
  std::map<uint64_t, std::vector<std::pair<uint64_t, uint64_t>>> m_whole;
  std::vector<uint64_t> m_remains;
  // The headers compound files looked at, sorted up to m_looked_sorted.
  std::vector<uint64_t> m_looked;
  size_t m_looked_sorted = 0;
};

struct embedded_runs;

// Pages lent to the images of compound files carved one after another (a
// list nested in a list's stream is met at every level): each gives its
// pages back with the blocks it read zeroed again, so that the next maps
// and faults in no new pages. Past 4 MiB read into them they are let go:
// what stays resident is bounded.
class page_pool {
 public:
  // Pages for bound bytes of e's image, all zero.
  bool lend(embedded_runs& e, uint64_t bound);
  void give_back(embedded_runs& e);

 private:
  static constexpr uint64_t k_most_read = 4 * 1024 * 1024;
  vk::zeroed_pages m_spare;
  uint64_t m_read = 0;
};

// One carving run: where records go and what is being carved.
struct carve_context {
  std::ostream& out;
  lnk::useropts& options;
  bool carved;
  carve_ledger* ledger = nullptr;  // null: store or report as the settings say
  // The links read at headers, for a custom list's frame; null: not kept.
  std::vector<custom_list_link>* frame_links = nullptr;
  // Where the kept records are reported (with the ledger).
  const carved_record_sink* sink = nullptr;
  // Where the scan starts in the source.
  uint64_t from = 0;
  // The source spans of the stream sectors of the compound files carved so
  // far that the scan has not passed: the headers in a compound file inside
  // one of them (a list inside a list's stream) were searched with it.
  std::vector<std::pair<uint64_t, uint64_t>> carved_streams = {};
  // Which record stands for a link of the embedded compound files.
  link_claims claims = {};
  // Steps the parses of compound files inside others' streams took: each
  // reads its own tables, which cover the ones nested in it.
  uint64_t nested_work = 0;
  bool nested_work_said = false;
  page_pool pages = {};
  // Where the next record kept stands among the records of an equal key: a
  // record that waits takes its place when its header is met, and keeps it.
  uint64_t order = 0;
  // The headers met in a list's sectors and gaps wait, unparsed, until the
  // lists nested in its streams have taken their links: most such headers
  // are those lists' links, else parsed and reported twice, the first to be
  // dropped. They are carved as the scan meets the next compound file not
  // nested so, or ends. Only where records are stored (their order is the
  // report's, not the carve's).
  struct waiting_hit {
    uint64_t link = 0;
    uint64_t order = 0;
    size_t i = 0;
    uint8_t r = 0;
    bool displaced = false;
  };
  bool may_wait = false;
  std::unique_ptr<embedded_runs> waiting = {};
  uint64_t waiting_base = 0;
  std::vector<waiting_hit> waiting_hits = {};
};

// The run a record comes from: 0 and 1 the allocated and gap runs, 2 the
// link streams, 3 the DestList entries whose link streams give no link.
constexpr uint8_t k_stream_run = 2;
constexpr uint8_t k_entry_run = 3;

// Where a parsed record came from, for the ledger.
struct record_origin {
  bool embedded = false;
  uint64_t offset = 0;  // the link's, or the embedded image's
  uint64_t link = 0;    // the embedded link's
  link_claims::claimant claimant;
  uint8_t run = 0;
};

// The record compacted to be held; a record without link data keeps the
// path its DestList entry gives.
void keep_path_compact(lnk_record& record, lnk::useropts& options, bool entry_only) {
  std::string path;
  if (entry_only) path.swap(record.m_destlist_path);
  compact_lnk_record(record, options.m_idlist_times, options.m_scratch.shell());
  if (entry_only) record.m_destlist_path.swap(path);
}

// What the caller of the road is told of a record once it is reported.
carved_report report_facts(const lnk_record& record) {
  carved_report facts;
  facts.offset = record.m_file_offset;
  facts.lnk_size = record.m_lnk_size;
  facts.mru_position = record.m_mru_position;
  facts.faults = !record.m_faults.empty();
  return facts;
}

// The record's report written into the spill under key, with the notes it
// gives; where it is held. The first record's report is written twice: what
// the first writing adds before the second's text is what a report writes
// before its first record (the column titles), written before the first
// text copied out.
uint64_t hold_report(carve_context& c, lnk_record& record, int64_t key) {
  report_spill& spill = *c.ledger->m_spill;
  file_notes said;
  if (spill.held() == 0) {
    c.sink->write(record, spill.first_text(), said);
    spill.end_first();
    said.clear();
    c.sink->write(record, spill.text(), said);
    spill.set_titles();
  } else {
    c.sink->write(record, spill.text(), said);
  }
  return spill.add(key, record.m_carve_order, said, report_facts(record));
}

// Past the budget: the records stored so far go to the spill, in the order
// they were stored (of equal keys, the later reported first), and the
// claims' holdings of them with them.
void hold_reports(carve_context& c) {
  lnk::useropts& options = c.options;
  c.ledger->m_spill =
      std::make_unique<report_spill>(options.m_carve_run_entries, options.m_carve_drops_held);
  std::map<const lnk_record*, uint64_t> held_at;
  c.claims.each_holding([&](link_claims::holding& h) {
    if (h.stored) held_at[&h.record->second] = report_spill::k_none;
  });
  for (auto& [key, record] : options.m_records) {
    const uint64_t at = hold_report(c, record, key);
    if (const auto it = held_at.find(&record); it != held_at.end()) it->second = at;
  }
  c.claims.each_holding([&](link_claims::holding& h) {
    if (!h.stored) return;
    h.held_at = held_at[&h.record->second];
    h.stored = false;
  });
  // Freed, not kept as spares: no record is stored from here on, and the
  // memory the budget bounded is given back.
  options.m_records.clear();
}

// The slot's record stored under key (with its node), reported at once
// without the store-records flag, or dropped: a stored record that nothing
// names the target of would not be reported anyway.
void keep_record(carve_context& c, record_slot& slot, lnk_record& record, int64_t key,
                 const record_origin& origin, uint64_t waited_order = UINT64_MAX) {
  lnk::useropts& options = c.options;
  if (!options.m_store_records) {
    report_record(c.out, record, options);
    return;
  }
  // A file that begins with a link is that link: it is reported whatever
  // it holds, its header at least.
  const bool link_file = !c.carved && !origin.embedded && origin.offset == 0;
  const bool entry_only = origin.embedded && origin.run == k_entry_run;
  if (!link_file && !entry_only && carved_record_is_empty(record)) {
    // Memory that ran out may be what left it naming nothing.
    if (record.m_faults.out_of_memory() && c.ledger)
      options.m_notes.add_out_of_memory("link", record.m_file_offset);
    return;
  }
  keep_path_compact(record, options, entry_only);
  const bool waited = waited_order != UINT64_MAX;
  record.m_carve_order = waited ? waited_order : c.order++;
  link_claims::holding held;
  if (c.ledger && (c.ledger->overflow() || c.ledger->over_budget(record, options))) {
    if (!c.ledger->overflow()) hold_reports(c);
    held.held_at = hold_report(c, record, key);
  } else {
    held.record =
        waited ? slot.store_in_order(options.m_records, key) : slot.store(options.m_records, key);
    held.stored = true;
  }
  if (!origin.embedded || entry_only) return;
  const link_claims::displaced displaced = c.claims.keep(origin.link, origin.claimant, held);
  if (displaced.held.empty()) return;
  for (const link_claims::holding& d : displaced.held) {
    if (d.waiting != UINT32_MAX) {
      if (d.waiting < c.waiting_hits.size()) c.waiting_hits[d.waiting].displaced = true;
    } else if (d.stored)
      return_spare_node(options.m_records.extract(d.record), options.m_scratch);
    else if (c.ledger && c.ledger->overflow())
      c.ledger->m_spill->drop(d.held_at);
  }
  // The earlier list's link that lay here is lost: its stream holds the
  // later list's.
  if (displaced.who.stream)
    options.m_notes.add(
        "link stream of the compound file at " + hex_number_text(displaced.who.image, true, 0),
        origin.link,
        "holds the link of the compound file at " +
            hex_number_text(origin.claimant.image, true, 0) + ", reported with it");
}

// An embedded compound file: its parse, its link streams (read through the
// directory, so that a stream whose sectors or mini sectors are scattered
// is read whole), the runs of its allocated sectors and gaps and the LNK
// pattern hits in them that no link stream starts at. image: where its
// bytes lie: in the source's own bytes when it holds them, else in pages
// into which only what the parse and the link streams read is read (a list
// inside a large stream costs its own bytes, not the stream's).
struct embedded_runs;

// A stream laid out by pieces in an image, read through a window of its
// bytes from the image's source.
class destlist_window {
 public:
  destlist_window(embedded_runs& e, std::vector<cfb_run_piece> pieces, uint64_t length)
      : m_e(e), m_pieces(std::move(pieces)), m_length(length) {}
  // count bytes from offset (within the stream), with as many after them
  // as the window holds; null when the source cannot give them.
  const uint8_t* read(size_t offset, size_t count);
  // A read of it failed.
  bool failed() const { return m_failed; }
  static constexpr uint64_t k_destlist_window = 1 << 20;

 private:
  embedded_runs& m_e;
  std::vector<cfb_run_piece> m_pieces;
  uint64_t m_length;
  std::vector<uint8_t, unfilled_allocator<uint8_t>> m_bytes;
  uint64_t m_at = 0;
  bool m_failed = false;
};

// A list's DestList read through a window, walked once and its entries
// read again there one by one as their records are made.
struct destlist_again {
  destlist_again(embedded_runs& e, std::vector<cfb_run_piece> pieces, uint64_t length)
      : window(e, std::move(pieces), length),
        read([this](size_t offset, size_t count) { return window.read(offset, count); }) {}
  destlist_again(const destlist_again&) = delete;
  destlist_again& operator=(const destlist_again&) = delete;
  destlist_window window;
  destlist_read read;
  fault_sink faults;
  destlist_walker walker{faults};
};

struct embedded_runs {
  const uint8_t* image = nullptr;
  size_t size = 0;
  // Where the image's bytes come from, and its first byte's offset there.
  scan_source source;
  uint64_t at = 0;
  vk::zeroed_pages pages;
  uint64_t pages_bound = 0;     // the image bytes the pages may hold
  bool pages_lent = false;      // they came from the carve's page pool
  std::vector<uint8_t> filled;  // a mark per k_fill_block block of pages read
  uint64_t filled_front = 0;    // the image's first bytes, all read
  uint64_t filled_bytes = 0;    // read into the pages, in all
  // Read into them since they were last let go, and the most at once; past
  // pages_held they are let go before the next stream is read in.
  uint64_t resident_bytes = 0, resident_peak = 0;
  uint64_t pages_held = UINT64_MAX;
  bool let_go = false;  // some bytes read in were let go: read again as needed
  // A read of its bytes from the source failed or came back short (the
  // file shrank): what lay there was not carved.
  bool read_failed = false;
  // Only its link streams are carved: its sectors were searched with a
  // compound file holding it.
  bool streams_only = false;
  compound_file_reader reader;
  // Of the link streams, in key order (sorted, none twice): views of the
  // reader's keys, which stay where they are until the next parse.
  std::vector<std::string_view> stream_names;
  std::vector<uint64_t> stream_firsts;  // their first bytes in the image
  std::vector<uint64_t> stream_starts;  // the same, sorted
  // The list's rows as reading it as a file gives them, each at its place
  // from 1: each DestList entry in order, then each link stream that no
  // entry names. A row of an entry whose stream gives no link is a record
  // without link data.
  struct list_row {
    uint32_t stream = UINT32_MAX;  // in stream_names; UINT32_MAX: no link
    int32_t place = 0;             // in the DestList from 1; 0: no entry
    // Without a link: where its stream starts in the image (UINT64_MAX:
    // nowhere); without an entry: the stream's number (UINT64_MAX: its
    // name is no number).
    uint64_t value = UINT64_MAX;
  };
  std::vector<list_row> rows;
  // The entries of the rows with a place (row.place - 1 that of a row), as
  // long as its records take to be made: what a record takes of each, its
  // host name kept once for a run of entries that repeat it, its path only
  // where no link gives the record one. A long list's entries are its
  // largest part.
  // Its droids as its object's, then places in volumes: a list's entries
  // mostly share one volume, and an object's birth droid is mostly its own.
  struct row_entry {
    guid object{};
    uint64_t entry_num = 0;
    uint64_t mru_time = 0;
    uint64_t checksum = 0;
    uint32_t access_count = 0;
    uint32_t host = 0;                      // in hosts
    uint32_t path = UINT32_MAX;             // in paths; UINT32_MAX: none
    uint32_t volume = 0, birth_volume = 0;  // in volumes
    uint32_t birth_object = UINT32_MAX;     // in volumes; UINT32_MAX: object
    uint8_t has_access_count = 0;
  };
  std::vector<row_entry> row_entries;
  // Grown a block at a time, never copied whole: their count is not known
  // before the walk, and a doubling would hold twice them at once.
  std::deque<std::string> hosts;
  std::deque<std::string> paths;
  std::deque<guid> volumes;
  // Of a list whose image lies in pages, the entries are not kept: each is
  // read again from its DestList as its record is made, where the walk
  // found it (entry_at, by place).
  std::unique_ptr<destlist_again> again;
  std::vector<uint64_t> entry_at;
  // Entry i of the rows as the DestList gave it, its path only with_path.
  // Memory that runs out reading it again throws, as a copy of it would.
  void entry_of(size_t i, destlist_entry& out, bool with_path) {
    if (again) {
      if (!again->walker.load_at(static_cast<size_t>(entry_at[i]), out, with_path)) {
        // A read that fails is said with the image; the entry gives nothing.
        if (!again->window.failed()) throw std::bad_alloc();
        clear_destlist_entry(out);
      }
      return;
    }
    const row_entry& r = row_entries[i];
    out.m_droids = {volumes[r.volume], r.object, volumes[r.birth_volume],
                    r.birth_object == UINT32_MAX ? r.object : volumes[r.birth_object]};
    out.m_entry_num = r.entry_num;
    out.m_mru_time = r.mru_time;
    out.m_checksum = r.checksum;
    out.m_access_count = r.access_count;
    out.m_has_access_count = r.has_access_count;
    out.m_netbios_name = hosts[r.host];
    if (r.path == UINT32_MAX || !with_path)
      out.m_path.clear();
    else
      out.m_path = paths[r.path];
  }
  // Keeps an entry as a row's.
  void keep_entry(destlist_entry& entry) {
    row_entry r;
    // A droid as the last kept, or kept anew.
    const auto place_of = [&](const guid& droid) {
      if (volumes.empty() || !(volumes.back() == droid)) volumes.push_back(droid);
      return static_cast<uint32_t>(volumes.size() - 1);
    };
    r.object = entry.m_droids[1];
    r.volume = place_of(entry.m_droids[0]);
    r.birth_volume = place_of(entry.m_droids[2]);
    if (!(entry.m_droids[3] == r.object)) r.birth_object = place_of(entry.m_droids[3]);
    r.entry_num = entry.m_entry_num;
    r.mru_time = entry.m_mru_time;
    r.checksum = entry.m_checksum;
    r.access_count = entry.m_access_count;
    r.has_access_count = entry.m_has_access_count;
    if (hosts.empty() || hosts.back() != entry.m_netbios_name)
      hosts.push_back(std::move(entry.m_netbios_name));
    r.host = static_cast<uint32_t>(hosts.size() - 1);
    if (!entry.m_path.empty()) {
      r.path = static_cast<uint32_t>(paths.size());
      paths.push_back(std::move(entry.m_path));
    }
    row_entries.push_back(r);
  }
  void clear_entries() {
    again.reset();
    entry_at.clear();
    row_entries.clear();
    hosts.clear();
    paths.clear();
    volumes.clear();
  }
  // Its link streams hold links and its DestList names each of them.
  bool whole = false;
  // The rows are its link streams alone: its DestList could not be read.
  bool bare_rows = false;
  // Where the runs of allocated sectors and of the gaps lie in the image:
  // their bytes are read there, not copied.
  std::vector<cfb_run_piece> pieces[2];
  std::vector<uint64_t> hits[2];
  uint64_t run_sizes[2] = {0, 0};
  std::vector<uint8_t> scratch;
  // A run's link that spans pieces; growing it writes nothing, as every
  // byte is read or zeroed where it is filled.
  std::vector<uint8_t, unfilled_allocator<uint8_t>> gathered;
};

// Zeroes the blocks of e's pages read in, so that they hold no byte of it.
void zero_filled(embedded_runs& e) {
  const uint8_t* const marks = e.filled.data();
  const size_t blocks = e.filled.size();
  for (size_t b = 0; b < blocks;) {
    const void* next = std::memchr(marks + b, 1, blocks - b);
    if (!next) break;
    b = static_cast<size_t>(static_cast<const uint8_t*>(next) - marks);
    const uint64_t a = b * k_fill_block;
    std::memset(e.pages.data() + a, 0,
                static_cast<size_t>(std::min(k_fill_block, e.pages_bound - a)));
    ++b;
  }
}

// Whether the pages hold every byte of pieces already.
bool pieces_filled(const embedded_runs& e, const std::vector<cfb_run_piece>& pieces) {
  for (const cfb_run_piece& piece : pieces) {
    if (piece.m_file_offset == cfb_zero_piece || piece.m_file_offset >= e.size) continue;
    const uint64_t end = std::min<uint64_t>(e.size, piece.m_file_offset + piece.m_length);
    const size_t from = static_cast<size_t>(piece.m_file_offset / k_fill_block);
    const size_t to = static_cast<size_t>((end + k_fill_block - 1) / k_fill_block);
    if (std::memchr(e.filled.data() + from, 0, to - from)) return false;
  }
  return true;
}

// Past its budget, what an image's pages hold is let go before the next
// stream (pieces) is read in: a list of any size holds a bounded share of
// its bytes at once. Not where the stream's bytes are all held (streams
// that share sectors are not read again for each other), nor once three
// times the image has been read in (what is read again stays bounded).
// Called only where no view of the pages is held.
void make_room(embedded_runs& e, const std::vector<cfb_run_piece>& pieces) {
  if (!e.pages.data() || e.resident_bytes <= e.pages_held || e.filled_bytes > 3 * e.size ||
      pieces_filled(e, pieces))
    return;
  if (!e.pages.forget()) zero_filled(e);
  std::fill(e.filled.begin(), e.filled.end(), uint8_t{0});
  e.filled_front = 0;
  e.resident_bytes = 0;
  e.let_go = true;
}

void page_pool::give_back(embedded_runs& e) {
  if (!e.pages.data()) return;
  const uint64_t read = (e.pages_lent ? m_read : 0) + e.filled_bytes;
  if (read > k_most_read || e.pages.size() < m_spare.size()) {
    if (e.pages_lent) m_read = 0;  // let go with the image
    return;
  }
  zero_filled(e);
  m_spare.swap(e.pages);
  m_read = read;
}

bool page_pool::lend(embedded_runs& e, uint64_t bound) {
  e.pages_bound = bound;
  e.pages_lent = m_spare.size() >= bound;
  if (e.pages_lent) {
    e.pages.swap(m_spare);
    return true;
  }
  return e.pages.allocate(static_cast<size_t>(bound));
}

// Gives an image's pages back to the pool once it is done with them.
struct page_loan {
  page_pool& pool;
  embedded_runs& e;
  ~page_loan() { pool.give_back(e); }
};

size_t hit_count(const embedded_runs& e, int r) {
  return r == k_stream_run || r == k_entry_run ? e.rows.size() : e.hits[r].size();
}

// A row of the list that gives its stream's link.
bool row_has_link(const embedded_runs& e, size_t i) {
  return e.rows[i].stream != UINT32_MAX;
}

// Reads the image bytes [from, from + len) into its pages where they were
// not read yet, in whole blocks; false when the source gives fewer. Nothing
// to read when the image lies in the source's own bytes.
bool fill_image(embedded_runs& e, uint64_t from, uint64_t len) {
  if (!e.pages.data() || from >= e.size) return true;
  const uint64_t end = len > e.size - from ? e.size : from + len;
  // A whole image is asked for again and again (for each stream whose
  // pieces cannot be told): once it is read, that costs nothing.
  if (end <= e.filled_front) return true;
  const uint8_t* const marks = e.filled.data();
  uint64_t b = from / k_fill_block;
  const uint64_t last = (end + k_fill_block - 1) / k_fill_block;
  while (b < last) {
    const void* gap = std::memchr(marks + b, 0, static_cast<size_t>(last - b));
    if (!gap) break;
    b = static_cast<uint64_t>(static_cast<const uint8_t*>(gap) - marks);
    const void* next = std::memchr(marks + b, 1, static_cast<size_t>(last - b));
    const uint64_t stop =
        next ? static_cast<uint64_t>(static_cast<const uint8_t*>(next) - marks) : last;
    const uint64_t a = b * k_fill_block;
    const uint64_t z = std::min<uint64_t>(stop * k_fill_block, e.pages_bound);
    uint64_t got = z - a;
    if (!e.source.read_at(e.pages.data() + a, got, e.at + a) || got != z - a) {
      // What a failed read left there is no byte of the file.
      std::memset(e.pages.data() + a, 0, static_cast<size_t>(z - a));
      e.read_failed = true;
      return false;
    }
    std::fill(e.filled.begin() + static_cast<std::ptrdiff_t>(b),
              e.filled.begin() + static_cast<std::ptrdiff_t>(stop), uint8_t{1});
    e.filled_bytes += z - a;
    e.resident_bytes += z - a;
    e.resident_peak = std::max(e.resident_peak, e.resident_bytes);
    b = stop;
  }
  if (from == 0) e.filled_front = std::max(e.filled_front, end);
  return true;
}

// Reads the image bytes of pieces into its pages, as fill_image.
bool fill_pieces(embedded_runs& e, const std::vector<cfb_run_piece>& pieces) {
  for (const cfb_run_piece& piece : pieces)
    if (piece.m_file_offset != cfb_zero_piece &&
        !fill_image(e, piece.m_file_offset, piece.m_length))
      return false;
  return true;
}

// A stream's pieces read into the pages, room made first.
bool fill_stream(embedded_runs& e, const std::vector<cfb_run_piece>& pieces) {
  make_room(e, pieces);
  return fill_pieces(e, pieces);
}

// Copies the bytes at run offsets [from, to) of a run laid out by pieces
// (pieces of cfb_zero_piece read as zeros) from the image at offset of the
// source into out; the bytes read, or UINT64_MAX when the source gives
// fewer.
uint64_t copy_pieces(const scan_source& source, uint64_t offset, const cfb_run_piece* pieces,
                     const cfb_run_piece* pieces_end, uint64_t from, uint64_t to,
                     std::vector<uint8_t, unfilled_allocator<uint8_t>>& out) {
  // Bytes no piece reads are zeroed, and no others: what is read is not
  // written twice.
  out.resize(static_cast<size_t>(to - from));
  uint64_t zeroed_to = from;  // every byte below it is zeroed or read
  const auto zero_to = [&](uint64_t end) {
    if (end > zeroed_to) std::memset(out.data() + (zeroed_to - from), 0, end - zeroed_to);
    zeroed_to = std::max(zeroed_to, end);
  };
  const cfb_run_piece* it =
      std::upper_bound(pieces, pieces_end, from,
                       [](uint64_t at, const cfb_run_piece& p) { return at < p.m_run_offset; });
  if (it != pieces) --it;
  uint64_t read = 0;
  for (; it != pieces_end && it->m_run_offset < to; ++it) {
    const uint64_t a = std::max(from, it->m_run_offset);
    const uint64_t b = std::min(to, it->m_run_offset + it->m_length);
    if (a >= b) continue;
    if (it->m_file_offset == cfb_zero_piece) {
      zero_to(b);
      continue;
    }
    zero_to(a);
    uint64_t len = b - a;
    const uint64_t want = len;
    if (!source.read_at(out.data() + (a - from), len,
                        offset + it->m_file_offset + (a - it->m_run_offset)) ||
        len != want)
      return UINT64_MAX;
    zeroed_to = std::max(zeroed_to, b);
    read += len;
  }
  zero_to(to);
  return read;
}

// The pattern hits of run r (run offsets, ascending), searched a chunk at a
// time as the run's pieces come from the source, the last bytes of each
// chunk searched again with the next so that a header across two is met.
void find_run_hits(embedded_runs& e, int r) {
  const std::vector<uint8_t>& pattern = lnk_header_pattern();
  const size_t overlap = pattern.size() - 1;
  const std::vector<cfb_run_piece>& pieces = e.pieces[r];
  e.run_sizes[r] = pieces.empty() ? 0 : pieces.back().m_run_offset + pieces.back().m_length;
  if (e.run_sizes[r] == 0) return;
  std::vector<uint64_t> found;
  std::vector<uint8_t> buffer(
      static_cast<size_t>(std::min(e.run_sizes[r], k_hit_search_chunk) + overlap));
  size_t carry = 0;  // bytes kept from the last chunk
  for (const cfb_run_piece& piece : pieces) {
    for (uint64_t done = 0; done < piece.m_length;) {
      const uint64_t n = std::min(piece.m_length - done, k_hit_search_chunk);
      uint64_t got = n;
      if (piece.m_file_offset == cfb_zero_piece)
        std::memset(buffer.data() + carry, 0, static_cast<size_t>(n));
      else if (!e.source.read_at(buffer.data() + carry, got, e.at + piece.m_file_offset + done) ||
               got != n) {
        e.read_failed = true;
        return;
      }
      const uint64_t base = piece.m_run_offset + done - carry;
      find_pattern_vector_offsets(buffer.data(), static_cast<uint32_t>(carry + n), pattern, found,
                                  base, false);
      e.hits[r].insert(e.hits[r].end(), found.begin(), found.end());
      const size_t keep = static_cast<size_t>(std::min<uint64_t>(overlap, carry + n));
      std::memmove(buffer.data(), buffer.data() + carry + n - keep, keep);
      carry = keep;
      done += n;
    }
  }
}

// Reads of a compound file's bytes at offsets from its header, up to
// bound, for the walk that finds its reach and then for the parse's table
// sectors. A read that follows the one before reads ahead, twice as far
// each time up to 64 KiB: a long FAT costs a few reads, where one per
// sector cost more than the rest of the parse; a false header's scattered
// sectors are read as they are asked for. What was read is kept (up to
// k_kept bytes), so the parse reads no table sector the walk read already.
class sector_reads {
 public:
  // near: the first bytes, already in memory; kept: the most bytes kept.
  sector_reads(const scan_source& source, uint64_t base, uint64_t bound, byte_view near = {},
               uint64_t kept = k_kept)
      : m_source(source), m_base(base), m_bound(bound), m_near(near), m_most_kept(kept) {}

  // Up to count bytes at offset at into into; how many came.
  size_t read(uint64_t at, uint8_t* into, size_t count) {
    if (at < m_near.size() && count <= m_near.size() - at) {
      std::memcpy(into, m_near.data() + at, count);
      return count;
    }
    if (at > m_bound) return 0;
    // Mostly in the block the last read was in.
    if (m_last == m_blocks.end() || !holds(m_last, at, count)) {
      m_last = m_blocks.upper_bound(at);
      if (m_last != m_blocks.begin()) --m_last;
    }
    if (m_last != m_blocks.end() && holds(m_last, at, count)) {
      std::memcpy(into, m_last->second.data() + (at - m_last->first), count);
      m_next = at + count;
      return count;
    }
    if (covers(m_passing_at, m_passing.size(), at, count)) {
      std::memcpy(into, m_passing.data() + (at - m_passing_at), count);
      m_next = at + count;
      return count;
    }
    const bool follows = at == m_next;
    m_next = at + count;
    m_step = follows ? std::min<uint64_t>(std::max<uint64_t>(m_step * 2, count), k_most) : 0;
    const uint64_t want = std::max<uint64_t>(std::min<uint64_t>(m_step, m_bound - at), count);
    // Left unfilled: the read writes the bytes kept (those past what it
    // gives are cut off).
    block bytes(static_cast<size_t>(want));
    uint64_t len = want;
    bool read = m_source.read_at(bytes.data(), len, m_base + at) && len <= want;
    if (want > count && !(read && len >= count)) {
      // A read ahead that fails (a bad block past the bytes asked for)
      // leaves them to be read alone.
      bytes.resize(count);
      len = count;
      read = m_source.read_at(bytes.data(), len, m_base + at) && len <= count;
    }
    if (!read) {
      m_failed = true;
      return 0;
    }
    bytes.resize(static_cast<size_t>(len));
    const size_t got = static_cast<size_t>(std::min<uint64_t>(len, count));
    std::memcpy(into, bytes.data(), got);
    if (m_kept + len <= m_most_kept) {
      m_kept += len;
      m_last = m_blocks.insert_or_assign(at, std::move(bytes)).first;
    } else {
      // Past what is kept, the last read alone is held, for the reads that
      // follow it: a read ahead is never read again for each sector.
      m_passing_at = at;
      m_passing = std::move(bytes);
    }
    return got;
  }
  // A read failed (not one that came short where the file ends).
  bool failed() const { return m_failed; }
  // The most bytes read kept for a parse.
  static constexpr uint64_t k_kept = 2 * 1024 * 1024;

 private:
  static constexpr uint64_t k_most = 64 * 1024;
  const scan_source& m_source;
  uint64_t m_base, m_bound;
  byte_view m_near;
  uint64_t m_most_kept;
  using block = std::vector<uint8_t, unfilled_allocator<uint8_t>>;
  using blocks = std::map<uint64_t, block>;
  // Whether size bytes from start hold the count bytes at at.
  static bool covers(uint64_t start, size_t size, uint64_t at, size_t count) {
    return at >= start && at - start < size && count <= size - (at - start);
  }
  static bool holds(blocks::const_iterator block, uint64_t at, size_t count) {
    return covers(block->first, block->second.size(), at, count);
  }
  blocks m_blocks;
  blocks::const_iterator m_last = m_blocks.end();
  block m_passing;  // the last read not kept
  uint64_t m_passing_at = 0;
  uint64_t m_kept = 0, m_next = UINT64_MAX, m_step = 0;
  bool m_failed = false;
};

// Parses the image. Into pages, its tables are read through reads (the
// ones the walk for its reach made, when given) as the parse comes to each
// sector, not into the pages: every chain is followed whole in the one
// parse, which uses none but the file's own bytes and so parses as it would
// with the whole image.
bool parse_embedded(embedded_runs& e, sector_reads* reads) {
  e.reader = compound_file_reader();
  if (!e.pages.data()) return parse_compound_image(&e.reader, e.image, e.size, false);
  if (!fill_image(e, 0, cfb_header_size)) return false;
  std::optional<sector_reads> own;
  if (!reads) reads = &own.emplace(e.source, e.at, e.size);
  // A table sector that cannot be read fails the parse; it goes on over
  // zeros, as over pages not read.
  bool filled = true;
  const compound_file_reader::table_reader read = [&](uint64_t at, uint8_t* into, size_t count) {
    if (!filled || reads->read(at, into, count) != count) {
      if (filled) e.read_failed = true;
      filled = false;
      std::memset(into, 0, count);
    }
  };
  e.reader.m_read_table = &read;
  const bool parsed = parse_compound_image(&e.reader, e.image, e.size, false);
  e.reader.m_read_table = nullptr;
  return filled && parsed;
}

// The first bytes of a stream laid out by pieces, read from the source:
// enough to tell a link header.
bool stream_starts_link(embedded_runs& e, const std::vector<cfb_run_piece>& pieces,
                        uint64_t length) {
  const uint64_t head = std::min<uint64_t>(length, lnk_header_size);
  return copy_pieces(e.source, e.at, pieces.data(), pieces.data() + pieces.size(), 0, head,
                     e.gathered) != UINT64_MAX &&
         is_lnk_header(e.gathered.data(), e.gathered.size());
}

bool load_embedded_runs(embedded_runs& e, sector_reads* reads = nullptr) {
  e.stream_names.clear();
  e.stream_firsts.clear();
  e.stream_starts.clear();
  for (int r = 0; r < 2; ++r) {
    e.pieces[r].clear();
    e.hits[r].clear();
  }
  // Carving uses no free-space result. A parse memory cut short is said by
  // the caller, not taken for a file that is none.
  const bool parsed = parse_embedded(e, reads);
  if (e.reader.m_faults.out_of_memory()) throw std::bad_alloc();
  if (!parsed) return false;
  // Where its sectors and gaps lie is needed only to search them.
  bool out_of_memory = false;
  if (!e.streams_only && !stream_sector_ranges(e.reader, nullptr, nullptr, e.image, e.size,
                                               e.pieces[0], e.pieces[1], &out_of_memory)) {
    if (out_of_memory) throw std::bad_alloc();
    return false;
  }
  std::vector<cfb_run_piece> pieces;
  // The streams of the mini stream are small: the mini stream is read into
  // the pages whole, a run at a time, not a stream at a time, unless it is
  // more than they may hold.
  bool mini_read = false;
  if (e.pages.data() &&
      std::any_of(e.reader.m_entries.begin(), e.reader.m_entries.end(), [](const auto& item) {
        return item.second.m_mini && item.second.object_type() == 2;
      })) {
    const cfb_dir_entry* root = find_cfb_entry(e.reader, "root entry");
    uint64_t length = 0, first = 0;
    mini_read = root && entry_stream_pieces(e.reader, *root, e.size, pieces, length, first) &&
                length <= e.pages_held;
    // The mini stream's chain, walked for that, is as long as the list: its
    // room is not kept for the short chains walked after it.
    std::vector<uint64_t>().swap(e.reader.m_chain_scratch);
    if (mini_read && !fill_pieces(e, pieces)) return false;
  }
  e.stream_names.reserve(e.reader.m_entries.size());
  e.stream_firsts.reserve(e.reader.m_entries.size());
  for (const auto& [key, entry] : e.reader.m_entries) {
    if (entry.object_type() != 2) continue;
    if (e.pages.data() && !(entry.m_mini && mini_read)) {
      // Only a link stream's bytes are read into the pages; where the
      // stream's pieces cannot be told, the whole image is. A regular
      // stream whose first sector holds no link header is none: the chain
      // of a large one (a list nested in it) is not walked for it.
      const uint64_t S = e.reader.m_sector_size;
      const uint64_t start = entry.start_sector();
      // A link header read here is the stream's head: it is not read again.
      bool head_read = false;
      if (!entry.m_mini && S >= lnk_header_size && entry.stream_size() >= lnk_header_size &&
          start < e.reader.m_sector_count && (start + 2) * S <= e.size) {
        uint8_t head[lnk_header_size];
        uint64_t got = sizeof head;
        if (e.source.read_at(head, got, e.at + (start + 1) * S) && got == sizeof head) {
          if (!is_lnk_header(head, sizeof head)) continue;
          head_read = true;
        }
      }
      uint64_t length = 0, first = 0;
      if (!entry_stream_pieces(e.reader, entry, e.size, pieces, length, first)) {
        if (!fill_image(e, 0, e.size)) return false;
      } else if (!head_read && !stream_starts_link(e, pieces, length)) {
        continue;
      } else if (!fill_stream(e, pieces)) {
        return false;
      }
    }
    byte_view stream;
    uint32_t dir_entry = 0;
    uint64_t first = 0;
    if (stream_bytes(e.reader, key, e.image, e.size, e.scratch, stream, dir_entry, first,
                     e.reader.m_faults) &&
        is_lnk_header(stream.data(), stream.size()) &&
        (e.stream_names.empty() || e.stream_names.back() != key)) {
      e.stream_names.push_back(key);
      e.stream_firsts.push_back(first);
    }
  }
  e.stream_starts = e.stream_firsts;
  std::sort(e.stream_starts.begin(), e.stream_starts.end());
  if (!e.streams_only)
    for (int r = 0; r < 2; ++r) find_run_hits(e, r);
  return true;
}

// Why the link stream named gave no link, or null when it starts with a
// link header: the words reading the list as a file uses.
// first: where the stream starts in the image, where it has sectors.
const char* link_stream_loss(embedded_runs& e, std::string_view name,
                             std::vector<cfb_run_piece>& pieces, uint64_t& first) {
  first = UINT64_MAX;
  const cfb_dir_entry* dir = find_cfb_entry(e.reader, name);
  if (!dir || dir->object_type() == 0) return "missing";
  if (dir->stream_size() == 0) return "empty";
  uint64_t length = 0;
  if (!entry_stream_pieces(e.reader, *dir, e.size, pieces, length, first))
    return "not in the file (its sectors are missing)";
  if (length < lnk_header_size) return "too short for a link header";
  return stream_starts_link(e, pieces, length) ? nullptr : "no link header";
}

const uint8_t* destlist_window::read(size_t offset, size_t count) {
  if (offset >= m_at && offset - m_at <= m_bytes.size() &&
      count <= m_bytes.size() - (offset - m_at))
    return m_bytes.data() + (offset - m_at);
  const uint64_t to =
      std::min<uint64_t>(m_length, offset + std::max<uint64_t>(count, k_destlist_window));
  m_bytes.clear();
  m_at = offset;
  if (copy_pieces(m_e.source, m_e.at, m_pieces.data(), m_pieces.data() + m_pieces.size(), offset,
                  to, m_bytes) == UINT64_MAX) {
    m_bytes.clear();
    m_e.read_failed = m_failed = true;
    return nullptr;
  }
  return m_bytes.data();
}

// Whether the source gives every byte of a stream laid out by pieces (a
// window at a time); marks the image's read failed where not.
bool pieces_readable(embedded_runs& e, const std::vector<cfb_run_piece>& pieces, uint64_t length) {
  destlist_window window(e, pieces, length);
  for (uint64_t at = 0; at < length; at += destlist_window::k_destlist_window)
    if (!window.read(static_cast<size_t>(at), 1)) return false;
  return true;
}

// How many of a stream's first bytes lie in the image: up to its first
// piece that does not.
uint64_t present_of(const std::vector<cfb_run_piece>& pieces, uint64_t length) {
  for (const cfb_run_piece& piece : pieces)
    if (piece.m_file_offset == cfb_zero_piece) return piece.m_run_offset;
  return length;
}

// The rows of an embedded list (its compound file at offset o of the
// source), read through the DestList reading of a list read as a file: the
// same rows, and with say the same notes, each saying where the list lies.
void read_list_entries(lnk::useropts& options, embedded_runs& e, uint64_t o, bool say = true) {
  e.rows.clear();
  e.clear_entries();
  e.whole = false;
  file_notes quiet;
  file_notes& notes = say ? options.m_notes : quiet;
  const std::string where = " (compound file at offset " + hex_number_text(o, true, 0) + ")";
  // Chains that meet are said as for the file; what lies past the image is
  // no cut here (the image ends where its structures are seen to end).
  if (say && !e.streams_only) note_chains(e.reader, e.size, notes, where, false, o);
  std::vector<cfb_run_piece> pieces, destlist_pieces;
  const cfb_dir_entry* list = find_cfb_entry(e.reader, "destlist");
  uint64_t length = 0, first = 0;
  // Whatever its entry's type, the DestList walk reads the bytes its chain
  // names. Into an image held in pages they are read a window at a time,
  // straight from the source, so that a long list's never lie in memory
  // whole; each is read once before the walk, so that one the source
  // cannot give leaves the list unread, as where they are read in first.
  const bool laid =
      list && entry_stream_pieces(e.reader, *list, e.size, destlist_pieces, length, first);
  const bool windowed = laid && e.pages.data();
  if (laid &&
      !(windowed ? pieces_readable(e, destlist_pieces, length) : fill_stream(e, destlist_pieces)))
    return;
  if (windowed) e.again = std::make_unique<destlist_again>(e, destlist_pieces, length);
  fault_sink walk_faults, read_faults;
  std::vector<uint64_t> numbers;
  // Through the window, what the walk says is held until it ends: a read
  // that fails on the way (the source changed since it was read whole)
  // leaves the list unread, said by the caller alone, as above.
  file_notes held_notes;
  file_notes& walk_notes = windowed ? held_notes : notes;
  list_destlist dl(e.reader, byte_view(e.image, e.size), walk_notes, walk_faults, numbers, where);
  const destlist_open opened = windowed ? dl.open(e.again->read, static_cast<size_t>(length),
                                                  present_of(destlist_pieces, length))
                                        : dl.open(e.scratch, read_faults);
  if (opened == destlist_open::out_of_memory || walk_faults.out_of_memory()) throw std::bad_alloc();
  // Room for the entries its header counts, where its bytes can hold as
  // many: a long list's entries are not copied again as they come, and a
  // count its bytes contradict takes no room.
  const uint64_t room = dl.walker.header_count();
  if (room <= dl.walker.size() / destlist_min_entry_size(dl.walker.version())) {
    if (windowed)
      e.entry_at.reserve(static_cast<size_t>(room));
    else
      e.row_entries.reserve(static_cast<size_t>(room));
    e.rows.reserve(static_cast<size_t>(room));
  }
  // A link stream read, by name: its place in stream_names.
  const auto find_stream = [&](std::string_view stream) {
    const auto at = std::lower_bound(e.stream_names.begin(), e.stream_names.end(), stream);
    return at != e.stream_names.end() && *at == stream
               ? static_cast<uint32_t>(at - e.stream_names.begin())
               : UINT32_MAX;
  };
  std::vector<uint8_t> named(e.stream_names.size(), 0);
  destlist_entry entry;
  while (dl.next(entry, true)) {
    dl.named(entry);
    char name[16];
    const std::string_view stream = hex_name(entry.m_entry_num, name);
    embedded_runs::list_row row;
    row.place = static_cast<int32_t>(dl.walker.count());
    row.stream = find_stream(stream);
    if (row.stream != UINT32_MAX) {
      named[row.stream] = 1;
      // A record with its link shows the link's target, not this path.
      std::string().swap(entry.m_path);
    } else {
      const char* why = link_stream_loss(e, stream, pieces, row.value);
      dl.note_lost(dl.walker.count(), dl.walker.offset(), stream, why ? why : "unreadable");
    }
    e.rows.push_back(row);
    if (windowed)
      e.entry_at.push_back(dl.walker.offset());
    else
      e.keep_entry(entry);
  }
  if (walk_faults.out_of_memory()) throw std::bad_alloc();
  const std::vector<uint64_t> unnamed = dl.finish(entry);
  // Every link stream no entry names is a row after them, as for the file;
  // those the file road would not take (not named by a number) too.
  uint64_t reported = 0;
  const auto add_unnamed = [&](uint32_t stream, uint64_t number) {
    named[stream] = 1;
    embedded_runs::list_row row;
    row.stream = stream;
    row.value = number;
    e.rows.push_back(row);
  };
  // Each stream no entry names is one row more: room for them all at once.
  e.rows.reserve(e.rows.size() +
                 static_cast<size_t>(std::count(named.begin(), named.end(), uint8_t{0})));
  for (uint64_t number : unnamed) {
    char name[16];
    const uint32_t stream = find_stream(hex_name(number, name));
    if (stream == UINT32_MAX || named[stream]) continue;
    add_unnamed(stream, number);
    ++reported;
  }
  for (uint32_t i = 0; i < named.size(); ++i)
    if (!named[i]) add_unnamed(i, UINT64_MAX);
  // A compound file with no link stream and no DestList is no list.
  if (opened != destlist_open::missing || !e.stream_names.empty())
    dl.note_gaps(reported, unnamed.size());
  e.whole = dl.walked && dl.why.empty() && dl.lost_links == 0 && !e.rows.empty() &&
            std::all_of(e.rows.begin(), e.rows.end(),
                        [](const embedded_runs::list_row& r) { return r.place > 0; });
  if (!windowed) return;
  // Read again as the walk read it: the same bytes, as far as they go.
  if (dl.walked) e.again->walker.start_as(dl.walker);
  if (e.again->window.failed()) {
    e.rows.clear();
    e.clear_entries();
    e.whole = false;
    return;
  }
  std::string packed;
  held_notes.pack(packed);
  notes.add_packed(packed);
}

// The rows of an embedded list whose DestList could not be read (memory
// ran out): each link stream a row of its own, after no entry, with its
// number where its name is one, so that its links are still reported.
void link_stream_rows(embedded_runs& e) {
  e.rows.clear();
  e.clear_entries();
  e.whole = false;
  e.rows.reserve(e.stream_names.size());
  for (uint32_t i = 0; i < e.stream_names.size(); ++i) {
    embedded_runs::list_row row;
    row.stream = i;
    uint64_t number = 0;
    if (link_stream_number(e.stream_names[i], number)) row.value = number;
    e.rows.push_back(row);
  }
}

// The rows of an embedded list: read_list_entries, or, when memory runs
// out reading its DestList, link_stream_rows, said once (e.bare_rows:
// those rows).
// False when not even those could be made.
bool list_rows(lnk::useropts& options, embedded_runs& e, uint64_t o, bool say) {
  if (!e.bare_rows && guarded([&] {
        read_list_entries(options, e, o, say);
        return true;
      }))
    return true;
  const bool made = guarded([&] {
    link_stream_rows(e);
    return true;
  });
  if (say && !guarded([&] {
        options.m_notes.add("DestList", 0,
                            std::string(made ? "not read: out of memory; its link streams "
                                               "reported without DestList data"
                                             : "not read: out of memory; its links not reported") +
                                " (compound file at offset " + hex_number_text(o, true, 0) + ")",
                            "DestList");
        return true;
      }))
    options.m_notes.add_out_of_memory("compound file", o);
  e.bare_rows = true;
  return made;
}

// The image offset of hit i of run r (of a row with a link, where its
// stream starts).
uint64_t hit_offset(const embedded_runs& e, int r, size_t i) {
  return r == k_stream_run ? e.stream_firsts[e.rows[i].stream]
                           : run_to_image_offset(e.pieces[r], e.hits[r][i]);
}

// A hit of a run that starts a link stream: read as that stream.
bool starts_stream(const embedded_runs& e, int r, size_t i) {
  return r != k_stream_run &&
         std::binary_search(e.stream_starts.begin(), e.stream_starts.end(), hit_offset(e, r, i));
}

// The labels of a record of run r of an embedded image.
void label_embedded(lnk_record& record, int r, bool image_flag) {
  record.m_source_name.assign("LNK");
  record.m_source_type.assign(r == 1       ? "VESKLIST (carved slack)"
                              : image_flag ? "VESKLIST (carved image)"
                                           : "VESKLIST (carved allocated)");
  record.m_source_alt_label.assign(r == 1 ? "VESKLIST (slack)" : "VESKLIST");
}

// A link stream's bytes read into the pages again, where they may have
// been let go since the load; false when the source gives fewer.
bool refill_stream(embedded_runs& e, std::string_view name) {
  const cfb_dir_entry* entry = find_cfb_entry(e.reader, name);
  std::vector<cfb_run_piece> pieces;
  uint64_t length = 0, first = 0;
  if (!entry || !entry_stream_pieces(e.reader, *entry, e.size, pieces, length, first)) {
    // Where its pieces cannot be told, the whole image is read, once.
    if (!fill_image(e, 0, e.size)) return false;
    e.let_go = false;
    return true;
  }
  return fill_stream(e, pieces);
}

// The bytes of hit i of run r that its link is read from: a link of a run
// runs to the next hit or to the end of the run, a link stream to its end.
// first: the image offset of the first byte.
bool embedded_hit_bytes(embedded_runs& e, int r, size_t i, byte_view& bytes, uint64_t& first) {
  if (r == k_stream_run) {
    const std::string_view name = e.stream_names[e.rows[i].stream];
    if (e.let_go && !refill_stream(e, name)) return false;
    uint32_t dir_entry = 0;
    return stream_bytes(e.reader, name, e.image, e.size, e.scratch, bytes, dir_entry, first,
                        e.reader.m_faults);
  }
  const std::vector<uint64_t>& hits = e.hits[r];
  const uint64_t from = hits[i];
  // A link is handed 16 MiB at most, as anywhere else it is carved.
  const uint64_t end =
      std::min(i + 1 < hits.size() ? hits[i + 1] : e.run_sizes[r], from + k_max_link_size);
  first = run_to_image_offset(e.pieces[r], from);
  const cfb_run_piece* pieces = e.pieces[r].data();
  const cfb_run_piece* pieces_end = pieces + e.pieces[r].size();
  // Its header first: the bytes after it are read only for a header a link
  // could have.
  const uint64_t head = std::min<uint64_t>(end - from, lnk_header_size);
  if (copy_pieces(e.source, e.at, pieces, pieces_end, from, from + head, e.gathered) ==
          UINT64_MAX ||
      (head < end - from && could_be_link_header(byte_view(e.gathered.data(), e.gathered.size())) &&
       copy_pieces(e.source, e.at, pieces, pieces_end, from, end, e.gathered) == UINT64_MAX)) {
    e.read_failed = true;
    return false;
  }
  bytes = byte_view(e.gathered.data(), e.gathered.size());
  return true;
}

// The link in bytes (whose first byte lies at image offset first) parsed
// into record, labelled by its run.
bool parse_embedded_bytes(int r, byte_view bytes, uint64_t first, bool image_flag,
                          lnk_record& record, lnk::useropts& options, bool carved,
                          uint64_t base_offset) {
  label_embedded(record, r, image_flag);
  record.m_file_offset = base_offset + first;
  return parse_lnk(record, bytes.data(), bytes.size(), options, options.m_scratch.link, carved,
                   base_offset + first);
}

// Row i of an embedded image at base_offset whose stream gives no link as
// its record: its DestList cells and path, no link data.
void lost_entry_record(embedded_runs& e, size_t i, lnk_record& record, uint64_t base_offset) {
  label_embedded(record, k_entry_run, false);
  const embedded_runs::list_row& row = e.rows[i];
  record.m_file_offset = row.value == UINT64_MAX ? 0 : base_offset + row.value;
  destlist_entry entry;
  e.entry_of(static_cast<size_t>(row.place - 1), entry, true);
  take_destlist_entry(record, entry, row.place);
  record.m_destlist_path = std::move(entry.m_path);
}

// A link stream's record takes the DestList cells of the entry of its row;
// true, for the parse's result.
bool take_stream_entry(embedded_runs& e, int r, size_t i, lnk_record& record) {
  if (r != k_stream_run) return true;
  const embedded_runs::list_row& row = e.rows[i];
  if (row.place > 0) {
    destlist_entry entry;
    e.entry_of(static_cast<size_t>(row.place - 1), entry, false);
    take_destlist_entry(record, entry, row.place);
  } else if (row.value != UINT64_MAX) {
    // A stream no entry names has its place after the entries and its
    // number, as reading the list as a file shows them; one whose name is
    // no number has neither.
    record.m_mru_position = static_cast<int32_t>(i + 1);
    record.m_entry_num = row.value;
  }
  return true;
}

// Hit i of run r parsed into record. A link stream is read whatever its
// header holds; a header met elsewhere in the image (inside a stream, in
// its padding or free sectors) is a carving candidate like any other, so
// one no link could have is passed by.
bool parse_embedded_hit(embedded_runs& e, int r, size_t i, bool image_flag, lnk_record& record,
                        lnk::useropts& options, bool carved, uint64_t base_offset) {
  byte_view bytes;
  uint64_t first = 0;
  if (!embedded_hit_bytes(e, r, i, bytes, first) ||
      (r != k_stream_run && !could_be_link_header(bytes))) {
    label_embedded(record, r, image_flag);
    return false;
  }
  return parse_embedded_bytes(r, bytes, first, image_flag, record, options, carved, base_offset) &&
         take_stream_entry(e, r, i, record);
}

// Carves the links of a loaded image; see process_embedded_jumplist.
bool embedded_body(carve_context& c, embedded_runs& e, bool image_flag, bool progress,
                   uint64_t base_offset) {
  bool found = false;
  record_slot slot(c.options.m_scratch);
  const size_t total = e.rows.size() + e.hits[0].size() + e.hits[1].size();
  c.claims.will_look_at(total);
  c.claims.will_claim(e.rows.size());
  size_t done = 0;
  for (const uint8_t r : {k_stream_run, uint8_t{0}, uint8_t{1}}) {
    // The headers in its sectors and gaps wait where a link stream's record
    // already says it was carved (so that waiting leaves that unchanged).
    const bool wait = r != k_stream_run && found && c.may_wait && !image_flag &&
                      c.options.m_store_records && !c.waiting;
    for (size_t i = 0; i < hit_count(e, r); ++i, ++done) {
      if (progress)
        status_printf_width(k_status_width, "percent done: %d",
                            static_cast<int>(done * 100 / total));
      if (r == k_stream_run && !row_has_link(e, i)) continue;
      const uint64_t at = base_offset + hit_offset(e, r, i);
      c.claims.looked_at(at);
      if (starts_stream(e, r, i)) continue;
      const link_claims::claimant who{base_offset, r == k_stream_run};
      if (c.options.m_store_records && !c.claims.stands(at, who)) continue;
      if (wait) {
        // Room first, then its claim: the hit is never kept without one.
        std::vector<carve_context::waiting_hit>& hits = c.waiting_hits;
        if (hits.size() == hits.capacity()) hits.reserve(std::max<size_t>(64, 2 * hits.size()));
        c.waiting_base = base_offset;
        c.claims.hold_waiting(at, who, static_cast<uint32_t>(hits.size()));
        hits.push_back({at, c.order++, i, r, false});
        continue;
      }
      lnk_record& record = slot.next();
      if (parse_embedded_hit(e, r, i, image_flag, record, c.options, c.carved, base_offset)) {
        record_origin origin;
        origin.embedded = true;
        origin.offset = base_offset;
        origin.run = r;
        origin.link = at;
        origin.claimant = who;
        keep_record(c, slot, record, static_cast<int64_t>(record.m_header.m_write_time), origin);
        found = true;
      } else if (record.m_faults.out_of_memory()) {
        // The scan passes its header by: the link is lost, and said.
        c.options.m_notes.add_out_of_memory("link", at);
      }
    }
  }
  // An entry whose link is lost is a record still, as reading the list as
  // a file keeps it; no other record reaches its bytes.
  const link_claims::claimant list{base_offset, true};
  for (size_t i = 0; i < e.rows.size(); ++i) {
    if (row_has_link(e, i) || (c.options.m_store_records && !c.claims.entries_stand(list)))
      continue;
    lnk_record& record = slot.next();
    lost_entry_record(e, i, record, base_offset);
    record_origin origin;
    origin.offset = base_offset;
    origin.embedded = true;
    origin.run = k_entry_run;
    keep_record(c, slot, record, 0, origin);
    found = true;
  }
  return found;
}

// What headers that wait need of an image: its runs and their hits. The
// rest is let go while the lists nested in it are carved.
void keep_for_waiting(embedded_runs& e) {
  e.stream_names.clear();
  e.reader = compound_file_reader{};
  std::vector<uint64_t>().swap(e.stream_firsts);
  std::vector<uint64_t>().swap(e.stream_starts);
  std::vector<embedded_runs::list_row>().swap(e.rows);
  std::vector<embedded_runs::row_entry>().swap(e.row_entries);
  e.clear_entries();
  std::vector<uint64_t>().swap(e.entry_at);
  std::vector<uint8_t>().swap(e.scratch);
}

// Memory ran out before the headers that wait were read: they are let go,
// and said, as when it runs out while a list is carved.
void drop_waiting(carve_context& c) {
  c.claims.drop_waiting();
  c.options.m_notes.add("compound file", c.waiting_base,
                        "out of memory while carving it: not every link of it reported, those it "
                        "did not reach carved from its bytes as they lie, without DestList data");
  c.waiting_hits.clear();
  c.waiting.reset();
}

// Keeps e as the image whose headers wait, its bytes copied where they lie
// in the scan's window: the window moves on, and may be let go, before
// they are read. What waits is let go where memory runs out.
void adopt_waiting(carve_context& c, std::unique_ptr<embedded_runs>& e, const scan_source& source) {
  const bool kept = guarded([&] {
    keep_for_waiting(*e);
    if (!source.bytes && e->source.bytes) {
      e->scratch.assign(e->source.bytes, e->source.bytes + e->source.size);
      e->source.bytes = e->scratch.data();
      e->image = nullptr;
    }
    c.waiting = std::move(e);
    return true;
  });
  if (!kept) drop_waiting(c);
}

// Carves the headers that wait (see carve_context::waiting) that no link
// stream took, each in the place it was met at.
void carve_waiting(carve_context& c) {
  if (c.waiting_hits.empty()) {
    c.waiting.reset();
    return;
  }
  if (!c.waiting) {
    drop_waiting(c);
    return;
  }
  embedded_runs& e = *c.waiting;
  const uint64_t base = c.waiting_base;
  const bool failed_before = e.read_failed;
  const bool carved = guarded([&] {
    record_slot slot(c.options.m_scratch);
    for (size_t k = 0; k < c.waiting_hits.size(); ++k) {
      const carve_context::waiting_hit h = c.waiting_hits[k];
      if (h.displaced) continue;
      c.claims.let_go_waiting(h.link, static_cast<uint32_t>(k));
      lnk_record& record = slot.next();
      if (parse_embedded_hit(e, h.r, h.i, false, record, c.options, c.carved, base)) {
        record_origin origin;
        origin.embedded = true;
        origin.offset = base;
        origin.run = h.r;
        origin.link = h.link;
        origin.claimant = {base, false};
        keep_record(c, slot, record, static_cast<int64_t>(record.m_header.m_write_time), origin,
                    h.order);
      } else if (record.m_faults.out_of_memory()) {
        c.options.m_notes.add_out_of_memory("link", h.link);
      }
    }
    return true;
  });
  if (e.read_failed && !failed_before)
    c.options.m_notes.add("compound file", base,
                          "its bytes could not all be read (a read failed or the file "
                          "shrank); the links there not carved from it");
  if (!carved) {
    drop_waiting(c);
    return;
  }
  c.waiting_hits.clear();
  c.waiting.reset();
}

// The compound file starting at offset o of the source loaded into e: its
// image as far as its structures and regular streams reach within what its
// FAT can address (bound: at most 128 MiB), or, when the parse of that
// finds something leading further, as far as the bound. Only the sectors
// the chains pass through are read to find that reach, so a false header
// costs a few sectors at most. False when it cannot be one. With the
// scan's window, the bytes it holds from o on are read there (the scan
// reads them next anyway), and an image they hold whole lies there.
bool load_embedded_image(const scan_source& source, uint64_t o, uint64_t file_size,
                         const uint8_t* header, embedded_runs& e, file_window* window = nullptr,
                         page_pool* pool = nullptr) {
  const uint64_t declared = cfb_max_image_size(header);
  if (declared < k_min_embedded_image || declared > k_max_embedded_image) return false;
  const uint64_t bound = std::min(declared, file_size - o);
  byte_view near;
  // The header is kept apart: the window it lies in may move, or fail to,
  // on the read below.
  uint8_t head[cfb_header_size];
  std::memcpy(head, header, cfb_header_size);
  header = head;
  if (window && !source.bytes) {
    uint32_t got = 0;
    const uint8_t* p = window->at(
        o, static_cast<uint32_t>(std::min<uint64_t>(bound, k_window_size - k_page)), got);
    if (p && got >= cfb_header_size) near = byte_view(p, got);
  }
  sector_reads reads(source, o, bound, near, std::min(e.pages_held, sector_reads::k_kept));
  const cfb_reach reach = embedded_cfb_reach(
      header, bound,
      [&](uint64_t at, uint8_t* into, size_t count) { return reads.read(at, into, count); });
  // A walk memory cut short says nothing of the file: the caller says it.
  if (reach.out_of_memory) throw std::bad_alloc();
  // A sector the walk could not read leaves the list unread: the caller
  // says it.
  e.read_failed = reads.failed();
  // The image is never shorter than the least one taken for a compound
  // file, unless the source ends after all it reaches.
  // An image none of whose streams starts in it has nothing to carve: it
  // is not read beyond the chains just walked.
  if (reach.reach == 0 || !reach.streams || (bound < k_min_embedded_image && bound < reach.reach))
    return false;
  uint64_t size = std::min(bound, std::max<uint64_t>(reach.reach, k_min_embedded_image));
  const auto in_pages = [&] {
    e.source = source;
    e.at = o;
    if (!(pool ? pool->lend(e, bound)
               : (e.pages_bound = bound, e.pages.allocate(static_cast<size_t>(bound)))))
      throw std::bad_alloc();
    e.filled.assign(static_cast<size_t>((bound + k_fill_block - 1) / k_fill_block), 0);
    e.filled_front = 0;
    e.filled_bytes = e.resident_bytes = e.resident_peak = 0;
    e.let_go = false;
    e.image = e.pages.data();
  };
  uint64_t held = bound;
  const bool in_window = !source.bytes && near.size() >= size;
  if (source.bytes) {
    // Bytes the source holds are read where they lie.
    if (o >= source.size) return false;
    held = std::min(bound, source.size - o);
    e.source = source;
    e.at = o;
    e.image = source.bytes + o;
  } else if (in_window) {
    e.source = scan_source{nullptr, near.data(), near.size()};
    e.at = 0;
    e.image = near.data();
    held = std::min<uint64_t>(bound, near.size());
  } else {
    in_pages();
  }
  e.size = static_cast<size_t>(std::min(size, held));
  const uint64_t longest = in_window ? bound : held;
  // A stream's chain the walk saw lead past this image would leave its
  // parse cut: the longer image is parsed at once.
  if (e.size >= longest || e.size > reach.links_past) {
    const bool loaded = load_embedded_runs(e, &reads);
    if (e.size >= longest || !cfb_image_cut(e.reader)) return loaded;
  }
  if (held < bound && in_window) {
    in_pages();
    held = bound;
  }
  e.size = static_cast<size_t>(held);
  return load_embedded_runs(e, &reads);
}

// A compound file starting at offset o of the scanned source: read it
// and carve it. read tells how many bytes it took.
bool scan_embedded(carve_context& c, const scan_source& source, uint64_t o, uint64_t file_size,
                   const uint8_t* header, uint64_t& read, bool streams_only, file_window& window) {
  read = 0;
  c.claims.pass(o);
  // Whether its carving came to an end (memory may run out on the way),
  // and whether it came to carving its links.
  bool ended = false, body_done = false;
  const bool carved_image = guarded([&] {
    auto e = std::make_unique<embedded_runs>();
    const page_loan loan{c.pages, *e};
    e->streams_only = streams_only;
    e->pages_held = c.options.m_carve_pages_held;
    const bool loaded = load_embedded_image(source, o, file_size, header, *e, &window, &c.pages);
    uint64_t& most = c.options.m_scratch.most_embedded_image_bytes;
    most = std::max(most, e->resident_peak);
    const auto say_read_failed = [&] {
      if (e->read_failed)
        c.options.m_notes.add("compound file", o,
                              "its bytes could not all be read (a read failed or the file "
                              "shrank); the links there not carved from it");
    };
    if (!loaded) {
      say_read_failed();
      ended = true;
      return false;
    }
    std::vector<uint64_t> links(e->stream_firsts);
    for (uint64_t& link : links) link += o;
    const bool remains = c.claims.remains(o, links);
    // Its entries are not the links its streams now reach: they are left
    // to the whole list, and said once.
    if (remains)
      c.options.m_notes.add("compound file", o,
                            "lies in the free sectors of a list whose link streams its own name: "
                            "the remains of an earlier list, its rows left to that list");
    list_rows(c.options, *e, o, !remains);
    read = e->size;
    if (streams_only) c.nested_work += e->reader.m_work;
    std::vector<std::pair<uint64_t, uint64_t>> free;
    if (e->whole && !remains) {
      // A list carved for its streams alone (inside another's stream) has
      // not told where its gaps lie: a stale header in them is met there
      // too.
      std::vector<cfb_run_piece> used, gaps;
      const std::vector<cfb_run_piece>& pieces =
          streams_only &&
                  stream_sector_ranges(e->reader, nullptr, nullptr, e->image, e->size, used, gaps)
              ? gaps
              : e->pieces[1];
      for (const cfb_run_piece& piece : pieces)
        if (piece.m_file_offset != cfb_zero_piece)
          free.emplace_back(o + piece.m_file_offset, o + piece.m_file_offset + piece.m_length);
    }
    std::sort(free.begin(), free.end());
    c.claims.enter(o, e->whole, std::move(free));
    bool whole_body = false;
    const bool found = guarded([&] {
      const bool any = embedded_body(c, *e, false, c.options.m_status_messages != 0, o);
      whole_body = true;
      return any;
    });
    body_done = true;
    most = std::max(most, e->resident_peak);
    // Its own headers wait (memory that ran out after them leaves them
    // without it: they are let go and said when they are read).
    const bool waits = !c.waiting_hits.empty() && !c.waiting && c.waiting_base == o;
    // The headers it looked at are passed by the scan: what it did not
    // carve of them is lost; the scan reads the rest as bytes, which know
    // no DestList. Both said.
    if (!whole_body)
      c.options.m_notes.add("compound file", o,
                            "out of memory while carving it: not every link of it reported, "
                            "those it did not reach carved from its bytes as they lie, without "
                            "DestList data");
    say_read_failed();
    // A compound file met later inside its streams' sectors is one of its
    // streams, its headers searched with it.
    if (found && !streams_only)
      for (const cfb_run_piece& piece : e->pieces[0])
        c.carved_streams.emplace_back(o + piece.m_file_offset,
                                      o + piece.m_file_offset + piece.m_length);
    if (waits) adopt_waiting(c, e, source);
    ended = true;
    return found;
  });
  // Its pages are given back (their marks tell what to zero first); what
  // waits holds none.
  if (c.waiting && c.waiting->pages.data()) {
    vk::zeroed_pages none;
    c.waiting->pages.swap(none);
    std::vector<uint8_t>().swap(c.waiting->filled);
  }
  // Before its links were carved: the scan reads them where they lie.
  if (!ended && !body_done)
    c.options.m_notes.add("compound file", o,
                          "not read: out of memory; its links carved from its bytes as they lie, "
                          "without DestList data");
  return carved_image;
}

constexpr uint8_t k_cfb_signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// A first byte met this soon after the last is taken for bytes of every
// value, and the stretch after it searched by pairs.
constexpr size_t k_dense_first_bytes = 256;
constexpr size_t k_pair_stretch = 4096;

bool cfb_signature_at(const uint8_t* p) {
  return p[0] == k_cfb_signature[0] && std::memcmp(p, k_cfb_signature, sizeof k_cfb_signature) == 0;
}

// The first offset at which the compound-file signature begins whole in
// the buffer, at any byte.
[[gnu::always_inline]] inline bool find_cfb_magic(uint32_t& position, const uint8_t* buffer,
                                                  size_t size) {
  position = 0;
  if (!buffer || size < sizeof k_cfb_signature) return false;
  // Offsets are 32-bit: none is looked for where they cannot say it.
  const size_t last = std::min<uint64_t>(size - sizeof k_cfb_signature, uint64_t{0xFFFFFFFF});
  size_t i = 0;
  [[maybe_unused]] bool dense = false;
  while (i <= last) {
#ifdef __SSE2__
    if (dense) {
      // First bytes met close together (bytes of every value): the next
      // stretch is searched for the first two side by side, which such bytes
      // hold about once in 64 KiB, 64 offsets a step, each step reading the
      // 65 bytes from i.
      const __m128i first = _mm_set1_epi8(static_cast<char>(k_cfb_signature[0]));
      const __m128i second = _mm_set1_epi8(static_cast<char>(k_cfb_signature[1]));
      const auto pairs = [&](size_t at) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at + 1));
        return _mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second));
      };
      for (const size_t stretch_end = i + k_pair_stretch;
           i < stretch_end && i <= last && size - i > 64; i += 64) {
        const __m128i a = pairs(i), b = pairs(i + 16), c = pairs(i + 32), d = pairs(i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) continue;
        const uint64_t met = uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(a))} |
                             uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(b))} << 16 |
                             uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(c))} << 32 |
                             uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(d))} << 48;
        for (uint64_t bits = met; bits != 0; bits &= bits - 1) {
          const size_t at = i + static_cast<size_t>(std::countr_zero(bits));
          if (at <= last && cfb_signature_at(buffer + at)) {
            position = static_cast<uint32_t>(at);
            return true;
          }
        }
      }
      dense = false;
      continue;
    }
#endif
    // Elsewhere memchr finds each first byte, fastest where they are few.
    const void* hit = std::memchr(buffer + i, k_cfb_signature[0], last - i + 1);
    if (!hit) return false;
    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer);
    if (cfb_signature_at(buffer + at)) {
      position = static_cast<uint32_t>(at);
      return true;
    }
    dense = at - i < k_dense_first_bytes;
    i = at + 1;
  }
  return false;
}

}  // namespace

bool find_cfb_signature_for_test(uint32_t& position, const uint8_t* buffer, size_t size) {
  return find_cfb_magic(position, buffer, size);
}

bool process_embedded_jumplist(std::ostream& out, const uint8_t* image, size_t size,
                               bool image_flag, lnk::useropts& options, bool carved, bool progress,
                               uint64_t base_offset) {
  if (!image || size < k_min_embedded_image) return false;
  carve_context c{out, options, carved};
  return guarded([&] {
    embedded_runs e;
    e.source.bytes = image;
    e.source.size = size;
    e.image = image;
    e.size = size;
    return load_embedded_runs(e) && embedded_body(c, e, image_flag, progress, base_offset);
  });
}

bool scan_file_for_lnk(std::ostream& out, const std::string& path, lnk::useropts& options,
                       bool carved) {
  if (path.empty()) return false;
  uni::fileio file(path, false);
  return scan_fileio_for_lnk(out, file, options, carved);
}

void recycle_records(std::multimap<int64_t, lnk_record>& records, run_scratch& scratch) {
  std::vector<record_node>& spares = scratch.spares.nodes;
  const size_t room = k_spare_limit - std::min(spares.size(), k_spare_limit);
  const size_t keep = std::min(records.size(), room);
  // Out of memory for the list, the nodes are simply freed.
  if (keep != 0 && guarded([&] {
        spares.reserve(spares.size() + keep);
        return true;
      }))
    for (size_t i = 0; i < keep; ++i) spares.push_back(records.extract(std::prev(records.end())));
  records.clear();
}

record_node spare_record_node(run_scratch& scratch) {
  std::vector<record_node>* const spares = &scratch.spares.nodes;
  if (spares->empty()) {
    std::multimap<int64_t, lnk_record> one;
    one.emplace(std::piecewise_construct, std::forward_as_tuple(0), std::forward_as_tuple());
    return one.extract(one.begin());
  }
  record_node node = std::move(spares->back());
  spares->pop_back();
  reset_lnk_record(node.mapped(), scratch.shell());
  return node;
}

void return_spare_node(record_node&& node, run_scratch& scratch) {
  std::vector<record_node>* const spares = &scratch.spares.nodes;
  if (!node.empty() && spares->size() < k_spare_limit)
    guarded([&] {
      spares->push_back(std::move(node));
      return true;
    });
}

namespace {

// The labels and offset of a link carved at offset a of the source.
void label_carved(lnk_record& record, uint64_t a, const lnk::useropts& options) {
  record.m_source_name.assign("LNK");
  assign_carved_label(record.m_source_type, a, options.m_source_type);
  record.m_file_offset = a;
}

// The compound file whose header lies at offset at of the source read and
// carved. Inside the stream sectors of one carved already (a list inside a
// list's stream) only its link streams are read: its sectors were searched
// for headers with the one holding it, and searching them again at every
// level of nesting would cost the square of the depth.
bool carve_compound_file(carve_context& c, const scan_source& source, file_window& window,
                         uint64_t at, uint64_t size) {
  auto& spans = c.carved_streams;
  spans.erase(std::remove_if(spans.begin(), spans.end(),
                             [at](const auto& span) { return span.second <= at; }),
              spans.end());
  const bool inside =
      std::any_of(spans.begin(), spans.end(), [at](const auto& span) { return span.first <= at; });
  // Lists nested without end would cost the square of their depth: past a
  // bound the rest are carved with the list holding them, as its sectors.
  if (inside && c.nested_work > c.options.m_carve_nested_work) {
    if (!std::exchange(c.nested_work_said, true))
      c.options.m_notes.add("compound file", at,
                            "nested too deep to parse each: the links of this and the compound "
                            "files nested past it carved from the sectors of the one holding them");
    return false;
  }
  uint32_t got = 0;
  const uint8_t* header = window.at(at, cfb_header_size, got);
  uint64_t taken = 0;
  if (!header || !is_compound_file(header, got)) return false;
  // What waits is carved before any compound file not nested in the one
  // it waits for: only the lists nested so take its links.
  if (!inside) carve_waiting(c);
  return scan_embedded(c, source, at, size, header, taken, inside, window);
}

// Scans the source for links; see scan_fileio_for_lnk. An allocation that
// fails ends the scan: it is noted when the records go to a ledger.
bool scan_source_for_lnk(carve_context& c, const scan_source& source, uint64_t size,
                         uint64_t first_header) {
  // A header may end where the source does (a link of its header alone).
  if (size < lnk_header_size) return false;
  lnk::useropts& options = c.options;
  const uint64_t step = options.m_scan_step ? options.m_scan_step : 1;
  const bool status = options.m_status_messages != 0;
  bool found = false;
  uint64_t o = c.from;
  // The source bytes up to here have been searched for a compound file.
  uint64_t o_cfb_searched = c.from;
  const bool ran = guarded([&] {
    file_window window(source, size);
    record_slot slot(options.m_scratch);
    uint64_t chunks = 0;
    int64_t last_percent = -1;
    while (o <= size - lnk_header_size) {
      if (status) {
        const int64_t percent = static_cast<int64_t>(o * 100 / size);
        if (percent != last_percent || (chunks % 5 == 0 && size > 16384)) {
          status_printf_width(k_status_width, "percent done: %d", static_cast<int>(percent));
          last_percent = percent;
        }
      }
      ++chunks;
      // Each chunk tests the offsets of at most 32768 bytes from o, reading
      // the header's length past them so that a header at the chunk's end is
      // seen; consecutive chunks overlap by that much and no offset is
      // tested twice. A read that gives nothing (the file shrank) ends the
      // scan rather than spinning on the spot.
      uint32_t got = 0;
      const uint8_t* chunk = window.at(o, k_chunk_size + lnk_header_size, got);
      if (got < lnk_header_size) break;
      const uint32_t chunk_length = std::min<uint32_t>(got - lnk_header_size + 1, k_chunk_size);
      uint32_t p = 0;
      bool hit = false;
      if (o == 0 && step == 1 && first_header != k_header_not_searched) {
        // The source's first header is the first chunk's when the chunk's
        // search reaches it.
        hit = first_header <= got - lnk_header_size;
        if (hit) p = static_cast<uint32_t>(first_header);
      } else {
        hit = find_lnk_signature(p, chunk, got, static_cast<uint32_t>(step));
      }
      // A compound file is met at its own first byte wherever it lies, in a
      // chunk of link headers or of none: the bytes before the chunk's first
      // header (all of them without one) are searched for its signature.
      const uint64_t from = o_cfb_searched > o ? o_cfb_searched - o : 0;
      const uint64_t until = hit ? p : chunk_length;
      if (from < until) {
        o_cfb_searched = o + until;
        uint32_t q = 0;
        if (find_cfb_magic(q, chunk + from,
                           static_cast<size_t>(std::min<uint64_t>(got - from, until - from + 7)))) {
          const uint64_t at = o + from + q;
          o_cfb_searched = at + 1;
          if (carve_compound_file(c, source, window, at, size)) {
            found = true;
            // The span its sectors may reach is scanned too, for the links
            // and compound files its streams do not hold; the headers read
            // through it are passed by.
            o = align_up(at + 1, step);
          } else {
            o = at;
          }
          continue;
        }
      }
      if (!hit) {
        if (!options.m_carve_mode && !options.m_deep_scan) break;
        o += chunk_length;
        continue;
      }
      const uint64_t a = o + p;
      // A link file's first link and a custom list's links are read whatever
      // their headers hold; elsewhere a header no link could have is only
      // bytes that look like one.
      const bool candidate = a != 0 && !c.frame_links;
      if (!c.claims.bytes_stand(a) ||
          (candidate && !could_be_link_header(byte_view(chunk + p, got - p)))) {
        o = align_up(a + step, step);
        continue;
      }
      uint32_t len = 0;
      link_cut cut = link_cut::none;
      bool whole = false;
      const uint8_t* data = link_bytes(window, a, size, len, cut, whole);
      if (len == 0) {
        // The records read so far are reported; what lies past is said lost.
        options.m_notes.add("link scan", a,
                            "its bytes could not be read (a read failed or the file shrank); "
                            "the file not scanned past here");
        break;
      }
      lnk_record& record = slot.next();
      if (parse_lnk(record, data, len, options, options.m_scratch.link, c.carved, a)) {
        label_carved(record, a, options);
        note_cut(record, cut);
        // Only a sound link is stepped over: the sizes of a damaged or cut
        // one may reach over the links after it, so the scan goes on at the
        // next header after its start.
        const bool sound = whole && record.m_faults.empty();
        const uint64_t parsed = sound ? std::max<uint64_t>(record.m_lnk_size, 1) : step;
        if (c.frame_links)
          c.frame_links->push_back({a, a + record.m_lnk_size, sound, cut == link_cut::end_of_file});
        record_origin origin;
        origin.offset = a;
        keep_record(c, slot, record, static_cast<int64_t>(a), origin);
        found = true;
        o = align_up(a + parsed, step);
      } else {
        if (record.m_faults.out_of_memory()) options.m_notes.add_out_of_memory("link", a);
        o = align_up(a + step, step);
      }
    }
    carve_waiting(c);
    return true;
  });
  // Memory that ran out ended the scan, and is said; the headers that wait
  // lie before where it ended, and are read now (the memory let go on the
  // way out is most often enough), or let go and said.
  if (!ran) carve_waiting(c);
  if (status) erase_status_line();
  if (!ran && c.ledger)
    options.m_notes.add("link scan", o, "out of memory; the file was not scanned past here");
  return found;
}

// A file named as a custom jump list is one, whatever its header says.
bool names_custom_list(const std::string& path) {
  static constexpr std::string_view suffix = ".customdestinations-ms";
  if (path.size() < suffix.size()) return false;
  const std::string_view tail = std::string_view(path).substr(path.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char x, char y) {
    return (x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x) == y;
  });
}

// The source begins with the version of a custom list's header (a link
// file begins with its header size, 76).
bool starts_custom_list(const scan_source& source, uint64_t size) {
  uint8_t version[4];
  uint64_t len = sizeof version;
  return size >= sizeof version && source.read_at(version, len, 0) && len == sizeof version &&
         byte_view(version, sizeof version).u32_or_zero(0) == custom_list_layout::version_value;
}

scan_source source_of(uni::fileio& file, short_reads& shorts) {
  scan_source source;
  source.file = &file;
  source.shorts = &shorts;
  if (file.is_memory()) {
    source.bytes = file.data().data();
    source.size = file.data().size();
  }
  return source;
}

}  // namespace

bool scan_fileio_for_lnk(std::ostream& out, uni::fileio& file, lnk::useropts& options,
                         bool carved) {
  if (!file.usable()) return false;
  carve_context c{out, options, carved};
  short_reads shorts;
  return scan_source_for_lnk(c, source_of(file, shorts), file.stored_size(), k_header_not_searched);
}

bool scan_bytes_for_lnk(std::ostream& out, const uint8_t* bytes, size_t size,
                        lnk::useropts& options, bool carved, uint64_t first_header) {
  if (!bytes) return false;
  scan_source source;
  source.bytes = bytes;
  source.size = size;
  carve_context c{out, options, carved};
  return scan_source_for_lnk(c, source, size, first_header);
}

bool carve_and_report(std::ostream& out, uni::fileio* file, byte_view bytes, lnk::useropts& options,
                      bool carved, uint64_t first_header, const carved_record_sink& sink,
                      carve_work* work, uint64_t from) {
  carve_work counted;
  if (!work) work = &counted;
  *work = carve_work{};
  scan_source source;
  short_reads shorts;
  uint64_t size = bytes.size();
  if (file) {
    if (!file->usable()) return false;
    source = source_of(*file, shorts);
    size = file->stored_size();
    first_header = k_header_not_searched;
  } else {
    if (!bytes.data()) return false;
    source.bytes = bytes.data();
    source.size = bytes.size();
  }
  options.m_store_records = true;
  recycle_records(options.m_records, options.m_scratch);
  // The ledger is made once a run (in its scratch).
  carve_ledger* made = try_made_part(options.m_scratch.carve);
  if (!made) {
    options.m_notes.add("link scan", 0, "out of memory; the file was not scanned past here");
    return false;
  }
  carve_ledger& ledger = *made;
  ledger.reset();
  carve_context c{out, options, carved, &ledger};
  c.may_wait = true;
  c.from = std::min(from, size);
  c.sink = &sink;
  const uint64_t written = options.m_records_written;
  // A custom list's frame tells which of its links the scan could not read.
  std::vector<custom_list_link> frame_links;
  const bool frame = names_custom_list(options.m_source_path) ||
                     (options.m_custom_list && starts_custom_list(source, size));
  if (frame) c.frame_links = &frame_links;
  const bool found = scan_source_for_lnk(c, source, size, first_header);
  if (frame && !guarded([&] {
        check_custom_list_frame(
            [&](uint64_t offset, uint8_t* into, size_t count) {
              uint64_t len = count;
              return offset < size && source.read_at(into, len, offset) && len == count;
            },
            size, frame_links, options.m_notes);
        return true;
      }))
    options.m_notes.add_out_of_memory("custom list frame", 0);
  if (!found) {
    ledger.reset();
    return false;
  }
  if (!ledger.overflow()) {
    const bool reported = guarded([&] {
      for (auto it = options.m_records.rbegin(); it != options.m_records.rend(); ++it) {
        sink.write(it->second, out, options.m_notes);
        if (sink.reported) sink.reported(report_facts(it->second));
      }
      return true;
    });
    if (!reported)
      options.m_notes.add("links", 0,
                          "out of memory while reporting; not every record was written");
    return true;
  }
  report_spill& spill = *ledger.m_spill;
  // The reports were written as each record was kept: the count is of
  // those copied out.
  const bool copied = guarded([&] { return spill.report(out, options.m_notes, sink.reported); });
  options.m_records_written = written + spill.reported();
  work->records_held = spill.held();
  work->bytes_held = spill.bytes();
  work->runs = spill.runs();
  work->merges = spill.merges();
  const auto temp_folder = [](int error) {
    return "the temporary folder ($TMPDIR) could not hold the reports past the memory budget (" +
           std::string(std::strerror(error)) + ")";
  };
  // What the folder could not take was held in memory instead: lost only
  // if memory ran out too.
  if (spill.held_in_memory())
    options.m_notes.add("links", 0, temp_folder(spill.file_error()) + ": they are held in memory");
  const uint64_t lost = spill.unreported();
  if (!copied || lost != 0) {
    // Titles held for a first record never written are the next file's.
    if (spill.reported() == 0 && !spill.titles().empty()) options.m_header_pending = 1;
    options.m_notes.add("links", 0,
                        (spill.lost_error() != 0 ? temp_folder(spill.lost_error())
                                                 : std::string("out of memory while reporting")) +
                            ": " + std::to_string(lost) + " records held there not reported");
  }
  ledger.reset();
  return true;
}

}  // namespace vk
