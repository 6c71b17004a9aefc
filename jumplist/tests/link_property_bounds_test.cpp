// Links whose property stores claim far more than they hold (further blobs
// and condition streams running to their storage's end, again and again):
// each link files at most a few times its own size, and an automatic list of
// such links stays within a small multiple of the file in heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "alloc_hook.h"
#include "cfb_writer.h"
#include "default_params.h"
#include "destlist_writer.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/vesk_main.h"
#include "lnk_writer.h"
#include "propstore_writer.h"
#include "shell/parse_ctx.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;
namespace cr = propstore::condition::record;

constexpr size_t k_storage = 16000;  // two to a link: about 32 KB

// Further VT_BLOB values of 17 bytes, each claiming the rest of the storage.
prop_bytes_t blob_storage() {
  std::vector<prop_bytes_t> values = {int_value(10, 31, lpwstr_data(u"first"))};
  const size_t first_at = propstore::storage::header_size + values[0].size();
  for (size_t at = first_at; at + 17 + 4 <= k_storage; at += 17)
    values.push_back(int_value(11, 65, u32_data(0)));
  prop_bytes_t s = storage(storage_fmtid_b725(), values);
  for (size_t at = first_at; at + 17 + 4 <= s.size(); at += 17)
    put_le32(s, at + propstore::int_value::data, static_cast<uint32_t>(s.size() - at - 17));
  return s;
}

// Further condition streams whose one record's blob claims the rest.
prop_bytes_t condition_storage() {
  std::vector<prop_bytes_t> values = {int_value(4, 31, lpwstr_data(u"first"))};
  const prop_bytes_t one = int_value(
      6, 66,
      stream_data(k_special_stream,
                  condition_tree({condition_record(storage_fmtid_b725(), 12, 65, u32_data(0))})));
  for (size_t at = propstore::storage::header_size + values[0].size();
       at + one.size() + 4 <= k_storage; at += one.size())
    values.push_back(one);
  prop_bytes_t s = storage(condition_set_fmtid(), values);
  const prop_bytes_t guid = condition_record_guid();
  for (size_t o = 0; o + 16 <= s.size(); ++o)
    if (std::equal(guid.begin(), guid.end(), s.begin() + static_cast<std::ptrdiff_t>(o)))
      put_le32(s, o + cr::data, static_cast<uint32_t>(s.size() - o - cr::data - 4));
  return s;
}

lnk_bytes_t claiming_link(bool conditions) {
  lnk_spec s;
  s.strings[lnk_name] = u"claims";
  const prop_bytes_t one = conditions ? condition_storage() : blob_storage();
  s.extra_blocks = {property_store_block({one, one})};
  return write_lnk(s);
}

TEST(LinkPropertyBounds, EachLinkFilesAtMostFourTimesItsSize) {
  const cmd_params opts;
  for (bool conditions : {false, true}) {
    SCOPED_TRACE(conditions ? "conditions" : "blobs");
    const lnk_bytes_t link = claiming_link(conditions);
    const auto n = static_cast<int64_t>(link.size());
    EXPECT_GT(n, 31000);
    EXPECT_LT(n, 33000);
    const int64_t before = vesk_test::test_scratch().shell.filed_bytes;
    lnk_record record;
    heap::scope heap;
    ASSERT_TRUE(
        parse_lnk(record, link.data(), link.size(), opts, vesk_test::test_scratch(), false, 0));
    const int64_t filed = vesk_test::test_scratch().shell.filed_bytes - before;
    // Both storages file something of their claims, within the bound.
    EXPECT_GT(filed, n);
    EXPECT_LE(filed, 4 * n);
    EXPECT_LE(heap.peak_above_start(), 8 * n);
  }
}

TEST(LinkPropertyBounds, AutomaticListOfClaimingLinksStaysSmall) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  cfb_writer w;
  std::vector<destlist_test_entry> entries;
  for (int i = 0; i < 9; ++i) {
    w.stream(std::u16string(1, static_cast<char16_t>(u'1' + i)), claiming_link(i % 2 != 0));
    destlist_test_entry e;
    e.entry_num = static_cast<uint64_t>(i + 1);
    entries.push_back(e);
  }
  w.stream(u"DestList", build_destlist(4, entries));
  const std::vector<uint8_t> image = w.build();
  const auto size = static_cast<int64_t>(image.size());
  const std::string name = "5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(image.begin(), image.end()));

  vesk_options options;
  options.m_source_path = tree.path(name);
  const source_appid id = appid_from_path(options.m_source_path);
  options.m_appid_text = id.text;
  options.m_appid = id.value;
  std::ostringstream out;
  int64_t peak = 0;
  {
    heap::scope heap;
    ASSERT_TRUE(process_jumplist_file(out, options.m_source_path, options));
    peak = heap.peak_above_start();
  }
  const std::string report = out.str();
  size_t records = 0;
  for (size_t at = report.find("source path/filename:"); at != std::string::npos;
       at = report.find("source path/filename:", at + 1))
    ++records;
  EXPECT_EQ(records, 9u);
  EXPECT_LT(peak, 2 * size + 8 * 1024 * 1024);
}

}  // namespace
}  // namespace vk
