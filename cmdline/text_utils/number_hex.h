// Numbers, GUIDs and byte runs written as text (hexadecimal and decimal
// number texts, GUID texts in four styles, hex strings and dumps, labelled
// offset lines, plain decimal fractions), and the small byte encodings read
// back (counted strings, GUID bytes) or searched for (32- and 64-bit values).
// Hexadecimal digits are always lower case. The base-128 readers live in
// foundation/vk_varint.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"
#include "foundation/vk_variant.h"

namespace vk {

// The number text read by parse_u64_text, in decimal, or with hex as "0x"
// and the value zero-filled to width; width 0 picks 2, 4, 6 or 8 digits for
// values below 0xFF, 0xFFFF, 0xFFFFFF and anything else (a minimum). "NaN"
// when the text is no number.
std::string format_number_text(const std::string& text, bool hex, unsigned width);

// Prepares the stream for the next number (hex: hexadecimal, '0' fill;
// else decimal, ' ' fill; right-aligned; a non-zero width set) and returns
// the prefix to write before it ("0x" or "").
std::string number_format_prefix(std::ostream& os, bool hex, unsigned width);

// Style 1: "0x" + Data1, ", 0x" + Data2, Data3 and each Data4 byte; style 2:
// the 16 stored bytes blank-separated; style 3: the stored bytes as "0x.."
// joined by ", "; any other: the dashed form without braces. True.
bool format_guid_styled(std::string& out, guid g, int style);

// Two digits per byte, with blank a single blank between bytes; "" for a
// null buffer or a count of 0.
void bytes_to_hex_text(std::string& out, const uint8_t* bytes, size_t count, bool blank);

// Appends lines of 16 bytes, each "xx " then two blanks, the bytes as
// characters ('.' outside 32..126) and a line end; a short last line is
// padded to full width and gets its characters without a line end. With
// final_eol one more line end follows.
void append_hex_dump(std::string& text, const uint8_t* bytes, size_t count, bool final_eol);

// "0x" rel (3 digits) " : " abs (6 digits) " : " then "label:" padded to
// label_width, the value and a line end. Returns the value's length; the
// stream is left hexadecimal, blank-filled and left-aligned.
size_t write_offset_line(std::ostream& os, uint64_t rel, uint64_t abs, unsigned label_width,
                         const std::string& label, const std::string& value);
// "0x" base + rel (6 digits) " : " rel (3 digits) " : " and the same label and value.
size_t write_based_offset_line(std::ostream& os, uint64_t rel, uint64_t base, unsigned label_width,
                               const std::string& label, const std::string& value);

// The 16 bytes as two digits each, one blank between; nothing for null.
std::ostream& write_hex16(const uint8_t* bytes, std::ostream& os);
std::ostream& write_hex16_line(const uint8_t* bytes, std::ostream& os);

// The value as its integer part and, when there is a fraction, the decimals
// of the fraction written with precision significant digits (at most 100;
// "3.142" for 3.14159 and 3). NaN and infinities give "nan", "inf" and
// "-inf"; a negative value gives "-" and the text of its magnitude.
std::string& format_double_plain(std::string& out, double value, int precision);

// A list of counted strings: a 1- or 2-byte count (read_counted_string's
// length form), then that many counted strings. Returns the bytes consumed;
// a count above the bytes that follow gives the header size and no list.
size_t read_counted_string_list(std::vector<std::string>& list, const uint8_t* data, size_t length);
size_t read_counted_string_vec(std::string& out, const byte_array& bytes);

// True for an empty vector and one of zero bytes only.
bool is_all_zero(const byte_array& bytes);
// The first 16 bytes when there are that many; else g is left alone.
void bytes_to_guid(guid& g, const byte_array& bytes);

// One hit list per value (byte offsets of the little-endian units equal to
// it, at every stride bytes from 0). With first_hit the scan ends at the
// first match. False for a null buffer, a length or stride below the unit
// width, or no hit.
bool scan_u32_values(std::vector<std::vector<uint64_t>>& hits, const uint8_t* buffer, size_t length,
                     const std::vector<uint32_t>& values, size_t stride, bool first_hit);
bool scan_u64_values(std::vector<std::vector<uint64_t>>& hits, const uint8_t* buffer, size_t length,
                     const std::vector<uint64_t>& values, size_t stride, bool first_hit);

}  // namespace vk
