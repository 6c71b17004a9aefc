// The example jump list under examples/ is the one the test writers make:
// rebuilt here and compared byte for byte. VESK_UPDATE_EXAMPLES=1 writes it
// anew after a deliberate change to the writers.
#include "example_jumplist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "jumplist/file_drivers.h"

namespace vk {
namespace {

TEST(ExampleJumpList, CommittedBytesAreTheWrittenOnes) {
  const std::vector<uint8_t> built = vesk_test::example_jumplist();
  const std::string path =
      std::string(VESK_EXAMPLES_DIR) + "/" + vesk_test::k_example_jumplist_name;
  if (std::getenv("VESK_UPDATE_EXAMPLES")) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(built.data()),
               static_cast<std::streamsize>(built.size()));
  }
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> committed{std::istreambuf_iterator<char>(in), {}};
  EXPECT_TRUE(committed == built) << path << " differs from the written example ("
                                  << committed.size() << " against " << built.size()
                                  << " bytes); VESK_UPDATE_EXAMPLES=1 writes it anew";

  vesk_options options;
  std::ostringstream out;
  ASSERT_TRUE(process_jumplist_file(out, path, options));
  const std::string text = out.str();
  size_t blocks = 0;
  for (size_t at = text.find("\nNETBIOS name:"); at != std::string::npos;
       at = text.find("\nNETBIOS name:", at + 1))
    ++blocks;
  EXPECT_EQ(blocks, 3u);
}

}  // namespace
}  // namespace vk
