// What a compound file declares but does not hold: streams whose sectors
// lie past the end of the file, and chains (of streams, the directory, the
// mini FAT, the mini stream) that share a sector, so that a stream read
// along its chain would take another's bytes. Found in one pass over the
// chains with a bitmap of sectors; who met whom is worked out only when two
// chains met.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jumplist/compound_file.h"

namespace vk {

struct cfb_chain_finding {
  // A stream's name, or the structure's: "directory", "mini FAT", "mini stream".
  std::string name;
  bool stream = false;  // name is a stream's
  bool mini = false;    // a stream of the mini stream: sector is a mini sector
  // From the start of the stream or structure, where its sectors fail.
  uint64_t offset = 0;
  bool cut = false;   // the file ends before that sector; else it is another chain's
  std::string other;  // the chain it meets (not for a cut)
  bool other_stream = false;
  uint64_t sector = 0;  // the sector (a mini sector for a stream of the mini stream)
  bool set = false;
};

// The findings of a parsed image of image_size bytes, at most one per
// chain, in directory order after the structures. Streams of the mini
// stream are checked against each other and the mini stream's own length.
std::vector<cfb_chain_finding> check_compound_chains(const compound_file_reader& reader,
                                                     uint64_t image_size);

}  // namespace vk
