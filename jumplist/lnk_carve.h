// Carving shell links out of any file: the chunked scanner over a file, and
// the links of a compound file met inside the scanned data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/uni_fileio.h"
#include "foundation/vk_bytes.h"
#include "jumplist/report_spill.h"
#include "jumplist/vesk_options.h"

namespace vk {

// Scans the file for LNK headers at multiples of the settings' scan step and
// parses a link at each, handed the extent it declares (at most 16 MiB); the
// records that name anything go into the settings' record multimap (keyed
// by file offset) with the store-records flag, else every record goes to
// report_record at once. True when at least one link was parsed, embedded
// ones included.
bool scan_file_for_lnk(std::ostream& out, const std::string& path, lnk::useropts& options,
                       bool carved);
// The same over a file already open for reading.
bool scan_fileio_for_lnk(std::ostream& out, uni::fileio& file, lnk::useropts& options, bool carved);

// The same over bytes in memory (a file read whole). A caller that has
// searched the bytes for headers one offset apart (find_lnk_signature with
// step 1) hands the first one over as first_header, so the scan does not
// search for it again.
inline constexpr uint64_t k_header_not_searched = UINT64_MAX;
bool scan_bytes_for_lnk(std::ostream& out, const uint8_t* bytes, size_t size,
                        lnk::useropts& options, bool carved,
                        uint64_t first_header = k_header_not_searched);

// The custom and carve roads over an open file or over bytes read whole
// (file null): every link is carved, each handed the extent it declares (at
// most 16 MiB), and the kept records are reported from the highest key
// down, once the whole file is scanned. Records are held while they fit in
// a fixed budget (the settings' m_carve_record_budget); past it each kept
// record is written at once into a file of the temporary folder, and the
// texts are copied to out in report order at the end (report_spill.h).
// What could not be scanned or reported is noted in the settings' notes.
// True when a link was parsed. The scan starts at offset from of the source
// (the bytes past a compound file read before).
struct carved_record_sink {
  // Writes the record's report to the stream handed, and what its report
  // says besides to the notes handed.
  std::function<void(lnk_record&, std::ostream&, file_notes&)> write;
  // Told of each record once its report is written, in report order; may
  // be empty.
  std::function<void(const carved_report&)> reported;
};
// What the reports held past the budget cost: the records and bytes held
// in the temporary folder, the sorted runs of their entries and the merge
// passes.
struct carve_work {
  uint64_t records_held = 0;
  uint64_t bytes_held = 0;
  uint64_t runs = 0;
  uint64_t merges = 0;
};
bool carve_and_report(std::ostream& out, uni::fileio* file, byte_view bytes, lnk::useropts& options,
                      bool carved, uint64_t first_header, const carved_record_sink& sink,
                      carve_work* work = nullptr, uint64_t from = 0);

// Empties a record multimap, keeping its nodes (records and all) for reuse
// in the run's scratch: the scanner and the drivers parse each link
// straight into a spare node.
void recycle_records(std::multimap<int64_t, lnk_record>& records, run_scratch& scratch);
// A spare node with its record reset (a new one when none is spare).
record_node spare_record_node(run_scratch& scratch);
// Gives a node taken with spare_record_node back unused.
void return_spare_node(record_node&& node, run_scratch& scratch);

// The working record of a road, held in a map node: reset for each link,
// stored into a record map with its node (no move, no allocation), and the
// node given back to the spares when the road ends without storing it.
class record_slot {
 public:
  explicit record_slot(run_scratch& scratch) : m_scratch(scratch) {}
  record_slot(const record_slot&) = delete;
  record_slot& operator=(const record_slot&) = delete;
  ~record_slot() {
    if (m_node.empty()) return;
    // Its item records serve the next file's first link.
    reset_lnk_record(m_node.mapped(), m_scratch.shell());
    return_spare_node(std::move(m_node), m_scratch);
  }
  // The record, reset for the next link.
  lnk_record& next() {
    if (m_node.empty())
      m_node = spare_record_node(m_scratch);
    else
      reset_lnk_record(m_node.mapped(), m_scratch.shell());
    return m_node.mapped();
  }
  // Stores the record under key, after the records of an equal key; the
  // next call to next() takes another node. Where it is stored.
  std::multimap<int64_t, lnk_record>::iterator store(std::multimap<int64_t, lnk_record>& records,
                                                     int64_t key) {
    m_node.key() = key;
    return records.insert(records.end(), std::move(m_node));
  }
  // The same, before the records of an equal key the carve kept after the
  // record's own place (its m_carve_order): a record kept late keeps the
  // place it was met at.
  std::multimap<int64_t, lnk_record>::iterator store_in_order(
      std::multimap<int64_t, lnk_record>& records, int64_t key) {
    m_node.key() = key;
    const uint64_t order = m_node.mapped().m_carve_order;
    const auto [first, last] = records.equal_range(key);
    auto at = last;
    while (at != first && std::prev(at)->second.m_carve_order > order) --at;
    return records.insert(at, std::move(m_node));
  }

 private:
  run_scratch& m_scratch;
  record_node m_node;
};

// Parses a compound-file image and carves links out of the sectors its
// streams use and out of the gaps between them. Records carry their offset
// in the scanned source: base_offset (where the image starts there) plus the
// hit's place in the image. Stored under the header's write time with the
// store-records flag, else reported at once. True when a link was parsed.
bool process_embedded_jumplist(std::ostream& out, const uint8_t* image, size_t size,
                               bool image_flag, lnk::useropts& options, bool carved, bool progress,
                               uint64_t base_offset = 0);

}  // namespace vk
