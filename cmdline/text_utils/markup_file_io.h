// Whole-file reads and writes shared by the markup file routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vk::markup_io {

// Every byte of a file; an empty file is read as no bytes. False when the
// file can't be opened or read, or holds more than max_size bytes.
bool read_whole(const std::string& path, std::vector<uint8_t>& out, uint64_t max_size);

// Creates or truncates the file and writes size bytes to it. `opened` tells
// whether the file could be opened; the result whether every byte arrived.
bool write_whole(const std::string& path, const uint8_t* data, size_t size, bool& opened);

}  // namespace vk::markup_io
