// How far a shell link reaches by its own declared sizes: the header, the
// target ID list, LinkInfo, the five StringData texts and the extra-data
// blocks up to the terminal block. A scanner hands each link this extent, not
// a fixed share of what follows it, so that long texts and blocks are read in
// full. Apart from the extent, the walk tells where the first structure that
// fails its own test lies, and whether a carving candidate's header can be a
// link's at all.
#pragma once

#include <cstdint>

#include "foundation/vk_bytes.h"

namespace vk {

// The most of one link a carve or a free-space search hands its parse;
// sizes declared beyond it are taken as a link cut there.
inline constexpr uint64_t k_max_link_size = uint64_t{16} << 20;

struct lnk_extent {
  enum class end : uint8_t {
    terminal,  // the walk reached the terminal block; size includes it
    damaged,   // a BlockSize of 4 to 7 gives no size to step by; size ends with it
    open,      // the bytes ran out; size is how many the walk needs to go on
    capped,    // the declared sizes reach past the cap; size is the cap
  };
  uint64_t size = 0;
  end how = end::open;
  // For an open walk: the bytes end exactly where the next extra-data block
  // would begin, so a link that ends there ends whole (its terminal block
  // missing); a structure its flags announce is never missing so.
  bool at_boundary = false;
  // Where the first structure that fails its own test begins (an ID list
  // whose items miss their terminator, a LinkInfo of a header size or offsets
  // the format does not allow, a text that does not decode, a BlockSize of 4
  // to 7); the walk goes on by its declared size all the same.
  static constexpr uint64_t k_plausible = UINT64_MAX;
  uint64_t implausible_at = k_plausible;
  // For a capped walk, the bytes a parser can use: up to the header of an
  // extra-data block that reaches past the cap (none of it is read), the
  // first MiB of a LinkInfo that does (more than any LinkInfo's parts
  // take), else the cap.
  uint64_t useful = 0;
};

// Walks the declared sizes of the link whose first byte is link's first
// byte (the header is taken as tested), as the parser follows them: BlockSize
// is read whole and a block of any signature stepped over by it (a BlockSize
// below 4 before the signature of a kind of one fixed size by the kind's
// size, its size taken as zeroed, not as the terminal block). Without
// tests, the structures are not tested (implausible_at is set only by a
// BlockSize of 4 to 7). Work is bounded by link's size.
lnk_extent declared_lnk_extent(byte_view link, uint64_t cap, bool tests = true);

// The header at header's first byte (76 bytes, or fewer where the bytes end)
// can be a link's: what every link Windows writes holds there, so that bytes
// which only repeat the header's size and class identifier are no link.
bool could_be_link_header(byte_view header);

}  // namespace vk
