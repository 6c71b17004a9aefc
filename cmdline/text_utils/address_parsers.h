// Texts turned into values, and path texts normalised: IPv6 and IPv4
// address texts, the serial-number part of a device instance identifier,
// path normalisation, removal of the "\\?\" and "\\.\" device prefixes,
// backslash escaping, GUIDs in three text forms, hexadecimal floating-point
// texts, byte patterns with wildcards and the byte column of a hex dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/vk_guid.h"
#include "foundation/vk_variant.h"

namespace vk {

// Fewer than 7 colons: the first "::" is widened to make 7; then each
// ':'-separated piece (empty is 0) gives two bytes, high byte first. An
// empty text gives 16 zero bytes. True when bytes were produced.
bool parse_ipv6_text(const std::string& text, byte_array& out);

// Four parts separated by '.', else ':', else '-', each read by parse_uint
// and added at bit 24 - 8k (a part above 255 spills into the byte above).
// With swap the four bytes are reversed. out is 0 first.
bool parse_ipv4_text(const char* text, uint32_t& out, bool swap);

// Units in network order, length in bytes; the first run of zero units is
// written as "::". False for a null array or a length below 2.
bool format_ipv6_text(const uint16_t* units, size_t length_bytes, std::string& out);

// The serial part of a device instance identifier: after "PID_", "REV_" or
// "PROD_" in the '#'-separated form, else the last component of a path
// ('/' or '\' unless a separator is given; sep receives the one used).
// base is the serial without a short "&n" tail.
bool device_id_serial(std::string& serial, std::string& base, std::string& sep,
                      const std::string& id);

// Backslashes to slashes, "%NAME%" expanded when asked, "." pieces dropped
// and each piece followed by ".." removed with it. False for an empty text.
bool normalize_path(std::string& text, bool expand);

// Drops the first three characters of a "\\?\" (else "\\.\") prefix. With
// drive_guard a drive letter right after the prefix keeps it; with
// global_guard a "\\?\" path of 47 characters or more keeps it unless it
// continues with "global".
void strip_device_prefix(std::string& text, bool drive_guard, bool global_guard);
void strip_device_prefix_w(std::wstring& text, bool drive_guard, bool global_guard);

// A backslash before every character of the text found in set.
void escape_chars(std::string& text, const std::string& set);

// The dashed form, 32 hex digits in stored order, or 47 characters of
// blank-separated bytes; any other text leaves out unchanged.
void guid_from_any_text(guid& out, const std::string& text);

// "[-]0x" hex digits ["." hex digits] ["p" decimal exponent]. The text is
// lower-cased in place and left holding the digits between "0x" and "p".
bool parse_hex_float(std::string& text, double& out);

// Blank-separated words of at most two hex digits; "??" appends FF FF.
// False at a longer word or a value above 0xFF (the bytes so far stay).
bool parse_hex_pattern(const std::string& text, byte_array& out);

// The bytes of a hex dump in the library's line form: after the first
// double blank of each line, up to 16 two-digit values (the middle double
// blank of a full line included). True only when every line was read and
// every line but the last holds as many bytes as the first; out is emptied
// on failure.
bool parse_hex_dump_text(byte_array& out, const std::string& text);

}  // namespace vk
