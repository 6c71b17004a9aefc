#include "jumplist/lnk_carve.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "foundation/vk_console.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_numtext.h"
#include "jumplist/compound_file.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/record_report.h"

namespace vk {
namespace {

constexpr uint32_t k_chunk_size = 32768;
// A chunk and the longest link read from a hit inside it fit in one window,
// so a hit that fails costs no read of its own.
constexpr uint32_t k_window_size = 2 * k_chunk_size;
constexpr uint64_t k_max_embedded_image = 134217728;
constexpr size_t k_min_embedded_image = 4096;
constexpr int32_t k_status_width = 45;

uint64_t align_up(uint64_t x, uint64_t step) {
  return step <= 1 ? x : (x + step - 1) / step * step;
}

// Where the scanner's bytes come from: an open file (descriptor or memory
// mode), or bytes the caller holds.
struct scan_source {
  uni::fileio* file = nullptr;
  const uint8_t* bytes = nullptr;  // in place of the file when set
  uint64_t size = 0;               // the bytes the source holds

  // Copies up to len bytes at offset into buf; len tells how many came.
  bool read_at(uint8_t* buf, uint64_t& len, uint64_t offset) const {
    if (!bytes) return file->read_at64(buf, len, offset);
    if (offset >= size) return false;
    len = std::min(len, size - offset);
    std::memcpy(buf, bytes + offset, static_cast<size_t>(len));
    return true;
  }
};

// A window of the source held in memory; bytes asked for are read only when
// the window does not hold them already. Bytes already in memory are handed
// out where they lie.
class file_window {
 public:
  file_window(const scan_source& source, uint64_t size)
      : m_source(source),
        m_size(size),
        m_bytes(source.bytes ? 0 : static_cast<size_t>(std::min<uint64_t>(size, k_window_size))) {}

  // Up to want bytes (at most one chunk) at offset; got tells how many are
  // there, 0 when the read failed or gave nothing (the file shrank).
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
      uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(m_bytes.size(), m_size - offset));
      m_length = 0;
      if (!m_source.file->read_at(m_bytes.data(), len, offset) || len > m_bytes.size())
        return nullptr;
      m_start = offset;
      m_length = len;
    }
    const uint64_t within = offset - m_start;
    got = static_cast<uint32_t>(std::min<uint64_t>(want, m_length - within));
    return got ? m_bytes.data() + within : nullptr;
  }

 private:
  const scan_source& m_source;
  uint64_t m_size;
  std::vector<uint8_t> m_bytes;
  uint64_t m_start = 0;
  uint64_t m_length = 0;
};

// Nodes of emptied record multimaps, kept for the next records: a record is
// parsed straight into a node, so storing it neither moves it nor allocates.
// The spares keep what their records held until they are reset for reuse,
// never more nodes than k_spare_limit.
constexpr size_t k_spare_limit = 1024;
std::vector<record_node>& spare_nodes() {
  thread_local std::vector<record_node> spares;
  return spares;
}

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

// The slot's record stored under key (with its node) or reported.
void keep_record(std::ostream& out, record_slot& slot, lnk_record& record, lnk::useropts& options,
                 int64_t key) {
  if (options.m_store_records) {
    compact_lnk_record(record, options.m_idlist_times);
    slot.store(options.m_records, key);
  } else {
    report_record(out, record, options);
  }
}

// Links of one run of an embedded image, each running to the next pattern
// hit or to the end of the run.
bool carve_run(std::ostream& out, const std::vector<uint8_t>& run,
               const std::vector<cfb_run_piece>& pieces, const lnk_record& tmpl,
               lnk::useropts& options, bool carved, bool progress, uint64_t base_offset) {
  if (run.empty() || run.size() > UINT32_MAX) return false;
  std::vector<uint64_t> hits;
  if (!find_pattern_vector_offsets(run.data(), static_cast<uint32_t>(run.size()),
                                   lnk_header_pattern(), hits, 0, false))
    return false;
  bool found = false;
  record_slot slot;
  for (size_t i = 0; i < hits.size(); ++i) {
    const uint64_t end = i + 1 < hits.size() ? hits[i + 1] : run.size();
    lnk_record& record = slot.next();
    record = tmpl;
    const uint64_t offset = base_offset + run_to_image_offset(pieces, hits[i]);
    record.m_file_offset = offset;
    if (parse_lnk(record, run.data() + hits[i], static_cast<size_t>(end - hits[i]), options, carved,
                  offset)) {
      keep_record(out, slot, record, options, static_cast<int64_t>(record.m_header.m_write_time));
      found = true;
    }
    if (progress)
      status_printf_width(k_status_width, "percent done: %d",
                          static_cast<int>(i * 100 / hits.size()));
  }
  return found;
}

bool embedded_body(std::ostream& out, const uint8_t* image, size_t size, bool image_flag,
                   lnk::useropts& options, bool carved, bool progress, uint64_t base_offset) {
  compound_file_reader reader;
  if (!parse_compound_image(&reader, image, size)) return false;
  std::vector<uint8_t> allocated, gaps;
  std::vector<cfb_run_piece> allocated_pieces, gap_pieces;
  if (!stream_sector_ranges(reader, allocated, gaps, image, size, allocated_pieces, gap_pieces))
    return false;
  lnk_record tmpl;
  tmpl.m_source_name = "LNK";
  tmpl.m_source_type = image_flag ? "VESKLIST (carved image)" : "VESKLIST (carved allocated)";
  tmpl.m_source_alt_label = "VESKLIST";
  bool found =
      carve_run(out, allocated, allocated_pieces, tmpl, options, carved, progress, base_offset);
  tmpl.m_source_type = "VESKLIST (carved slack)";
  tmpl.m_source_alt_label = "VESKLIST (slack)";
  found |= carve_run(out, gaps, gap_pieces, tmpl, options, carved, progress, base_offset);
  return found;
}

