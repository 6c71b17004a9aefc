// The shared LNK layout: the test writer places every header field where the
// parser reads it, each extra-data kind is taken at its size rule and not
// outside it, and a stored record keeps its shell items only for the
// ID-list breakout.
#include "jumplist/lnk_layout.h"

#include <gtest/gtest.h>

#include <sstream>

#include "jumplist/extra_data.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/vesk_options.h"
#include "lnk_writer.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;
namespace L = lnk_layout;

TEST(LnkLayout, HeaderFieldsWrittenAndReadAtTheirOffsets) {
  lnk_spec s;
  s.flags_override = 0x11223344u;
  s.attributes = 0x55667788u;
  s.create_time = 0x0102030405060708ull;
  s.access_time = 0x1112131415161718ull;
  s.write_time = 0x2122232425262728ull;
  s.file_size = 0x31323334u;
  s.icon_index = -2;
  s.show_cmd = 0x41424344u;
  s.hotkey = 0x5152;
  s.reserved1 = 0x6162;
  s.reserved2 = 0x71727374u;
  s.reserved3 = 0x81828384u;
  const lnk_bytes_t bytes = lnk_header_bytes(s);
  ASSERT_EQ(bytes.size(), L::header::size);
  const byte_view v(bytes);
  const lnk_header h = load_lnk_header(bytes.data());
  // Each field: its bytes at the layout's offset, and the member read from them.
  const struct {
    size_t at, width;
    uint64_t want, got;
  } fields[] = {
      {L::header::header_size, 4, L::header::size, h.m_lnk_header_size},
      {L::header::flags, 4, 0x11223344u, h.m_lnk_flags},
      {L::header::file_attributes, 4, 0x55667788u, h.m_file_attributes},
      {L::header::create_time, 8, 0x0102030405060708ull, h.m_create_time},
      {L::header::access_time, 8, 0x1112131415161718ull, h.m_access_time},
      {L::header::write_time, 8, 0x2122232425262728ull, h.m_write_time},
      {L::header::file_size, 4, 0x31323334u, h.m_file_size},
      {L::header::icon_index, 4, 0xFFFFFFFEu, static_cast<uint32_t>(h.m_icon_index)},
      {L::header::show_cmd, 4, 0x41424344u, h.m_show_cmd},
      {L::header::hotkey, 2, 0x5152, h.m_hotkey},
      {L::header::reserved1, 2, 0x6162, h.m_reserved1},
      {L::header::reserved2, 4, 0x71727374u, h.m_reserved2},
      {L::header::reserved3, 4, 0x81828384u, h.m_reserved3},
  };
  for (const auto& f : fields) {
    const uint64_t stored = f.width == 2   ? *v.u16(f.at)
                            : f.width == 4 ? *v.u32(f.at)
                                           : *v.u64(f.at);
    EXPECT_EQ(stored, f.want) << f.at;
    EXPECT_EQ(f.got, f.want) << f.at;
  }
  EXPECT_TRUE(std::equal(L::clsid.begin(), L::clsid.end(), h.m_lnk_clsid.begin()));
  EXPECT_TRUE(is_lnk_header(bytes.data(), bytes.size()));
  EXPECT_FALSE(is_lnk_header(bytes.data(), L::header::clsid + L::header::clsid_size - 1));
}

// A block of the given signature and BlockSize, its body zero.
lnk_bytes_t sized_block(uint32_t signature, size_t size) {
  return extra_block(signature, lnk_bytes_t(size - L::block::header_size, 0));
}

