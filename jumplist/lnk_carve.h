// Carving shell links out of any file: the chunked scanner over a file, and
// the links of a compound file met inside the scanned data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "foundation/uni_fileio.h"
#include "jumplist/vesk_options.h"

namespace vk {

// Scans the file for LNK headers at multiples of the settings' scan step and
// parses a link at each; the records go into the settings' record multimap
// (keyed by file offset) with the store-records flag, else to report_record
// at once. True when at least one link was parsed, embedded ones included.
bool scan_file_for_lnk(std::ostream& out, const std::string& path, lnk::useropts& options,
                       bool carved);
// The same over a file already open for reading.
bool scan_fileio_for_lnk(std::ostream& out, uni::fileio& file, lnk::useropts& options,
                         bool carved);

// Parses a compound-file image and carves links out of the sectors its
// streams use and out of the gaps between them. Records carry their offset
// in the scanned source: base_offset (where the image starts there) plus the
// hit's place in the image. Stored under the header's write time with the
// store-records flag, else reported at once. True when a link was parsed.
bool process_embedded_jumplist(std::ostream& out, const uint8_t* image, size_t size,
                               bool image_flag, lnk::useropts& options, bool carved,
                               bool progress, uint64_t base_offset = 0);

}  // namespace vk
