#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "disk_images.h"
#include "foundation/vk_sha256.h"
#include "temp_tree.h"

using namespace vk;

namespace {

std::string hex(const uint8_t* d, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[d[i] >> 4];
    s += digits[d[i] & 15];
  }
  return s;
}

// The digest fed in uneven slices, so that block boundaries fall everywhere.
std::string sha256_sliced(const std::vector<uint8_t>& v, size_t step) {
  sha256_ctx ctx;
  sha256_init(ctx);
  for (size_t at = 0; at < v.size(); at += step)
    sha256_update(ctx, v.data() + at, std::min(step, v.size() - at));
  uint8_t d[32];
  sha256_finish(ctx, d);
  return hex(d, 32);
}

}  // namespace

TEST(Sha256, PublishedVectorsAndSha256sumOnEveryLength) {
  uint8_t d[32];
  ASSERT_TRUE(sha256_bytes(reinterpret_cast<const uint8_t*>("abc"), 3, d));
  EXPECT_EQ(hex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(sha256_bytes(nullptr, 1, d));
  EXPECT_FALSE(sha256_bytes(nullptr, 0, nullptr));

  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  std::map<std::string, std::vector<uint8_t>> inputs;
  const std::string two_block = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  inputs["fips"] = std::vector<uint8_t>(two_block.begin(), two_block.end());
  std::mt19937 rng(29);
  for (size_t n = 0; n <= 1000; ++n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    std::string name = "r";
    name += std::to_string(n);
    inputs[name] = v;
  }
  std::vector<uint8_t> big(1 << 20);
  for (auto& b : big) b = static_cast<uint8_t>(rng());
  inputs["big"] = big;
  for (const auto& [name, v] : inputs)
    std::ofstream(tree.path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));

  if (vesk_test::find_tool("sha256sum").empty()) GTEST_SKIP() << "sha256sum is not installed";
  bool ok = false;
  const std::string out =
      vesk_test::run_command("cd " + vesk_test::shell_quote(tree.root()) + " && sha256sum *", ok);
  ASSERT_TRUE(ok) << out;
  std::istringstream lines(out);
  std::string digest, name;
  size_t checked = 0;
  while (lines >> digest >> name) {
    const auto& v = inputs.at(name);
    ASSERT_TRUE(sha256_bytes(v.data(), v.size(), d));
    EXPECT_EQ(hex(d, 32), digest) << name;
    EXPECT_EQ(sha256_sliced(v, 1 + v.size() % 67), digest) << name;
    ++checked;
  }
  EXPECT_EQ(checked, inputs.size());
}
