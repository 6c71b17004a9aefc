// Every truncation of the inputs to the single-structure readers (the item
// tests, one item and its blocks, the bounded text readers, the carving
// readers, the embedded scans and the special streams): under the
// sanitizers any read outside the input is a failure. Mutations of the same
// inputs are the shell_item fuzz target's work.
#include <gtest/gtest.h>

#include "fuzz/shell_harness.h"
#include "shell_hostile_inputs.h"

namespace vk {
namespace {

TEST(ShellCoreRobustness, EveryTruncation) {
  std::vector<vesk_test::bytes_t> inputs = vesk_test::item_reader_inputs();
  inputs.push_back(vesk_test::cfsf_item());
  for (const auto& in : vesk_test::hostile_embedded()) inputs.push_back(in);
  inputs.push_back(vesk_test::hostile_autolist());
  for (const auto& in : inputs)
    for (size_t len = 0; len <= in.size(); ++len)
      EXPECT_EQ(vesk_fuzz::run_shell_item(in.data(), len), 0);
}

}  // namespace
}  // namespace vk
