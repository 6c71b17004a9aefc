// Small library routines: seeded random bytes, byte-pattern wrappers, blank
// filling, Base64 decoding, and the library's process-wide objects.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "foundation/vk_args.h"  // the wide-argument look-ups once declared here
#include "foundation/vk_path.h"  // the path parts once declared here

namespace vk {

// ---- process-wide objects ----

// Stream buffer that discards everything written to it.
class null_out_buf : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

// Output stream that discards everything; cannot fail.
class null_out_stream : public std::ostream {
 public:
  null_out_stream() : std::ostream(nullptr) { rdbuf(&m_buf); }

 private:
  null_out_buf m_buf;
};

extern const std::string newline_text;
extern const std::string empty_text;
extern std::ostringstream scratch_stream;
extern null_out_stream null_stream;

// ---- random numbers ----

// A value from low to high inclusive (swapped when high < low); seeded from
// the clock on first use.
uint8_t random_in_range(uint8_t low, uint8_t high);
uint32_t random_u32();

// ---- byte patterns ----

bool find_vector_pattern(const uint8_t* buffer, uint32_t length,
                         const std::vector<uint8_t>& pattern, uint64_t* offset, uint64_t base,
                         bool skip_table);
bool find_pattern_vector_offsets(const uint8_t* buffer, uint32_t length,
                                 const std::vector<uint8_t>& pattern,
                                 std::vector<uint64_t>& offsets, uint64_t base, bool skip_table);

// ---- writers and decoders ----

// Writes count blanks by a padded " " (the stream's fill is left a blank).
std::ostream& write_blanks(std::ostream& os, uint32_t count);
// Lenient Base64: characters outside the alphabet are skipped, a NUL ends
// the input, and a short last group decodes as if padded with '='.
bool base64_decode(const uint8_t* text, int32_t length, std::vector<uint8_t>& out);
int last_errno();
// Formats into NUL-terminated UTF-16 units with LF written as CR LF; returns
// the first unit, or null when nothing was written.
const uint16_t* format_to_utf16(std::vector<uint16_t>& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace vk
