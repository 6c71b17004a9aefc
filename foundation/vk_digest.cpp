#include "foundation/vk_digest.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "foundation/uni_fileio.h"
#include "foundation/vk_console.h"
#include "foundation/vk_crc.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

inline uint32_t rotl(uint32_t x, unsigned n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint32_t load_le32_bytes(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void sha1_block(uint32_t state[5], const uint8_t* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = load_be32(block + 4 * t);
  for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const uint32_t temp = rotl(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = temp;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

constexpr uint32_t k_md5_k[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr unsigned k_md5_s[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void md5_block(uint32_t state[4], const uint8_t* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load_le32_bytes(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (unsigned i = 0; i < 64; ++i) {
    uint32_t f;
    unsigned g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const uint32_t next = b + rotl(a + f + k_md5_k[i] + m[g], k_md5_s[i]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

// The block buffering shared by both digests.
template <class Ctx, class Block>
bool feed_blocks(Ctx& ctx, const uint8_t* data, size_t len, Block block) {
  if (!data) return len == 0;
  ctx.m_length += len;
  if (ctx.m_used) {
    const size_t take = std::min<size_t>(64 - ctx.m_used, len);
    std::memcpy(ctx.m_block + ctx.m_used, data, take);
    ctx.m_used += static_cast<uint32_t>(take);
    data += take;
    len -= take;
    if (ctx.m_used < 64) return true;
    block(ctx.m_state, ctx.m_block);
    ctx.m_used = 0;
  }
  for (; len >= 64; data += 64, len -= 64) block(ctx.m_state, data);
  if (len) std::memcpy(ctx.m_block, data, len);
  ctx.m_used = static_cast<uint32_t>(len);
  return true;
}

// 0x80, zeros to 56 mod 64, then the bit length (big- or little-endian).
template <class Ctx, class Block>
void pad_blocks(Ctx& ctx, bool big_endian, Block block) {
  const uint64_t bits = ctx.m_length * 8;
  ctx.m_block[ctx.m_used++] = 0x80;
  if (ctx.m_used > 56) {
    std::memset(ctx.m_block + ctx.m_used, 0, 64 - ctx.m_used);
    block(ctx.m_state, ctx.m_block);
    ctx.m_used = 0;
  }
  std::memset(ctx.m_block + ctx.m_used, 0, 56 - ctx.m_used);
  for (int i = 0; i < 8; ++i)
    ctx.m_block[56 + i] = static_cast<uint8_t>(bits >> (big_endian ? 8 * (7 - i) : 8 * i));
  block(ctx.m_state, ctx.m_block);
  ctx.m_used = 0;
}

constexpr uint32_t k_chunk = 0x1000000;
constexpr uint32_t k_adler_mod = 65521;

template <class Digest>
bool digest_of_file(const std::wstring& path, Digest& digest) {
  if (path.empty()) return false;
  return guarded([&] {
    uni::fileio file(path, false);
    return file.is_open() && digest(file);
  });
}

std::string hex8_text(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", value);
  return buf;
}

}  // namespace

// ---- incremental digests ----

void sha1_init(sha1_ctx& ctx) {
  static constexpr uint32_t k_start[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                          0xC3D2E1F0u};
  std::memcpy(ctx.m_state, k_start, sizeof k_start);
  ctx.m_length = 0;
  ctx.m_used = 0;
  std::memset(ctx.m_block, 0, sizeof ctx.m_block);
}

bool sha1_update(sha1_ctx& ctx, const uint8_t* data, size_t len) {
  return feed_blocks(ctx, data, len, sha1_block);
}

void sha1_finish(sha1_ctx& ctx, uint8_t digest[20]) {
  pad_blocks(ctx, true, sha1_block);
  for (int i = 0; i < 20; ++i)
    digest[i] = static_cast<uint8_t>(ctx.m_state[i / 4] >> (8 * (3 - i % 4)));
}

bool sha1_bytes(const uint8_t* data, size_t len, uint8_t digest[20]) {
  if (!digest || (!data && len)) return false;
  sha1_ctx ctx;
  sha1_init(ctx);
  sha1_update(ctx, data, len);
  sha1_finish(ctx, digest);
  return true;
}

void md5_init(md5_ctx& ctx) {
  static constexpr uint32_t k_start[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  std::memcpy(ctx.m_state, k_start, sizeof k_start);
  ctx.m_length = 0;
  ctx.m_used = 0;
  std::memset(ctx.m_block, 0, sizeof ctx.m_block);
}

bool md5_update(md5_ctx& ctx, const uint8_t* data, size_t len) {
  return feed_blocks(ctx, data, len, md5_block);
}

void md5_finish(md5_ctx& ctx, uint8_t digest[16]) {
  pad_blocks(ctx, false, md5_block);
  for (int i = 0; i < 16; ++i)
    digest[i] = static_cast<uint8_t>(ctx.m_state[i / 4] >> (8 * (i % 4)));
}

bool md5_bytes(const uint8_t* data, size_t len, uint8_t digest[16]) {
  if (!digest || (!data && len)) return false;
  md5_ctx ctx;
  md5_init(ctx);
  md5_update(ctx, data, len);
  md5_finish(ctx, digest);
  return true;
}

void crc32_init(crc32_ctx& ctx) {
  ctx.m_value = 0;
  ctx.m_text.clear();
}

bool crc32_update(crc32_ctx& ctx, const uint8_t* data, size_t len) {
  if (!data) return len == 0;
  ctx.m_value = ~crc32_update_register(~ctx.m_value, data, len);
  return true;
}

void adler32_init(adler32_ctx& ctx) {
  ctx.m_value = 1;
  ctx.m_text.clear();
}

bool adler32_update(adler32_ctx& ctx, const uint8_t* data, size_t len) {
  if (!data) return len == 0;
  uint32_t a = ctx.m_value & 0xFFFF, b = ctx.m_value >> 16;
  while (len) {
    // 5552 bytes is the most that cannot overflow b before the reduction.
    size_t n = std::min<size_t>(len, 5552);
    len -= n;
    while (n--) {
      a += *data++;
      b += a;
    }
    a %= k_adler_mod;
    b %= k_adler_mod;
  }
  ctx.m_value = (b << 16) | a;
  return true;
}

uint32_t crc32_ctx_hex_text(crc32_ctx& ctx) {
  guarded([&] { ctx.m_text = hex8_text(ctx.m_value); }, [&] { ctx.m_text.clear(); });
  return ctx.m_value;
}

uint32_t adler32_ctx_hex_text(adler32_ctx& ctx) {
  guarded([&] { ctx.m_text = hex8_text(ctx.m_value); }, [&] { ctx.m_text.clear(); });
  return ctx.m_value;
}

std::string digest_hex_text(const uint8_t* digest, size_t len) {
  static const char k_digits[] = "0123456789abcdef";
  if (!digest) return {};
  return guarded([&] {
    std::string out;
    out.reserve(2 * len);
    for (size_t i = 0; i < len; ++i) {
      out += k_digits[digest[i] >> 4];
      out += k_digits[digest[i] & 0xF];
    }
    return out;
  });
}

// ---- whole files ----

bool feed_file_chunks(uni::fileio& file,
                      const std::function<bool(const uint8_t*, uint32_t)>& update, bool progress) {
  const uint64_t size = file.stored_size();
  if (size == 0) return false;
  std::vector<uint8_t> buffer;
  if (!guarded([&] {
        buffer.resize(size < k_chunk ? static_cast<size_t>(size) : k_chunk);
        return true;
      }))
    return false;
  bool ok = true;
  uint64_t offset = 0;
  while (offset < size) {
    const uint64_t left = size - offset;
    const uint32_t want =
        left < buffer.size() ? static_cast<uint32_t>(left) : static_cast<uint32_t>(buffer.size());
    uint32_t got = want;
    // A short read (the file shrank, or the device stopped) would otherwise
    // never reach the size: the digest of what is there is not the file's.
    if (!file.read_at(buffer.data(), got, offset) || got != want || !update(buffer.data(), got)) {
      ok = false;
      break;
    }
    offset += got;
    if (progress) {
      const double share = static_cast<double>(offset) / static_cast<double>(size);
      status_printf("percent done %4.2f", share > 0.99 ? 100.0 : share * 100.0);
    }
  }
  if (progress) erase_status_line();
  return ok;
}

bool sha1_file(const std::wstring& path, uint8_t* digest, bool progress) {
  if (!digest) return false;
  auto run = [&](uni::fileio& file) {
    sha1_ctx ctx;
    sha1_init(ctx);
    if (!feed_file_chunks(
            file, [&](const uint8_t* p, uint32_t n) { return sha1_update(ctx, p, n); }, progress))
      return false;
    sha1_finish(ctx, digest);
    return true;
  };
  return digest_of_file(path, run);
}

bool md5_file(const std::wstring& path, uint8_t* digest, bool progress) {
  if (!digest) return false;
  auto run = [&](uni::fileio& file) {
    md5_ctx ctx;
    md5_init(ctx);
    if (!feed_file_chunks(
            file, [&](const uint8_t* p, uint32_t n) { return md5_update(ctx, p, n); }, progress))
      return false;
    md5_finish(ctx, digest);
    return true;
  };
  return digest_of_file(path, run);
}

bool crc32_file(const std::wstring& path, uint32_t* value, bool progress) {
  if (!value) return false;
  *value = 0;
  auto run = [&](uni::fileio& file) {
    crc32_ctx ctx;
    crc32_init(ctx);
    if (!feed_file_chunks(
            file, [&](const uint8_t* p, uint32_t n) { return crc32_update(ctx, p, n); }, progress))
      return false;
    *value = ctx.m_value;
    return true;
  };
  return digest_of_file(path, run);
}

bool adler32_file(const std::wstring& path, uint32_t* value, bool progress) {
  if (!value) return false;
  *value = 0;
  auto run = [&](uni::fileio& file) {
    adler32_ctx ctx;
    adler32_init(ctx);
    if (!feed_file_chunks(
            file, [&](const uint8_t* p, uint32_t n) { return adler32_update(ctx, p, n); },
            progress))
      return false;
    *value = ctx.m_value;
    return true;
  };
  return digest_of_file(path, run);
}

bool sha1_file_utf8(const std::string& path, uint8_t* digest, bool progress) {
  return guarded([&] { return sha1_file(from_utf8(path), digest, progress); });
}

bool md5_file_utf8(const std::string& path, uint8_t* digest, bool progress) {
  return guarded([&] { return md5_file(from_utf8(path), digest, progress); });
}

bool crc32_file_cstr(const char* path, uint32_t* value, bool progress) {
  if (!path) {
    if (value) *value = 0;
    return false;
  }
  return guarded([&] { return crc32_file(from_utf8(path), value, progress); });
}

bool adler32_file_cstr(const char* path, uint32_t* value) {
  if (!path) {
    if (value) *value = 0;
    return false;
  }
  return guarded([&] { return adler32_file(from_utf8(path), value, false); });
}

bool sha1_file_whole(const char* path, uint8_t* digest) {
  return guarded([&] {
    if (!path || !digest) {
      console_write(console_stdout, "sha1: invalid parameters, aborting\n");
      return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (in) in.seekg(0, std::ios::end);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (!in || size < 0) {
      console_write(console_stdout, std::string("prob opening file ") + path + ", aborting\n");
      return false;
    }
    in.seekg(0, std::ios::beg);
    std::vector<uint8_t> buffer;
    if (!guarded([&] {
          buffer.resize(static_cast<size_t>(size));
          return true;
        })) {
      console_write(console_stdout, "prob allocating heap, aborting\n");
      return false;
    }
    in.read(reinterpret_cast<char*>(buffer.data()), size);
    // Fewer bytes than measured: the file changed under us.
    if (in.gcount() != size) return false;
    return sha1_bytes(buffer.data(), buffer.size(), digest);
  });
}

void write_log_prefix(std::ostream& os, const char* path) {
  if (!path) return;
  guarded([&] {
    std::string directory, name;
    if (!split_path_cstr(path, directory, name)) name = path;
    os << '[';
    write_date_time(os, time_now());
    os << " UTC] : " << name << ' ';
  });
}

bool is_root_user() {
  return ::getuid() == 0 || ::geteuid() == 0;
}

}  // namespace vk
