// What could not be read of the current file: structures a walk stopped at,
// caps that cut a record, records that could not be reported. Each structure
// and cause is said once per file, with a count when it repeats, on one line
// of standard error once the file's records are written. Nothing here
// throws: a note that memory cannot be found for is counted, and the count
// is said instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_fault_sink.h"

namespace vk {

struct lnk_record;

class file_notes {
 public:
  // Notes a structure of the file that was damaged, cut or not reported.
  // offset counts from the start of the file or, when stream is given, from
  // the start of that compound-file stream.
  void add(std::string_view structure, uint64_t offset, std::string_view cause,
           std::string_view stream = {}) noexcept;
  // The same, the structure named "structure number".
  void add_numbered(std::string_view structure, uint64_t number, uint64_t offset,
                    std::string_view cause, std::string_view stream = {}) noexcept;
  void add(const parse_fault& fault, uint64_t base, std::string_view stream = {}) noexcept;
  // What a parse's sink holds, its data starting at base (in the file, or
  // in the named stream): the faults it kept, how many more it met and,
  // when out_of_memory_said, memory that ran out under it (a link's).
  void add_faults(const fault_sink& faults, uint64_t base, std::string_view stream,
                  bool out_of_memory_said) noexcept;
  // Memory that ran out under the structure (a link's parse, its stream's
  // copy): what it held is not read in full.
  void add_out_of_memory(std::string_view structure, uint64_t offset,
                         std::string_view stream = {}) noexcept;
  // The faults of a record's parse (its sink), memory aside.
  void add_record(const lnk_record& record, uint64_t base, std::string_view stream = {}) noexcept;

  // The notes as bytes (none when there are none), for a record whose
  // report is held until its turn; add_packed adds them back, each as
  // often as it was said.
  void pack(std::string& out) const;
  void add_packed(std::string_view packed) noexcept;

  bool any() const noexcept { return !m_notes.empty() || m_own.out_of_memory(); }
  // The lines for the file named path, each ending in a line feed.
  std::string lines(const std::string& path) const;
  // Writes the lines to standard error and forgets them.
  void flush(const std::string& path) noexcept;
  void clear() noexcept {
    m_notes.clear();
    m_own.clear();
  }

 private:
  struct note {
    std::string structure, cause, stream;
    uint64_t offset = 0;
    uint64_t count = 0;
  };
  void add_body(std::string_view structure, uint64_t offset, std::string_view cause,
                std::string_view stream);
  std::vector<note> m_notes;
  // The notes' own faults: each note that memory ran out for, counted.
  fault_sink m_own;
};

}  // namespace vk
