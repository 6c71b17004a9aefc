// What one run of the tool keeps from file to file and record to record:
// the link parser's scratch, the drivers' buffers and reader, the spare
// record nodes, the carve road's ledger and the shown text of the source
// path. The run's settings (lnk::useropts) own it as a plain member and the
// drivers hand it down; a new settings object starts with an empty one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/vk_fault_sink.h"
#include "jumplist/link_scratch.h"
#include "jumplist/lnk_record.h"
#include "jumplist/report_scratch.h"

namespace vk {

struct driver_workspace;  // file_drivers.cpp
class carve_ledger;       // lnk_carve.cpp

template <>
void scratch_drop<driver_workspace>::operator()(driver_workspace*) const noexcept;
template <>
void scratch_drop<carve_ledger>::operator()(carve_ledger*) const noexcept;
template <>
inline void scratch_drop<report_scratch>::operator()(report_scratch* part) const noexcept {
  delete part;
}
template <>
inline void scratch_drop<row_buffers>::operator()(row_buffers* part) const noexcept {
  delete part;
}

// Record nodes (records and all) kept for reuse: the roads parse each link
// straight into a spare node.
using record_node = std::multimap<int64_t, lnk_record>::node_type;
struct record_spares {
  std::vector<record_node> nodes;
};

// The source path as the reports show it, made once per file.
struct shown_source {
  std::string path, text;
  bool made = false;
};

struct run_scratch {
  link_scratch link;
  record_spares spares;
  // The open file, its buffer, the compound-file reader.
  scratch_part<driver_workspace> drivers;
  // Where the carve road's links lie until they are reported.
  scratch_part<carve_ledger> carve;
  shown_source source;
  // The labelled block's buffer and kept texts; the row forms' plans and
  // buffers.
  scratch_part<report_scratch> report;
  scratch_part<row_buffers> rows;
  // Where the report writers say memory that ran out and left a record
  // written short; the roads say it with the file. Writers that only read
  // the settings say it too.
  mutable fault_sink report_faults;
  // The most bytes of one compound file found inside carved bytes that the
  // run held in memory at once (none where the source holds its bytes).
  uint64_t most_embedded_image_bytes = 0;

  shell_scratch& shell() { return link.shell; }
};

}  // namespace vk
