#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <random>
#include <sstream>
#include <string_view>

#include "byte_builder.h"
#include "foundation/vk_crc.h"

using namespace vk;

namespace {

const std::string k_check = "123456789";
const uint8_t* check_bytes() {
  return reinterpret_cast<const uint8_t*>(k_check.data());
}

// Upper-cased UTF-16LE bytes of an ASCII path, as the AppID hash takes them.
std::vector<uint8_t> appid_input(std::string_view path) {
  std::vector<uint8_t> out;
  for (char c : path) {
    out.push_back(static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    out.push_back(0);
  }
  return out;
}

TEST(Crc, CheckValues) {
  EXPECT_EQ(appid_crc64(check_bytes(), 9), 0x75D4B74F024ECEEAull);
  EXPECT_EQ(crc64_ecma(check_bytes(), 9), 0x66A2364420E6C605ull);
  std::vector<uint64_t> t;
  uint64_t reg = 12345;
  EXPECT_EQ(crc64_ecma182_msb(reg, check_bytes(), 9, t), 0x6C40DF5F0B497347ull);
  EXPECT_EQ(reg, 0x6C40DF5F0B497347ull);
  EXPECT_EQ(crc32_table_hash(check_bytes(), 9), 0x340BC6D9u);

  std::vector<uint8_t> v(k_check.begin(), k_check.end());
  EXPECT_EQ(appid_crc64(v), 0x75D4B74F024ECEEAull);
  EXPECT_EQ(crc64_ecma(v), 0x66A2364420E6C605ull);
  uint32_t c32 = 0;
  EXPECT_TRUE(crc32_table_hash(v, c32));
  EXPECT_EQ(c32, 0x340BC6D9u);
  std::vector<uint32_t> t32;
  uint32_t r32 = 0;
  EXPECT_TRUE(crc32_with_table(r32, k_check, t32));
  EXPECT_EQ(r32, 0x340BC6D9u);
  EXPECT_EQ(crc32_finish(r32), ~0x340BC6D9u);  // the plain CRC-32 value
  EXPECT_EQ(r32, 0xCBF43926u);
  // CRC-32C's published check value, 0xE3069283, is the inverted register.
  EXPECT_EQ(~crc32c_update_register(~0u, check_bytes(), 9), 0xE3069283u);
  EXPECT_EQ(crc32c_update_register(7, nullptr, 9), 7u);
}

TEST(Crc, AppIdsOfRealJumpListNames) {
  EXPECT_EQ(appid_crc64(appid_input("{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\notepad.exe")),
            0x9b9cdc69c1c24e2bull);
  EXPECT_EQ(appid_crc64(appid_input("Microsoft.Windows.Explorer")), 0xf01b4d95cf55d32aull);
  EXPECT_EQ(appid_crc64(appid_input("chrome")), 0x5d696d521de238c3ull);
}

TEST(Crc, EmptyAndNullInputs) {
  EXPECT_EQ(appid_crc64(nullptr, 9), 0u);
  EXPECT_EQ(appid_crc64(check_bytes(), 0), 0u);
  EXPECT_EQ(appid_crc64(std::vector<uint8_t>{}), 0u);
  EXPECT_EQ(crc64_ecma(nullptr, 3), 0u);
  EXPECT_EQ(crc64_ecma(check_bytes(), 0), 0u);
  EXPECT_EQ(crc32_table_hash(nullptr, 3), 0u);
  EXPECT_EQ(crc32_table_hash(check_bytes(), 0), 0u);
  uint32_t out = 7;
  EXPECT_FALSE(crc32_table_hash(std::vector<uint8_t>{}, out));
  EXPECT_EQ(out, 0u);

  std::vector<uint64_t> t;
  uint64_t reg = 55;
  EXPECT_EQ(crc64_ecma_with_table(reg, nullptr, 4, t), 0u);
  EXPECT_EQ(reg, 55u);
  EXPECT_EQ(crc64_ecma_with_table(reg, std::string(), t), 0u);
  EXPECT_EQ(reg, 55u);
  EXPECT_EQ(crc64_ecma182_msb(reg, std::vector<uint8_t>{}, t), 0u);
  EXPECT_EQ(reg, 55u);
  EXPECT_EQ(crc64_ecma182_msb(reg, nullptr, 4, t), 0u);
  EXPECT_EQ(reg, 0u);  // the pointer form clears its register first
  reg = 55;
  EXPECT_EQ(crc64_ecma182_msb(reg, check_bytes(), 0, t), 0u);
  EXPECT_EQ(reg, 0u);
  std::vector<uint32_t> t32;
  uint32_t r32 = 9;
  EXPECT_FALSE(crc32_with_table(r32, std::vector<uint8_t>{}, t32));
  EXPECT_EQ(r32, 9u);
}

TEST(Crc, CallerTablesRestartAndAreReused) {
  std::vector<uint64_t> t;
  uint64_t reg = 0;
  const uint64_t first = crc64_ecma_with_table(reg, check_bytes(), 9, t);
  EXPECT_EQ(first, 0x66A2364420E6C605ull);
  EXPECT_EQ(t.size(), 256u);
  EXPECT_EQ(crc64_ecma_with_table(reg, check_bytes(), 9, t), first);  // no chaining

  // A full table is used as it is, whatever built it.
  std::vector<uint64_t> other;
  crc64_build_table_reflected(other, 0x92C64265D32139A4ull);
  EXPECT_EQ(crc64_ecma_with_table(reg, check_bytes(), 9, other), 0x75D4B74F024ECEEAull);
  crc64_build_table_reflected(other, 0xC96C5795D7870F42ull);  // left untouched
  EXPECT_EQ(crc64_ecma_with_table(reg, check_bytes(), 9, other), 0x75D4B74F024ECEEAull);

  // The MSB-first table is rebuilt unless its entry 1 is the polynomial.
  std::vector<uint64_t> msb(256, 0);
  EXPECT_EQ(crc64_ecma182_msb(reg, k_check, msb), 0x6C40DF5F0B497347ull);
  EXPECT_EQ(msb[1], 0x42F0E1EBA9EA3693ull);

  std::vector<uint32_t> t32(5, 0);
  crc32_build_table(t32, 0xEDB88320u);
  ASSERT_EQ(t32.size(), 256u);
  EXPECT_EQ(t32[128], 0xEDB88320u);
  uint32_t r = 0;
  EXPECT_EQ(crc32_with_table(r, check_bytes(), 9, t32), 0x340BC6D9u);
  EXPECT_EQ(crc32_with_table(r, check_bytes(), 9, t32), 0x340BC6D9u);
}

TEST(Crc, RegistersAndTableText) {
  uint64_t reg = 5;
  crc64_init_register(reg, false);
  EXPECT_EQ(reg, ~uint64_t{0});
  crc64_init_register(reg, true);
  EXPECT_EQ(reg, 0u);
  uint32_t r = 0;
  EXPECT_EQ(crc32_init_register(r), 0xFFFFFFFFu);
  EXPECT_EQ(crc32_finish(r), 0u);

  std::vector<uint32_t> t32;
  crc32_build_table(t32, 0xEDB88320u);
  std::ostringstream os;
  os << std::dec;
  crc32_table_text(os, t32);
  const std::string s = os.str();
  EXPECT_EQ(s.substr(0, 33), "0x00000000 0x77073096 0xee0e612c ");
  EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 256 / 5 + 1);
  EXPECT_EQ(s.size(), 256 * 11 + 256 / 5 + 1);
  os << std::setw(4) << 10;  // the stream stays hexadecimal with fill '0'
  EXPECT_EQ(os.str().substr(s.size()), "000a");

  std::vector<uint64_t> t64;
  crc64_build_table_reflected(t64, 0xC96C5795D7870F42ull);
  std::ostringstream os64;
  crc64_table_text(os64, t64);
  EXPECT_EQ(os64.str().substr(0, 38), "0x0000000000000000 0xb32e4cbe03a75f6f ");
  std::ostringstream none;
  crc64_table_text(none, std::vector<uint64_t>(255, 1));
  EXPECT_TRUE(none.str().empty());
}

TEST(Crc, RandomBuffersUnderTheSanitizers) {
  std::mt19937 rng(144);
  std::vector<uint64_t> t64, m64;
  std::vector<uint32_t> t32;
  for (int i = 0; i < 200; ++i) {
    const auto b = vesk_test::random_bytes(rng() % 600, rng);
    const size_t cut = b.empty() ? 0 : rng() % b.size();
    const uint8_t* p = b.empty() ? nullptr : b.data();
    uint64_t reg = 0;
    uint32_t r32 = 0;
    // Reference: the table forms agree with the static-table forms.
    EXPECT_EQ(crc64_ecma_with_table(reg, p, cut, t64), crc64_ecma(p, cut));
    EXPECT_EQ(crc32_with_table(r32, p, cut, t32), crc32_table_hash(p, cut));
    appid_crc64(p, b.size());
    crc64_ecma182_msb(reg, p, b.size(), m64);
  }
}

}  // namespace
