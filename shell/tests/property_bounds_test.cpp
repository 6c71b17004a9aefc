// Values whose windows overlap: every further value of a storage may run to
// the storage's end, so blobs and condition streams can claim the rest of it
// again and again. What they file stays within a constant times the input,
// counted in bytes filed and in heap, whatever they claim.
#include <gtest/gtest.h>

#include <algorithm>

#include "alloc_hook.h"
#include "default_params.h"
#include "propstore_writer.h"
#include "shell/idlist.h"
#include "shell/property_store.h"
#include "shell/propstore_layout.h"

namespace vk {
namespace {

using namespace vesk_test;
namespace cr = propstore::condition::record;

using bytes_t = prop_bytes_t;

void put_u32(bytes_t& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

struct filed {
  int64_t bytes = 0;      // bytes and texts held by the filed records
  int64_t blobs = 0;      // records holding a byte run
  int64_t streams = 0;    // stream records
  int64_t charged = 0;    // bytes the parse guard allowed to be filed
  int64_t peak_heap = 0;  // heap above the start, at its highest
};

filed walk(const bytes_t& storage_bytes) {
  filed f;
  shell_item_record rec;
  parse_ctx ctx;
  ctx.filed_tally = &f.charged;
  {
    heap::scope heap;
    parse_property_storages(ctx, rec, storage_bytes.data(),
                            static_cast<int64_t>(storage_bytes.size()), default_params());
    f.peak_heap = heap.peak_above_start();
  }
  for (const auto& [key, v] : rec.properties) {
    f.bytes += static_cast<int64_t>(v.bytes.size() + v.text.size());
    f.blobs += !v.bytes.empty();
    f.streams += v.vartype == 66;
  }
  return f;
}

// Further VT_BLOB values of 17 bytes (13 of header, the blob size), each
// claiming every byte up to the storage's end.
bytes_t blob_storage(size_t size) {
  std::vector<bytes_t> values = {int_value(10, 31, lpwstr_data(u"first"))};
  size_t at = propstore::storage::header_size + values[0].size();
  while (at + 17 + 4 <= size) {
    values.push_back(int_value(11, 65, u32_data(0)));
    at += 17;
  }
  bytes_t s = storage(storage_fmtid_b725(), values);
  at = propstore::storage::header_size + values[0].size();
  for (size_t i = 1; i < values.size(); ++i, at += 17)
    put_u32(s, at + propstore::int_value::data, static_cast<uint32_t>(s.size() - at - 17));
  return s;
}

// Further condition streams, each a tree of one record whose VT_BLOB value
// claims every byte up to the storage's end; each stream's window holds all
// the later ones.
bytes_t condition_storage(size_t size) {
  std::vector<bytes_t> values = {int_value(4, 31, lpwstr_data(u"first"))};
  const bytes_t one = int_value(
      6, 66,
      stream_data(k_special_stream,
                  condition_tree({condition_record(storage_fmtid_b725(), 12, 65, u32_data(0))})));
  size_t at = propstore::storage::header_size + values[0].size();
  while (at + one.size() + 4 <= size) {
    values.push_back(one);
    at += one.size();
  }
  bytes_t s = storage(condition_set_fmtid(), values);
  const bytes_t guid = condition_record_guid();
  for (size_t o = 0; o + 16 <= s.size(); ++o)
    if (std::equal(guid.begin(), guid.end(), s.begin() + static_cast<std::ptrdiff_t>(o)))
      put_u32(s, o + cr::data, static_cast<uint32_t>(s.size() - o - cr::data - 4));
  return s;
}

TEST(PropertyBounds, OverlappingClaimsFileAtMostTwiceTheirBytes) {
  struct row {
    const char* name;
    bytes_t in;
  } rows[] = {{"blobs", blob_storage(16000)}, {"conditions", condition_storage(16000)}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const int64_t n = static_cast<int64_t>(r.in.size());
    ASSERT_LE(n, 16000);
    const filed f = walk(r.in);
    // Something of the claims is filed, never more than the bound allows.
    EXPECT_GE(f.blobs, 1);
    EXPECT_GT(f.bytes, n / 2);
    EXPECT_LE(f.bytes, 4 * n);
    EXPECT_LE(f.charged, parse_guard::k_filed_bytes_per_byte * n + parse_guard::k_base_filed_bytes);
    EXPECT_GE(f.charged, f.bytes - 64 * (f.blobs + f.streams));
    EXPECT_LE(f.peak_heap, 8 * n);
  }

  // Without overlap nothing is lost: blobs of their own size (bytes that
  // hold no ID list stay values), and a stream expanded once with both its
  // records.
  bytes_t own = storage(storage_fmtid_b725(), {int_value(10, 31, lpwstr_data(u"first")),
                                               int_value(11, 65, blob_data(bytes_t(4000, 7))),
                                               int_value(12, 65, blob_data(bytes_t(4000, 8))),
                                               int_value(13, 65, blob_data(bytes_t(4000, 9)))});
  const filed o = walk(own);
  EXPECT_EQ(o.blobs, 3);
  EXPECT_GE(o.bytes, 12000);
  bytes_t tree =
      condition_tree({condition_record(storage_fmtid_b725(), 10, 31, lpwstr_data(u"Alpha")),
                      condition_record(storage_fmtid_b725(), 11, 31, lpwstr_data(u"Beta"))});
  const filed c =
      walk(storage(condition_set_fmtid(), {int_value(4, 31, lpwstr_data(u"first")),
                                           int_value(6, 66, stream_data(k_special_stream, tree))}));
  EXPECT_EQ(c.streams, 1);
  EXPECT_EQ(c.bytes, 5 + 5 + 4 + 14);
}

}  // namespace
}  // namespace vk
