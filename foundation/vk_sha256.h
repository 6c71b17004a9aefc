// SHA-256 in the incremental form of the other digests (init, update,
// finish), with a one-shot helper.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vk {

struct sha256_ctx {
  uint32_t m_state[8];
  uint64_t m_length;  // bytes fed so far
  uint8_t m_block[64];
  uint32_t m_used;  // bytes waiting in m_block
};
void sha256_init(sha256_ctx& ctx);
// False (nothing fed) for a null pointer with a non-zero length.
bool sha256_update(sha256_ctx& ctx, const uint8_t* data, size_t len);
void sha256_finish(sha256_ctx& ctx, uint8_t digest[32]);
// One-shot form; false for a null digest or a null pointer with a length.
bool sha256_bytes(const uint8_t* data, size_t len, uint8_t digest[32]);

}  // namespace vk
