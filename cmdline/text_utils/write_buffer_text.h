// A byte buffer written as text: blank-separated two-digit hexadecimal
// bytes, or the printable ASCII and UTF-16 strings found in it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace vk {

// Without text_mode every byte as two lower-case hexadecimal digits, one
// blank between bytes; the stream is left in hexadecimal, right-aligned with
// fill '0'. With text_mode the ASCII and UTF-16 runs of at least min_length
// characters in offset order (ASCII first at an offset both found), joined
// by the separator. False for a null pointer, a size of 0, or (text_mode) a
// size below min_length or no run.
bool write_buffer_text(std::ostream& os, const uint8_t* data, uint32_t size, bool text_mode,
                       uint32_t min_length, const std::string& separator);
// The name the record emitters use for the same routine.
bool render_bytes_text(std::ostream& os, const uint8_t* data, uint32_t size, bool text_mode,
                       uint32_t min_length, const std::string& separator);

}  // namespace vk