// A compound file starting at offset o of the scanned file: read it whole
// (as far as its FAT can reach, at most 128 MiB) and carve it. read tells
// how many bytes it took.
bool scan_embedded(std::ostream& out, const scan_source& source, uint64_t o, uint64_t file_size,
                   const uint8_t* header, lnk::useropts& options, bool carved, uint64_t& read) {
  read = 0;
  const uint64_t declared = cfb_max_image_size(header);
  if (declared < k_min_embedded_image || declared > k_max_embedded_image) return false;
  const uint64_t want = std::min(declared, file_size - o);
  return guarded([&] {
    std::vector<uint8_t> image(static_cast<size_t>(want));
    uint64_t len = want;
    if (!source.read_at(image.data(), len, o) || len > want) return false;
    read = len;
    return process_embedded_jumplist(out, image.data(), static_cast<size_t>(len), false, options,
                                     carved, options.m_status_messages != 0, o);
  });
}

}  // namespace

bool process_embedded_jumplist(std::ostream& out, const uint8_t* image, size_t size,
                               bool image_flag, lnk::useropts& options, bool carved, bool progress,
                               uint64_t base_offset) {
  if (!image || size < k_min_embedded_image) return false;
  return guarded([&] {
    return embedded_body(out, image, size, image_flag, options, carved, progress, base_offset);
  });
}

bool scan_file_for_lnk(std::ostream& out, const std::string& path, lnk::useropts& options,
                       bool carved) {
  if (path.empty()) return false;
  uni::fileio file(path, false);
  return scan_fileio_for_lnk(out, file, options, carved);
}

void recycle_records(std::multimap<int64_t, lnk_record>& records) {
  std::vector<record_node>& spares = spare_nodes();
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

record_node spare_record_node() {
  std::vector<record_node>& spares = spare_nodes();
  if (spares.empty()) {
    std::multimap<int64_t, lnk_record> one;
    one.emplace(std::piecewise_construct, std::forward_as_tuple(0), std::forward_as_tuple());
    return one.extract(one.begin());
  }
  record_node node = std::move(spares.back());
  spares.pop_back();
  reset_lnk_record(node.mapped());
  return node;
}

void return_spare_node(record_node&& node) {
  std::vector<record_node>& spares = spare_nodes();
  if (!node.empty() && spares.size() < k_spare_limit)
    guarded([&] {
      spares.push_back(std::move(node));
      return true;
    });
}

namespace {

// Scans the source for links; see scan_fileio_for_lnk.
bool scan_source_for_lnk(std::ostream& out, const scan_source& source, uint64_t size,
                         lnk::useropts& options, bool carved, uint64_t first_header) {
  if (size <= lnk_header_size) return false;
  const uint64_t step = options.m_scan_step ? options.m_scan_step : 1;
  const bool status = options.m_status_messages != 0;
  bool found = false;
  guarded([&] {
    file_window window(source, size);
    record_slot slot;
    uint64_t o = 0, chunks = 0;
    int64_t last_percent = -1;
    while (o < size - lnk_header_size) {
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
      if (got <= lnk_header_size) break;
      const uint32_t c = std::min<uint32_t>(got - lnk_header_size, k_chunk_size);
      uint32_t p = 0;
      bool hit = false;
      if (o == 0 && step == 1 && first_header != k_header_not_searched) {
        // The source's first header is the first chunk's when the chunk's
        // search reaches it.
        hit = first_header < got - lnk_header_size;
        if (hit) p = static_cast<uint32_t>(first_header);
      } else {
        hit = find_lnk_signature(p, chunk, got, static_cast<uint32_t>(step));
      }
      if (!hit) {
        if (!options.m_carve_mode && !options.m_deep_scan) break;
        o += c;
        continue;
      }
      if (p != 0 && is_compound_file(chunk, got)) {
        uint64_t taken = 0;
        if (scan_embedded(out, source, o, size, chunk, options, carved, taken)) {
          found = true;
          o = align_up(o + taken, step);
          continue;
        }
      }
      const uint64_t a = o + p;
      uint32_t len = 0;
      const uint8_t* data = window.at(a, k_chunk_size, len);
      if (len == 0) break;
      lnk_record& record = slot.next();
      if (parse_lnk(record, data, len, options, carved, a)) {
        record.m_source_name.assign("LNK");
        assign_carved_label(record.m_source_type, a, options.m_source_type);
        record.m_file_offset = a;
        const uint64_t parsed = std::max<uint64_t>(record.m_lnk_size, 1);
        keep_record(out, slot, record, options, static_cast<int64_t>(a));
        found = true;
        o = align_up(a + parsed, step);
      } else {
        o = align_up(a + step, step);
      }
    }
  });
  if (status) erase_status_line();
  return found;
}

}  // namespace

bool scan_fileio_for_lnk(std::ostream& out, uni::fileio& file, lnk::useropts& options,
                         bool carved) {
  if (!file.usable()) return false;
  scan_source source;
  source.file = &file;
  if (file.is_memory()) {
    source.bytes = file.data().data();
    source.size = file.data().size();
  }
  return scan_source_for_lnk(out, source, file.stored_size(), options, carved,
                             k_header_not_searched);
}

bool scan_bytes_for_lnk(std::ostream& out, const uint8_t* bytes, size_t size,
                        lnk::useropts& options, bool carved, uint64_t first_header) {
  if (!bytes) return false;
  scan_source source;
  source.bytes = bytes;
  source.size = size;
  return scan_source_for_lnk(out, source, size, options, carved, first_header);
}

}  // namespace vk
