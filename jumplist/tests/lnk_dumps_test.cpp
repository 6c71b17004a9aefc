// The structure dumps of a link made by the test writer: field lines with
// their positions and notes, the short line and column forms, structures
// that do not fit, and every writer over cut, zeroed and mutated links and
// over the real sample links.
#include "jumplist/lnk_dumps.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "default_params.h"
#include "jumplist/lnk_parser.h"
#include "jumplist_samples.h"
#include "lnk_writer.h"

namespace vk {
namespace {

using namespace vesk_test;

using writer = std::function<bool(std::ostream&, const uint8_t*, size_t)>;

// The field dumps at file offset 0x1000; the order gives the structure each
// writer takes: header, LinkInfo x2, VolumeID x3, network link x3, tracker x3.
const std::vector<std::pair<const char*, writer>>& all_writers() {
  using namespace std::placeholders;
  static const std::vector<std::pair<const char*, writer>> writers = {
      {"header", std::bind(dump_lnk_header, _1, _2, _3, 0x1000)},
      {"link info", std::bind(dump_link_info, _1, _2, _3, 0x1000)},
      {"link info flags", write_link_info_flags},
      {"volume", std::bind(dump_volume_id, _1, _2, _3, 0x1000)},
      {"volume lines", write_volume_id_lines},
      {"volume columns", write_volume_id_columns},
      {"network", std::bind(dump_network_link, _1, _2, _3, 0x1000)},
      {"network lines", write_network_link_lines},
      {"network column", write_network_link_column},
      {"tracker", std::bind(dump_tracker_block, _1, _2, _3, 0x1000)},
      {"tracker lines", write_tracker_lines},
      {"tracker columns", write_tracker_columns},
  };
  return writers;
}

std::string run(const writer& w, const std::vector<uint8_t>& bytes, size_t at,
                size_t length = SIZE_MAX, bool* wrote = nullptr) {
  // An exactly sized copy, so that the sanitizers see any read past it.
  const size_t n = std::min(length, bytes.size() - at);
  std::vector<uint8_t> copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
  std::ostringstream out;
  const bool ok = w(out, copy.data(), copy.size());
  if (wrote) *wrote = ok;
  if (!ok) {
    EXPECT_EQ(out.str(), "") << "a writer that stops writes nothing";
  }
  return out.str();
}

// Where the structures of a link lie (0 where it has none).
struct link_parts {
  size_t info = 0, volume = 0, network = 0, tracker = 0;
};

link_parts parts_of(const std::vector<uint8_t>& link) {
  link_parts p;
  namespace L = lnk_layout;
  const byte_view v(link);
  if (link.size() < L::idlist::first_item + 2) return p;
  const uint32_t flags = *v.u32(L::header::flags);
  if (flags & L::flag::has_link_info)
    p.info = (flags & L::flag::has_idlist) ? L::idlist::first_item + *v.u16(L::idlist::size_field)
                                           : L::header::size;
  size_t at = 0, size = 0;
  if (p.info && p.info < link.size()) {
    if (link_info_volume_id(link.data() + p.info, link.size() - p.info, at, size))
      p.volume = p.info + at;
    if (link_info_network_link(link.data() + p.info, link.size() - p.info, at, size))
      p.network = p.info + at;
  }
  static const cmd_params opts;
  lnk_record rec;
  if (parse_lnk(rec, link.data(), link.size(), opts, vesk_test::test_scratch(), false, 0))
    p.tracker = rec.m_tracker_offset;
  return p;
}

// Every writer at every structure position of the link; how many wrote.
size_t write_everything(const std::vector<uint8_t>& link, const link_parts& p) {
  size_t wrote = 0;
  for (size_t i = 0; i < all_writers().size(); ++i) {
    const size_t at[] = {0,         p.info,    p.info,    p.volume,  p.volume,  p.volume,
                         p.network, p.network, p.network, p.tracker, p.tracker, p.tracker};
    if (at[i] > link.size()) continue;
    bool ok = false;
    run(all_writers()[i].second, link, at[i], SIZE_MAX, &ok);
    wrote += ok;
  }
  return wrote;
}

guid_bytes_t droid(uint8_t fill) {
  guid_bytes_t g;
  g.fill(fill);
  return g;
}

lnk_spec dump_spec() {
  lnk_spec s;
  s.attributes = 0x20;
  s.file_size = 4096;
  s.show_cmd = 1;
  s.create_time = 132572616638819438u;  // 2021-02-08
  lnk_link_info li;
  li.serial = 0x1234ABCD;
  li.label = "DATA";
  s.link_info = li;
  s.strings[lnk_name] = u"name";
  return s;
}

bool holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(LnkDumps, HeaderAndLinkInfoFieldLines) {
  const lnk_bytes_t link = write_lnk(dump_spec());
  ASSERT_EQ(load_le32(link.data() + 20), 0x86u);
  std::ostringstream at0;
  ASSERT_TRUE(dump_lnk_header(at0, link.data(), link.size(), 0));
  for (const char* want :
       {"00000000 : m_lnk_header_size:           4c 00 00 00 \n",
        "00000004 : m_lnk_clsid:                 00021401-0000-0000-c000-000000000046\n",
        "00000014 : m_lnk_flags:                 00000086 -- HasLinkInfo, HasName, IsUnicode\n",
        "00000018 : m_file_attributes:           00000020 -- FILE_ATTRIBUTE_ARCHIVE\n",
        "0000001c : m_create_time:               01d6fe17a9b36c6e -- 2021-02-08 12:41:03.881 "
        "[UTC]\n",
        "00000024 : m_access_time:               0000000000000000\n",
        "00000034 : m_file_size:                 0x00001000 [4096 bytes]\n",
        "0000003c : m_show_cmd:                  00000001 [SW_SHOWNORMAL]\n",
        "00000042 : m_reserved1:                 0000     [should be zero]\n",
        "00000044 : m_reserved2:                 00000000 [should be zero]\n",
        "00000048 : m_reserved3:                 00000000 [should be zero]\n"})
    EXPECT_TRUE(holds(at0.str(), want)) << want << "\nin\n" << at0.str();
  EXPECT_TRUE(holds(run(all_writers()[0].second, link, 0), "\n00001048 : m_reserved3:"));

  struct info_case {
    uint32_t header_size;
    bool volume, network;
    const char* notes;  // the header-size and flags lines' ends
    const char* flags_line;
  };
  const info_case cases[] = {
      {28, true, false,
       "0000001c [no optional fields]\n00001008 : m_LinkInfoFlags:             "
       "00000001 [VolumeIDAndLocalBasePath] \n",
       "VolumeIDAndLocalBasePath"},
      {28, false, true,
       "0000001c [no optional fields]\n00001008 : m_LinkInfoFlags:             "
       "00000002 [CommonNetworkRelativeLinkAndPathSuffix] \n",
       "CommonNetworkRelativeLinkAndPathSuffix"},
      {36, true, true, "00000024\n00001008 : m_LinkInfoFlags:             00000003\n",
       "VolumeIDAndLocalBasePath, CommonNetworkRelativeLinkAndPathSuffix"},
      {28, false, false,
       "0000001c [no optional fields]\n00001008 : m_LinkInfoFlags:             "
       "00000000\n",
       "unk"},
  };
  for (const auto& c : cases) {
    lnk_spec s = dump_spec();
    s.link_info->header_size = c.header_size;
    s.link_info->has_volume = c.volume;
    if (c.network) s.link_info->network = lnk_network_link{"\\\\srv\\share", ""};
    const lnk_bytes_t l = write_lnk(s);
    const std::string dump = run(all_writers()[1].second, l, 76);
    EXPECT_TRUE(holds(dump, std::string("00001004 : m_LinkInfoHeaderSize:        ") + c.notes))
        << dump;
    EXPECT_TRUE(holds(dump, "\n00001018 : m_CommonPathSuffixOffset:    ")) << dump;
    EXPECT_EQ(run(all_writers()[2].second, l, 76),
              std::string("LinkInfoFlags:         ") + c.flags_line + "\n");
  }
}

TEST(LnkDumps, VolumeNetworkAndTrackerForms) {
  struct volume_case {
    uint32_t drive_type;
    std::string label;
    const char* type_note;
    const char* lines;
    const char* columns;
  };
  const volume_case volumes[] = {
      {3, "DATA", "00000003 [fixed]\n00001008 : m_volume_serial_num:         1234abcd\n",
       "DriveType:             fixed\nvolume serial num:     1234-abcd\n"
       "volume label:          DATA\n",
       "fixed, 1234-abcd, DATA, "},
      {0, "", "00000000 [unk]\n", "DriveType:             unk\nvolume serial num:     1234-abcd\n",
       "unk, 1234-abcd, -, "},
      {1, "X", "00000001 [no root directory]\n", nullptr, "no root dir, 1234-abcd, X, "},
  };
  for (const auto& c : volumes) {
    lnk_spec s = dump_spec();
    s.link_info->drive_type = c.drive_type;
    s.link_info->label = c.label;
    const lnk_bytes_t l = write_lnk(s);
    const link_parts p = parts_of(l);
    ASSERT_EQ(p.volume, 76u + 28u);
    const std::string dump = run(all_writers()[3].second, l, p.volume);
    EXPECT_TRUE(holds(dump, std::string("00001004 : m_DriveType:                 ") + c.type_note))
        << dump;
    EXPECT_TRUE(holds(dump, "00001010 : m_volume_label:              " + c.label + "\n"));
    if (c.lines) {
      EXPECT_EQ(run(all_writers()[4].second, l, p.volume), c.lines);
    }
    EXPECT_EQ(run(all_writers()[5].second, l, p.volume), c.columns);
  }

  for (const auto& [net, device, lines, col] :
       {std::tuple{"\\\\server\\share",
                   "Z:", "network link:          \\\\server\\share\\\ndevice name:           Z:\n",
                   "\\\\server\\share\\, "},
        std::tuple{"", "", "", "-, "}}) {
    lnk_spec s = dump_spec();
    s.link_info->network = lnk_network_link{net, device};
    const lnk_bytes_t l = write_lnk(s);
    const link_parts p = parts_of(l);
    ASSERT_NE(p.network, 0u);
    const std::string dump = run(all_writers()[6].second, l, p.network);
    EXPECT_TRUE(holds(dump, " : m_provider_type:             00020000\n"));
    EXPECT_TRUE(holds(dump, std::string("00001014 : net name:                    ") + net + "\n"));
    EXPECT_TRUE(holds(dump, std::string(" : device name:                 ") + device + "\n"));
    EXPECT_EQ(run(all_writers()[7].second, l, p.network), lines);
    EXPECT_EQ(run(all_writers()[8].second, l, p.network), col);
  }

  guid_bytes_t object = droid(0x11);
  for (int i = 10; i < 16; ++i) object[i] = static_cast<uint8_t>(0xa0 + i);
  const std::string vol_text = "22222222-2222-2222-2222-222222222222";
  const std::string obj_text = "11111111-1111-1111-1111-aaabacadaeaf";
  const std::string current = "NETBIOS name:          pc\nVolume ID:             " + vol_text +
                              "\nObject ID:             " + obj_text +
                              "\nMAC address:\t       aa:ab:ac:ad:ae:af\n";
  struct tracker_case {
    std::string machine;
    guid_bytes_t birth_volume, object, birth_object;
    std::string lines, columns;
  };
  const tracker_case trackers[] = {
      {"pc", droid(0x22), object, object, current,
       "pc, " + vol_text + ", " + obj_text + ", aa:ab:ac:ad:ae:af, "},
      {"pc", droid(0x33), object, droid(0x44),
       current + "Volume ID (original):  33333333-3333-3333-3333-333333333333\n"
                 "Object ID (original):  44444444-4444-4444-4444-444444444444\n",
       ""},
      {"", droid(0), droid(0), object,
       "Volume ID:             " + vol_text + "\nObject ID (original):  " + obj_text + "\n",
       "-, " + vol_text + ", -, -, "},
  };
  for (const auto& c : trackers) {
    lnk_spec s = dump_spec();
    s.extra_blocks = {
        tracker_block(c.machine, droid(0x22), c.object, c.birth_volume, c.birth_object)};
    const lnk_bytes_t l = write_lnk(s);
    const link_parts p = parts_of(l);
    ASSERT_NE(p.tracker, 0u);
    EXPECT_EQ(run(all_writers()[10].second, l, p.tracker), c.lines);
    if (!c.columns.empty()) {
      EXPECT_EQ(run(all_writers()[11].second, l, p.tracker), c.columns);
    }
    const std::string dump = run(all_writers()[9].second, l, p.tracker);
    EXPECT_EQ(dump.rfind("TrackerDataBlock\n00001008 : m_length:                    00000058\n", 0),
              0u)
        << dump;
    EXPECT_TRUE(holds(dump, "00001010 : m_machine_id:                " + c.machine + "\n"));
    EXPECT_TRUE(holds(dump, "\nMAC address:\t                        " +
                                std::string(c.object[0] ? "aa:ab:ac:ad:ae:af\n" : "\n")));
  }
}

// A structure is written only when its fixed fields and its own declared
// size lie inside the bytes given, and a VolumeID or network link is found
// only inside its LinkInfo.
TEST(LnkDumps, StructuresThatDoNotFitAreNotWritten) {
  lnk_spec s = dump_spec();
  s.link_info->network = lnk_network_link{"\\\\server\\share", "Z:"};
  s.extra_blocks = {tracker_block("pc", droid(1), droid(2), droid(3), droid(4))};
  const lnk_bytes_t link = write_lnk(s);
  const link_parts p = parts_of(link);
  ASSERT_TRUE(p.info && p.volume && p.network && p.tracker);
  const size_t volume_size = load_le32(link.data() + p.volume);
  const size_t network_size = load_le32(link.data() + p.network);

  // writer, its structure, the bytes that just hold it
  const std::tuple<size_t, size_t, size_t> fits[] = {{0, 0, 76},
                                                     {1, p.info, 28},
                                                     {2, p.info, 28},
                                                     {3, p.volume, volume_size},
                                                     {4, p.volume, volume_size},
                                                     {5, p.volume, volume_size},
                                                     {6, p.network, network_size},
                                                     {7, p.network, network_size},
                                                     {8, p.network, network_size},
                                                     {9, p.tracker, 96},
                                                     {10, p.tracker, 96},
                                                     {11, p.tracker, 96}};
  for (const auto& [i, at, length] : fits) {
    bool wrote = false;
    run(all_writers()[i].second, link, at, length, &wrote);
    EXPECT_TRUE(wrote) << all_writers()[i].first;
    run(all_writers()[i].second, link, at, length - 1, &wrote);
    EXPECT_FALSE(wrote) << all_writers()[i].first << " cut short";
    if (i < 3) continue;
    // A declared size below the fixed fields, or past the bytes there.
    for (uint32_t declared : {i < 6 ? 15u : i < 9 ? 19u : 95u, 0xFFFFFFFFu}) {
      if (i >= 9 && declared > 96) continue;  // a tracker reads 96 bytes whatever it says
      lnk_bytes_t bad = link;
      store_le32(bad.data() + at, declared);
      run(all_writers()[i].second, bad, at, SIZE_MAX, &wrote);
      EXPECT_FALSE(wrote) << all_writers()[i].first << " declaring " << declared;
    }
  }

  size_t at = 0, size = 0;
  const size_t info_size = load_le32(link.data() + p.info);
  const auto volume_in = [&](const lnk_bytes_t& l, size_t available) {
    return link_info_volume_id(l.data() + p.info, available, at, size);
  };
  ASSERT_TRUE(volume_in(link, link.size() - p.info));
  EXPECT_EQ(at + size, 28 + volume_size);
  ASSERT_TRUE(link_info_network_link(link.data() + p.info, info_size, at, size));
  EXPECT_EQ(at + size, info_size);  // the last part of the LinkInfo
  EXPECT_FALSE(volume_in(link, 28 + volume_size - 1));
  lnk_bytes_t moved = link;  // VolumeID offset at the LinkInfo's end, then 0
  store_le32(moved.data() + p.info + 12, static_cast<uint32_t>(info_size));
  EXPECT_FALSE(volume_in(moved, moved.size() - p.info));
  store_le32(moved.data() + p.info + 12, 0);
  EXPECT_FALSE(volume_in(moved, moved.size() - p.info));
  lnk_bytes_t shrunk = link;  // a LinkInfo that declares less than its VolumeID
  store_le32(shrunk.data() + p.info, static_cast<uint32_t>(28 + volume_size - 1));
  EXPECT_FALSE(volume_in(shrunk, shrunk.size() - p.info));
  EXPECT_FALSE(link_info_network_link(shrunk.data() + p.info, shrunk.size(), at, size));
  EXPECT_FALSE(link_info_volume_id(nullptr, 100, at, size));
}

// Cut, zeroed and mutated links: every writer at every structure position
// (and at random ones) of an exactly sized copy, under the sanitizers.
TEST(LnkDumps, HostileBytes) {
  const lnk_bytes_t link = full_written_link();
  const link_parts p = parts_of(link);
  ASSERT_TRUE(p.info && p.volume && p.network && p.tracker);
  EXPECT_EQ(write_everything(link, p), all_writers().size());
  for (size_t n = 0; n <= link.size(); ++n)
    write_everything(lnk_bytes_t(link.begin(), link.begin() + static_cast<std::ptrdiff_t>(n)), p);

  // Zeros: the header and LinkInfo fields are shown wherever there are
  // bytes enough for them; the sized structures declare 0 bytes.
  const lnk_bytes_t zeroed(512, 0);
  for (size_t at = 0; at <= zeroed.size(); ++at)
    for (size_t i = 0; i < all_writers().size(); ++i) {
      const size_t left = zeroed.size() - at;
      bool wrote = false;
      run(all_writers()[i].second, zeroed, at, SIZE_MAX, &wrote);
      EXPECT_EQ(wrote, (i == 0 && left >= 76) || ((i == 1 || i == 2) && left >= 28))
          << all_writers()[i].first << " at " << at;
    }

  std::mt19937 rng(32);
  std::uniform_int_distribution<size_t> anywhere(0, link.size());
  for (int i = 0; i < 1500; ++i) {
    lnk_bytes_t m = mutate(link, rng, 1 + i % 12);
    if (i % 4 == 0) m.resize(anywhere(rng));
    write_everything(m, p);
    write_everything(m, parts_of(m));
    write_everything(m, {anywhere(rng), anywhere(rng), anywhere(rng), anywhere(rng)});
  }
}

// Every real link, the malformed ones included: every writer at its own
// structure, and the sized structures' writers at every position.
TEST(LnkDumps, SampleLinks) {
  const auto samples = samples_of_kind("lnk");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent: no real links to dump";
  size_t headers = 0, volumes = 0, trackers = 0;
  for (const auto& s : samples) {
    const std::vector<uint8_t> exact(s.bytes);  // no spare capacity behind the last byte
    const link_parts p = parts_of(exact);
    headers += s.bytes.size() >= 76 && write_everything(exact, p) > 0;
    volumes += p.volume != 0;
    trackers += p.tracker != 0;
    std::ostringstream out;
    for (size_t i = 0; i < all_writers().size(); ++i)
      for (size_t at = i < 3 && exact.size() > 100 ? exact.size() - 100 : 0; at < exact.size();
           ++at) {
        out.str("");
        all_writers()[i].second(out, exact.data() + at, exact.size() - at);
      }
  }
  EXPECT_GE(headers, 230u);
  EXPECT_GT(volumes, 100u);
  EXPECT_GT(trackers, 100u);
}

}  // namespace
}  // namespace vk
