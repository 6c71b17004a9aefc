// LNK headers found in a byte buffer by their signature: HeaderSize 76 and
// the link CLSID, at multiples of a step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vk {

// The first 20 bytes of a ShellLinkHeader: HeaderSize and the link CLSID.
const std::vector<uint8_t>& lnk_header_pattern();

// The first header at a multiple of step (0 counts as 1) whose 76 bytes the
// buffer holds.
bool find_lnk_signature(uint32_t& position, const uint8_t* buffer, size_t size, uint32_t step);
// Every such header, in ascending order; true when there is one.
bool find_all_lnk_signatures(std::vector<uint32_t>& positions, const uint8_t* buffer, size_t size,
                             uint32_t step);

}  // namespace vk