TEST(LnkLayout, EveryBlockKindTakenAtItsSizeRuleOnly) {
  namespace S = L::signature;
  // Kind, the size it is taken at and one it is stepped over at (0: none),
  // and where the walk notes it.
  const struct {
    uint32_t signature;
    size_t taken, stepped_over;
    uint32_t lnk_record_fields::*offset;
  } kinds[] = {
      {S::environment, L::text_block::size, L::text_block::size + 4,
       &lnk_record_fields::m_environment_offset},
      {S::console, L::console::size, L::console::size - 4, &lnk_record_fields::m_console_offset},
      {S::tracker, L::tracker::size, L::tracker::size + 4, &lnk_record_fields::m_tracker_offset},
      {S::console_fe, L::console_fe::size, L::console_fe::size + 4,
       &lnk_record_fields::m_console_fe_offset},
      {S::special_folder, L::special_folder::min_size + 8, L::special_folder::min_size - 4,
       &lnk_record_fields::m_special_folder_offset},
      {S::darwin, L::text_block::size, L::text_block::size - 4,
       &lnk_record_fields::m_darwin_offset},
      {S::icon_environment, L::text_block::size, L::text_block::size - 4,
       &lnk_record_fields::m_icon_environment_offset},
      {S::shim, L::shim::min_size, L::shim::min_size - 4, &lnk_record_fields::m_shim_offset},
      {S::property_store, L::property_store::min_size, L::property_store::min_size - 4,
       &lnk_record_fields::m_property_store_offset},
      {S::known_folder, L::known_folder::min_size, L::known_folder::min_size - 4,
       &lnk_record_fields::m_known_folder_offset},
      {S::vista_idlist, L::vista_idlist::min_size + 2, 0,
       &lnk_record_fields::m_vista_idlist_offset},
  };
  const cmd_params opts;
  for (const auto& k : kinds) {
    // A block after it shows that the walk went on.
    const bool fe = k.signature == S::console_fe;
    const lnk_bytes_t after = fe ? console_block() : console_fe_block(850);
    const auto after_offset =
        fe ? &lnk_record_fields::m_console_offset : &lnk_record_fields::m_console_fe_offset;
    for (size_t size : {k.taken, k.stepped_over}) {
      if (size == 0) continue;
      lnk_spec s;
      s.extra_blocks = {sized_block(k.signature, size), after};
      const lnk_bytes_t link = write_lnk(s);
      lnk_record rec;
      ASSERT_TRUE(parse_lnk(rec, link.data(), link.size(), opts, false, 0));
      EXPECT_EQ(rec.*k.offset, size == k.taken ? L::header::size : 0u)
          << std::hex << k.signature << std::dec << " size " << size;
      EXPECT_EQ(rec.*after_offset, L::header::size + size) << std::hex << k.signature;
      EXPECT_EQ(rec.m_lnk_size, link.size());
      // The same block cut by one byte at the data's end is never read.
      lnk_record cut;
      const size_t end = L::header::size + size - 1;
      ASSERT_TRUE(parse_lnk(cut, link.data(), end, opts, false, 0));
      EXPECT_EQ(cut.*k.offset, 0u) << std::hex << k.signature;
      EXPECT_EQ(cut.m_lnk_size, L::header::size);
    }
  }
}

TEST(LnkRecordStore, OnlyBreakoutSegmentsKeptOfTheShellItems) {
  const lnk_bytes_t link = full_written_link();
  temp_tree tree;
  tree.file("a.lnk", std::string(link.begin(), link.end()));
  for (bool idltimes : {false, true}) {
    vesk_options options;
    options.m_idlist_times = idltimes;
    options.m_status_messages = 0;
    options.m_source_path = tree.path("a.lnk");
    std::ostringstream out;
    ASSERT_TRUE(process_jumplist_file(out, options.m_source_path, options));
    ASSERT_EQ(options.m_records.size(), 1u);
    const lnk_record& kept = options.m_records.begin()->second;
    EXPECT_TRUE(kept.m_idlist_items.empty());
    EXPECT_EQ(kept.m_idlist_segments.size(), idltimes ? 2u : 0u);
    EXPECT_TRUE(kept.m_object_droid_bytes.empty() && kept.m_darwin_product.empty() &&
                kept.m_shim_layer.empty());
    // Every text a report prints stays.
    EXPECT_EQ(kept.m_idlist_path.empty(), false);
    EXPECT_EQ(kept.m_object_droid, "846ee3bb-7039-11de-9d20-001d09fa5a1c");
    EXPECT_EQ(kept.m_local_base_path, "C:\\Temp\\");
    EXPECT_EQ(out.str().find("IDList segment") != std::string::npos, idltimes);
  }
}

}  // namespace
}  // namespace vk
