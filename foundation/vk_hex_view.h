// The hex view: classic hex-dump lines (address, sixteen bytes in
// hexadecimal, their printable characters), bare hexadecimal byte lists,
// printable-text lines and raw bytes. The pointer forms serve the debug dumps
// of parsed items; the rest work over binary_data, a view of bytes that
// either borrows a caller's buffer or holds its own copy.
//
// Every writer over a view clips the range it is given to the view's bytes
// and never reads past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/vk_parse_debug.h"

namespace vk {

// Called after each line with (context, index of the line's first byte, end index).
using hex_progress_callback = uint32_t (*)(uint32_t context, uint32_t start, uint32_t end);

// Largest buffer the limited dumps write; a larger one gets a refusal line.
inline constexpr size_t k_hexdump_limit = 0x1000000;

// One line of count bytes (at most 16) at data, no line end. The address
// column shows base_address when with_address is set.
void hexdump_line(std::ostream& os, const uint8_t* data, size_t count, uint64_t base_address,
                  bool with_address);

// out = the lines of bytes [start, end) of data, "\n" after each; the first
// line is labelled base_address. A null data or start >= end gives "".
void hexdump_text(std::string& out, const uint8_t* data, size_t start, size_t end,
                  uint64_t base_address, bool with_address,
                  hex_progress_callback callback = nullptr, uint32_t context = 0);

// The dump of [0, size) with addresses onto os, or, above k_hexdump_limit,
// "size to big to output: size 0x<size>" and a line end (the stream's format
// flags are restored after it).
void hexdump_limited_to(std::ostream& os, const uint8_t* data, size_t size, uint64_t base_address);
// The same onto the parse's debug stream, only when its debug output is on.
void hexdump_limited(const parse_debug& debug, const uint8_t* data, size_t size,
                     uint64_t base_address);

enum binary_data_mode : uint32_t {
  mode_grouped = 0x1,  // grouped text lines; in range writes, the line form of hex output
  mode_hex = 0x2,      // hexadecimal, else raw bytes or text lines
  mode_lines = 0x4,    // lines with an address column
  mode_text = 0x8,     // in range writes without mode_hex, allows raw or text output
};

class binary_data {
 public:
  binary_data() = default;
  binary_data(const binary_data& other);
  binary_data& operator=(const binary_data& other);
  virtual ~binary_data();

  // The byte at index; 0 for an index at or past the end.
  uint8_t operator()(uint32_t index) const;
  // Owned copies only: false, nothing changed, for a borrowing view.
  bool clear();
  bool append_byte(uint8_t byte);
  bool append_bytes(const uint8_t* bytes, uint32_t count);
  // Removes [start, min(start + len, size)); false for start at or past the end.
  bool erase_range(uint32_t start, uint32_t len);
  // Replaces the copy by up to len bytes of the file from offset, clipped to
  // the file; false for a borrowing view, a file that does not open or read,
  // or an offset at or past its end.
  bool load_file_range(const std::string& path, uint32_t offset, uint32_t len);

  uint32_t m_num_data = 0;
  std::vector<uint8_t> m_bytes;
  uint32_t m_mode = mode_hex;
  bool m_owns = false;
  const uint8_t* m_data = nullptr;
};

// A view of the buffer: copied with copy set, else borrowed (the caller
// keeps it alive). A null pointer or size 0 gives an empty view.
binary_data binary_data_from_buffer(const uint8_t* buffer, uint32_t size, bool copy);
binary_data binary_data_from_vector(const std::vector<uint8_t>& bytes, bool copy);
// Owned copies of size equal bytes; an empty view when they cannot be had.
binary_data binary_data_filled(uint32_t size, uint8_t fill);
binary_data binary_data_zeroed(uint32_t size);

// ---- writers over a view; base = the address printed for the range's first byte ----

// One hex-dump line of count (at most 16) bytes from start, no line end.
void hexdump_line(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                  uint64_t base, bool address);
// The lines of [start, end), each followed by "\n", into out.
void hexdump_text(std::string& out, const binary_data& view, uint32_t start, uint32_t end,
                  uint64_t base, bool address, hex_progress_callback callback, uint32_t context);
// The same directly on a stream, with the upper address group always 4 digits
// and the bytes through the stream's own hexadecimal setting.
void hexdump_stream_line(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                         uint64_t base, bool address);
void hexdump_stream(std::ostream& os, const binary_data& view, uint32_t start, uint32_t end,
                    uint64_t base, bool address, hex_progress_callback callback, uint32_t context);
// UTF-16LE lines, each ending in CR LF as two code units.
void hexdump_line_utf16(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                        uint64_t base);
void hexdump_utf16_lines(std::ostream& os, const binary_data& view, uint32_t start, uint32_t end,
                         uint64_t base);
// "xx " per byte, a line end after each byte whose index + 1 is a multiple
// of 16, one more at the end.
void dump_hex_bytes(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count);
void dump_raw_bytes(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count);
// Printable-text lines of 48 (grouped) or 64 bytes.
void dump_text_line(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                    uint64_t base, bool grouped);
void dump_text_lines(std::ostream& os, const binary_data& view, uint32_t start, uint32_t count,
                     uint64_t base, bool grouped);
// All bytes, or a range, in the form of m_mode.
void write_binary_data(std::ostream& os, const binary_data& view);
// Replaces the file at path with write_binary_data's output: written beside
// it and renamed over it, so a failed write leaves the old file and a link
// at the path is replaced, never written through.
bool write_binary_data_file(const binary_data& view, const std::string& path);
void write_binary_data_range(const binary_data& view, std::ostream& os, uint32_t start,
                             uint32_t count, uint64_t base);

// ---- front ends over a caller's buffer ----

void hexdump_to_stream(const uint8_t* buffer, uint32_t size, std::ostream& os, uint32_t start,
                       uint64_t base);
void hexdump_to_stream_progress(const uint8_t* buffer, uint32_t size, std::ostream& os,
                                uint32_t start, uint64_t base, hex_progress_callback callback,
                                uint32_t context);
void hexdump_to_string(const uint8_t* buffer, uint32_t size, std::string& out, uint32_t start,
                       uint64_t base);
void hexdump_to_string_progress(const uint8_t* buffer, uint32_t size, std::string& out,
                                uint32_t start, uint64_t base, hex_progress_callback callback,
                                uint32_t context);
void hexdump_buffer_to_stream(const uint8_t* buffer, uint32_t size, std::ostream& os,
                              uint32_t start, uint64_t base, bool address);
void hexdump_utf16_to_stream(const uint8_t* buffer, uint32_t size, std::ostream& os, uint32_t start,
                             uint64_t base);
void hexdump_vector(const std::vector<uint8_t>& bytes, std::ostream& os, uint32_t start,
                    uint64_t base);
// One summary line when every byte from start is the same, else the dump;
// nothing for a start at or past the end.
void hexdump_vector_or_run(const std::vector<uint8_t>& bytes, std::ostream& os, uint32_t start,
                           uint64_t base);

}  // namespace vk
