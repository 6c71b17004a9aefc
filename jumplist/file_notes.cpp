#include "jumplist/file_notes.h"

#include <cinttypes>
#include <cstdio>

#include "cmdline/run_context.h"
#include "jumplist/lnk_record.h"

namespace vk {

void file_notes::add(std::string_view structure, uint64_t offset, std::string_view cause,
                     std::string_view stream) {
  for (note& n : m_notes)
    if (n.structure == structure && n.cause == cause) {
      ++n.count;
      return;
    }
  // A hostile file repeats one damage endlessly, never many kinds of it: the
  // kinds are few, so the list stays short.
  m_notes.push_back(
      note{std::string(structure), std::string(cause), std::string(stream), offset, 1});
}

void file_notes::add(const parse_fault& fault, uint64_t base, std::string_view stream) {
  if (!fault) return;
  add(fault.structure, base + fault.offset, fault.cause ? fault.cause : "damaged", stream);
}

void file_notes::add_record(const lnk_record& record, uint64_t base, std::string_view stream) {
  for (uint8_t i = 0; i < record.m_fault_count; ++i) add(record.m_faults[i], base, stream);
}

std::string file_notes::lines(const std::string& path) const {
  std::string out;
  for (const note& n : m_notes) {
    char offset[64];
    std::snprintf(offset, sizeof offset, "0x%" PRIx64, n.offset);
    out += "not read in full: " + path + " (" + n.structure + " at offset " + offset;
    if (!n.stream.empty()) out += " of stream " + n.stream;
    out += ": " + n.cause;
    if (n.count > 1) out += "; " + std::to_string(n.count) + " times, the first shown";
    out += ")\n";
  }
  return out;
}

void file_notes::flush(const std::string& path) {
  if (m_notes.empty()) return;
  const std::string text = lines(path);
  // One call per line, so that each erases the status line before it.
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start) + 1;
    error_printf("%.*s", static_cast<int>(end - start), text.c_str() + start);
    start = end;
  }
  m_notes.clear();
}

}  // namespace vk
