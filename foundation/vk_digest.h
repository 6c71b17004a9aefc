// Message digests and checksums (SHA-1, MD5, CRC-32, Adler-32) in an
// incremental form (init, update, finish), the same over whole files with an
// optional progress line, the checksum texts, the prefix of a time-stamped
// log line and the administrator test.
//
// The file routines report every failure by false and leave their output
// untouched then: an empty file, one that does not open, and one that
// delivers fewer bytes than its size promised (it shrank, or a read failed)
// get no digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace uni {
class fileio;
}

namespace vk {

// ---- incremental digests ----

struct sha1_ctx {
  uint32_t m_state[5];
  uint64_t m_length;  // bytes fed so far
  uint8_t m_block[64];
  uint32_t m_used;  // bytes waiting in m_block
};
void sha1_init(sha1_ctx& ctx);
// False (nothing fed) for a null pointer with a non-zero length.
bool sha1_update(sha1_ctx& ctx, const uint8_t* data, size_t len);
void sha1_finish(sha1_ctx& ctx, uint8_t digest[20]);
// One-shot form; false for a null digest or a null pointer with a length.
bool sha1_bytes(const uint8_t* data, size_t len, uint8_t digest[20]);

struct md5_ctx {
  uint32_t m_state[4];
  uint64_t m_length;
  uint8_t m_block[64];
  uint32_t m_used;
};
void md5_init(md5_ctx& ctx);
bool md5_update(md5_ctx& ctx, const uint8_t* data, size_t len);
void md5_finish(md5_ctx& ctx, uint8_t digest[16]);
bool md5_bytes(const uint8_t* data, size_t len, uint8_t digest[16]);

// Checksum contexts hold the finished value of everything fed so far, so it
// can be read at any point; m_text receives its text.
struct crc32_ctx {
  uint32_t m_value = 0;
  std::string m_text;
};
void crc32_init(crc32_ctx& ctx);
bool crc32_update(crc32_ctx& ctx, const uint8_t* data, size_t len);

struct adler32_ctx {
  uint32_t m_value = 1;
  std::string m_text;
};
void adler32_init(adler32_ctx& ctx);
bool adler32_update(adler32_ctx& ctx, const uint8_t* data, size_t len);

// "0x" and eight lower-case hexadecimal digits of the value into m_text;
// returns the value.
uint32_t crc32_ctx_hex_text(crc32_ctx& ctx);
uint32_t adler32_ctx_hex_text(adler32_ctx& ctx);

// Lower-case hexadecimal text of a digest.
std::string digest_hex_text(const uint8_t* digest, size_t len);

// ---- whole files ----

// Feeds an open file to update in chunks of at most 16 MiB, from offset 0 up
// to the size recorded when it was opened. With progress, each chunk shows
// "percent done %4.2f" on the status line, which is erased at the end. False
// for a file that is not open or empty, a failed chunk allocation, an update
// that returns false, or a read that comes back short of what the size
// promised.
bool feed_file_chunks(uni::fileio& file,
                      const std::function<bool(const uint8_t*, uint32_t)>& update, bool progress);

bool sha1_file(const std::wstring& path, uint8_t* digest, bool progress);
bool md5_file(const std::wstring& path, uint8_t* digest, bool progress);
// The checksum forms set *value to 0 first.
bool crc32_file(const std::wstring& path, uint32_t* value, bool progress);
bool adler32_file(const std::wstring& path, uint32_t* value, bool progress);
bool sha1_file_utf8(const std::string& path, uint8_t* digest, bool progress);
bool md5_file_utf8(const std::string& path, uint8_t* digest, bool progress);
bool crc32_file_cstr(const char* path, uint32_t* value, bool progress);
bool adler32_file_cstr(const char* path, uint32_t* value);
// Reads the file in one piece. Prints "sha1: invalid parameters, aborting",
// "prob opening file <path>, aborting" or "prob allocating heap, aborting" on
// standard output for those failures; false, without a digest, when fewer
// bytes arrive than the size measured.
bool sha1_file_whole(const char* path, uint8_t* digest);

// "[<date> <time> UTC] : <file name> " with the current time; nothing for a
// null path.
void write_log_prefix(std::ostream& os, const char* path);
// True when the real or the effective user id is 0.
bool is_root_user();

}  // namespace vk
