// How far a shell link reaches by its own declared sizes: the header, the
// target ID list, LinkInfo, the five StringData texts and the extra-data
// blocks up to the terminal block. A scanner hands each link this extent, not
// a fixed share of what follows it, so that long texts and blocks are read in
// full.
#pragma once

#include <cstdint>

#include "foundation/vk_bytes.h"

namespace vk {

struct lnk_extent {
  enum class end : uint8_t {
    terminal,  // the walk reached the terminal block; size includes it
    damaged,   // a structure at size fails its own test: its extent is unknown
    open,      // the bytes ran out; size is how many the walk needs to go on
    capped,    // the declared sizes reach past the cap; size is the cap
  };
  uint64_t size = 0;
  end how = end::open;
  // For an open walk: the bytes end exactly where the next extra-data block
  // would begin, so a link that ends there ends whole (its terminal block
  // missing); a structure its flags announce is never missing so.
  bool at_boundary = false;
};

// Walks the declared sizes of the link whose first byte is link's first
// byte (the header is taken as tested). BlockSize is read whole and a block
// of any signature stepped over by it; LinkInfo must have a header size the
// format allows. Work is bounded by link's size.
lnk_extent declared_lnk_extent(byte_view link, uint64_t cap);

}  // namespace vk
