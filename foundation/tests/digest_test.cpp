// Digests and checksums against published vectors and the system's sha1sum
// and md5sum, the chunked file loop (empty files, short reads, progress
// lines), the checksum texts and the log-line prefix.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/uni_fileio.h"
#include "foundation/vk_console.h"
#include "foundation/vk_digest.h"
#include "temp_tree.h"

namespace {

std::string sha1_hex(const std::string& s) {
  uint8_t d[20];
  EXPECT_TRUE(vk::sha1_bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size(), d));
  return vk::digest_hex_text(d, 20);
}
std::string md5_hex(const std::string& s) {
  uint8_t d[16];
  EXPECT_TRUE(vk::md5_bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size(), d));
  return vk::digest_hex_text(d, 16);
}

// The first word of a command's output ("" when it cannot run).
std::string tool_digest(const std::string& tool, const std::string& path) {
  std::string out;
  if (FILE* p = ::popen((tool + " '" + path + "'").c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  return out.substr(0, out.find(' '));
}

std::string pattern_bytes(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 0x12345678u;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace

// Splits of the input are checked against the one-shot forms with the
// hostile buffers; CRC-32 and Adler-32 of "123456789" with the files below.
TEST(Digest, PublishedVectorsAndChecksumText) {
  EXPECT_EQ(sha1_hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1_hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(sha1_hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  vk::crc32_ctx text;
  text.m_value = 0x1A2B;
  EXPECT_EQ(vk::crc32_ctx_hex_text(text), 0x1A2Bu);
  EXPECT_EQ(text.m_text, "0x00001a2b");
}

TEST(Digest, FilesMatchSystemToolsAndFailuresLeaveNoDigest) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  for (size_t n : {1u, 55u, 56u, 64u, 65u, 1000u, 0x1000000u, 0x1000001u}) {
    const std::string name = "f" + std::to_string(n);
    tree.file(name, pattern_bytes(n));
    const std::string path = tree.path(name);
    uint8_t sha[20], md5[16];
    ASSERT_TRUE(vk::sha1_file_utf8(path, sha, false)) << n;
    ASSERT_TRUE(vk::md5_file_utf8(path, md5, false)) << n;
    EXPECT_EQ(vk::digest_hex_text(sha, 20), tool_digest("sha1sum", path)) << n;
    EXPECT_EQ(vk::digest_hex_text(md5, 16), tool_digest("md5sum", path)) << n;
    if (n > 1000) continue;
    uint8_t whole[20];
    ASSERT_TRUE(vk::sha1_file_whole(path.c_str(), whole));
    EXPECT_EQ(vk::digest_hex_text(whole, 20), vk::digest_hex_text(sha, 20));
  }
  tree.file("digits", "123456789");
  uint32_t crc = 1, adler = 1;
  EXPECT_TRUE(vk::crc32_file_cstr(tree.path("digits").c_str(), &crc, false));
  EXPECT_TRUE(vk::adler32_file_cstr(tree.path("digits").c_str(), &adler));
  EXPECT_EQ(crc, 0xCBF43926u);
  EXPECT_EQ(adler, 0x091E01DEu);

  // Empty, missing and unnamed files: false, the digest untouched, the
  // checksums 0.
  tree.file("empty", "");
  for (const std::string& path : {tree.path("empty"), tree.path("missing"), std::string()}) {
    uint8_t sha[20] = {0xAA}, md5[16] = {0xAA};
    crc = adler = 7;
    EXPECT_FALSE(vk::sha1_file_utf8(path, sha, false)) << path;
    EXPECT_FALSE(vk::md5_file_utf8(path, md5, false)) << path;
    EXPECT_FALSE(vk::crc32_file_cstr(path.c_str(), &crc, false)) << path;
    EXPECT_FALSE(vk::adler32_file_cstr(path.c_str(), &adler)) << path;
    EXPECT_EQ(sha[0], 0xAA);
    EXPECT_EQ(md5[0], 0xAA);
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(adler, 0u);
  }

  // A file that shrinks after it was opened: the read comes back short and
  // the loop ends with false instead of digesting a part or spinning.
  tree.file("shrinks", pattern_bytes(5000));
  uni::fileio file(tree.path("shrinks"), false);
  ASSERT_TRUE(file.is_open());
  ASSERT_EQ(::truncate(tree.path("shrinks").c_str(), 3000), 0);
  uint64_t fed = 0;
  int calls = 0;
  EXPECT_FALSE(vk::feed_file_chunks(
      file, [&](const uint8_t*, uint32_t n) { return fed += n, ++calls, true; }, false));
  EXPECT_EQ(calls, 0);

  vk::console_capture cap;
  uint8_t sha[20];
  EXPECT_FALSE(vk::sha1_file_whole(nullptr, sha));
  EXPECT_FALSE(vk::sha1_file_whole(tree.path("missing").c_str(), sha));
  EXPECT_EQ(cap.out(), "sha1: invalid parameters, aborting\nprob opening file " +
                           tree.path("missing") + ", aborting\n");
}

TEST(Digest, ProgressLinesPerChunkThenErase) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string line = "\x1b[2K\r    \rpercent done 100.00\r";
  const std::string erase = "\x1b[2K\r" + std::string(27, ' ') + "\r";
  for (size_t n : {0x1000000u, 0x1000001u}) {
    tree.file("p", std::string(n, 'x'));
    vk::console_capture cap;
    uint32_t crc = 0;
    ASSERT_TRUE(vk::crc32_file_cstr(tree.path("p").c_str(), &crc, true));
    const std::string expected = (n == 0x1000000u ? line : line + line) + erase;
    EXPECT_EQ(cap.err(), expected) << n;
  }
}

TEST(Digest, LogPrefixAndRootTest) {
  std::ostringstream os;
  vk::write_log_prefix(os, "/a/b.txt");
  // "[yyyy-mm-dd hh:mm:ss.mmm UTC] : b.txt ", digits where the shape has 9.
  const std::string shape = "[9999-99-99 99:99:99.999 UTC] : b.txt ";
  const std::string got = os.str();
  ASSERT_EQ(got.size(), shape.size()) << got;
  for (size_t i = 0; i < shape.size(); ++i)
    EXPECT_TRUE(shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(got[i])) != 0
                                : got[i] == shape[i])
        << got;
  std::ostringstream none;
  vk::write_log_prefix(none, nullptr);
  EXPECT_EQ(none.str(), "");
  EXPECT_EQ(vk::is_root_user(), ::getuid() == 0 || ::geteuid() == 0);
}
