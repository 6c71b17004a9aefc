#include "jumplist/file_notes.h"

#include <cinttypes>
#include <cstdio>

#include "cmdline/run_context.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_text.h"
#include "jumplist/lnk_record.h"

namespace vk {

void file_notes::add(std::string_view structure, uint64_t offset, std::string_view cause,
                     std::string_view stream) noexcept {
  if (!guarded([&] {
        add_body(structure, offset, cause, stream);
        return true;
      }))
    m_own.add_out_of_memory();
}

void file_notes::add_numbered(std::string_view structure, uint64_t number, uint64_t offset,
                              std::string_view cause, std::string_view stream) noexcept {
  if (!guarded([&] {
        add_body(std::string(structure) + " " + std::to_string(number), offset, cause, stream);
        return true;
      }))
    m_own.add_out_of_memory();
}

void file_notes::add_body(std::string_view structure, uint64_t offset, std::string_view cause,
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

void file_notes::add(const parse_fault& fault, uint64_t base, std::string_view stream) noexcept {
  if (!fault) return;
  add(fault.structure, base + fault.offset, fault.cause ? fault.cause : "damaged", stream);
}

void file_notes::add_out_of_memory(std::string_view structure, uint64_t offset,
                                   std::string_view stream) noexcept {
  add(structure, offset, "not read in full: out of memory", stream);
}

void file_notes::add_record(const lnk_record& record, uint64_t base,
                            std::string_view stream) noexcept {
  add_faults(record.m_faults, base, stream, false);
}

void file_notes::add_faults(const fault_sink& faults, uint64_t base, std::string_view stream,
                            bool out_of_memory_said) noexcept {
  if (out_of_memory_said && faults.out_of_memory()) add_out_of_memory("link", base, stream);
  for (const parse_fault& fault : faults) add(fault, base, stream);
  const uint32_t more = faults.dropped();
  if (more == 0) return;
  if (!guarded([&] {
        add_body("link", base, std::to_string(more) + " more faults, not kept", stream);
        return true;
      }))
    m_own.add_out_of_memory();
}

namespace {

void put_u64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void put_text(std::string& out, const std::string& text) {
  put_u64(out, text.size());
  out += text;
}

// The next number of packed bytes, or false when they end first.
bool take_u64(std::string_view& in, uint64_t& v) {
  if (in.size() < 8) return false;
  v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t{static_cast<uint8_t>(in[i])} << (8 * i);
  in.remove_prefix(8);
  return true;
}

bool take_text(std::string_view& in, std::string_view& text) {
  uint64_t length = 0;
  if (!take_u64(in, length) || length > in.size()) return false;
  text = in.substr(0, length);
  in.remove_prefix(length);
  return true;
}

}  // namespace

void file_notes::pack(std::string& out) const {
  if (!any()) return;
  put_u64(out, m_own.out_of_memory_count());
  for (const note& n : m_notes) {
    put_text(out, n.structure);
    put_text(out, n.cause);
    put_text(out, n.stream);
    put_u64(out, n.offset);
    put_u64(out, n.count);
  }
}

void file_notes::add_packed(std::string_view packed) noexcept {
  uint64_t lost = 0;
  if (!take_u64(packed, lost)) return;
  for (; lost > 0; --lost) m_own.add_out_of_memory();
  std::string_view structure, cause, stream;
  uint64_t offset = 0, count = 0;
  while (take_text(packed, structure) && take_text(packed, cause) && take_text(packed, stream) &&
         take_u64(packed, offset) && take_u64(packed, count))
    for (; count > 0; --count) add(structure, offset, cause, stream);
}

std::string file_notes::lines(const std::string& path) const {
  std::string out, line;
  for (const note& n : m_notes) {
    char offset[64];
    std::snprintf(offset, sizeof offset, "0x%" PRIx64, n.offset);
    line = "not read in full: " + path + " (" + n.structure + " at offset " + offset;
    if (!n.stream.empty()) line += " of stream " + n.stream;
    line += ": " + n.cause;
    if (n.count > 1) line += "; " + std::to_string(n.count) + " times, the first shown";
    // The names of the file and of its streams are written as names are: a
    // line end in one would split the note.
    append_shown_name(out, line);
    out += ")\n";
  }
  if (m_own.out_of_memory())
    out += "not read in full: " + shown_name(path) + " (" +
           std::to_string(m_own.out_of_memory_count()) + " notes lost: out of memory)\n";
  return out;
}

void file_notes::flush(const std::string& path) noexcept {
  if (!any()) return;
  const bool said = guarded([&] {
    const std::string text = lines(path);
    // One call per line, so that each erases the status line before it.
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find('\n', start) + 1;
      error_printf("%.*s", static_cast<int>(end - start), text.c_str() + start);
      start = end;
    }
    return true;
  });
  // Memory for the lines themselves: what the file lost is said without them.
  if (!said) error_printf("not read in full: %s (notes lost: out of memory)\n", path.c_str());
  clear();
}

}  // namespace vk
