// LinkInfo parts whose sizes or offsets misframe them: each is said (the
// structure, its offset, the cause) and what could be read is kept; sound
// LinkInfo of every form says nothing. The texts are pylnk's where it reads
// the link (its local and network paths join the suffix to the local base
// path or net name), else the bytes written here: pylnk refuses the UTF-16
// label and name offsets outside their structure and a device name past its
// network link, and reads the name after a declared size past the parts
// from that size's end, as other bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cfb_writer.h"
#include "default_params.h"
#include "jumplist/lnk_parser.h"
#include "jumplist_samples.h"
#include "lnk_writer.h"

namespace vk {
namespace {

using namespace vesk_test;

// Offsets in every link below: the header is 76 bytes and no ID list
// follows, so the LinkInfo starts at 76 and its first part at 76 + 28.
constexpr size_t k_info = 76;
constexpr size_t k_part = k_info + 28;

lnk_bytes_t patched(const lnk_spec& spec, std::vector<std::pair<size_t, uint32_t>> fields) {
  lnk_bytes_t bytes = write_lnk(spec);
  for (auto [at, value] : fields) put_le32(bytes, at, value);
  return bytes;
}

// Label "OS" (VolumeID of 19 bytes at 28), local base path "C:\x\" at 47,
// suffix "y.txt" at 53, its NUL at 58; "n" as the name when named.
lnk_spec local_link(bool named = true) {
  lnk_spec s;
  s.link_info = lnk_link_info{};
  s.link_info->label = "OS";
  s.link_info->local_base_path = "C:\\x\\";
  s.link_info->suffix = "y.txt";
  if (named) s.strings[lnk_name] = u"n";
  return s;
}

// A network link of 38 bytes at 28: "\\server\share" at 20, "Z:" at 35,
// its NUL at 37; suffix "a.txt" at 66.
lnk_spec share_link() {
  lnk_spec s;
  s.link_info = lnk_link_info{};
  s.link_info->has_volume = false;
  s.link_info->network = lnk_network_link{"\\\\server\\share", "Z:"};
  s.link_info->suffix = "a.txt";
  return s;
}

struct fault_want {
  const char* structure;
  uint64_t offset;
  const char* cause;
};

TEST(LinkInfoFaults, MisframedPartsAreSaidAndWhatWasReadIsKept) {
  // Every part, the long header and the UTF-16 paths; a UTF-16 label and
  // UTF-16 names of the network link.
  lnk_spec every = local_link();
  every.link_info->header_size = 36;
  every.link_info->network = lnk_network_link{"\\\\ASUS\\Users", "Z:"};
  every.link_info->local_base_path_unicode = u"C:\\x\\";
  every.link_info->suffix_unicode = u"y.txt";
  lnk_spec wide = share_link();
  wide.link_info->has_volume = true;
  wide.link_info->unicode_label = true;
  wide.link_info->label_unicode = u"Daten";
  wide.link_info->local_base_path = "D:\\";
  wide.link_info->net_name_unicode = u"\\\\srv\\s\u00e9";
  // Padding after the parts that the declared size covers: the name lands
  // from the declared end.
  lnk_spec padded = local_link();
  lnk_bytes_t padded_info = lnk_link_info_bytes(*padded.link_info);
  padded_info.insert(padded_info.end(), 4, 0);
  put_le32(padded_info, 0, static_cast<uint32_t>(padded_info.size()));
  padded.link_info.reset();
  padded.link_info_raw = padded_info;
  // The declared size 8 bytes past the parts, which the name and a
  // known-folder block follow.
  lnk_spec grown = local_link();
  grown.link_info->declared_size = 59 + 8;
  grown.extra_blocks = {
      known_folder_block({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})};

  using field = std::string (*)(const lnk_record&);
  const field label = [](const lnk_record& r) { return r.m_volume_label; };
  const field local = [](const lnk_record& r) { return r.m_local_base_path; };
  const field suffix = [](const lnk_record& r) { return r.m_common_path_suffix; };
  const field net = [](const lnk_record& r) { return r.m_net_name; };
  const field device = [](const lnk_record& r) { return r.m_device_name; };
  const field name = [](const lnk_record& r) { return r.m_name; };
  const field folder = [](const lnk_record& r) { return std::string(r.m_known_folder_id); };
  const field serial = [](const lnk_record& r) { return r.m_volume_serial; };
  lnk_bytes_t wide_suffix_in_header = write_lnk(every);
  put_le32(wide_suffix_in_header, k_info + 32, 4);
  // The UTF-16 suffix one unit into the UTF-16 local base path.
  lnk_bytes_t wide_suffix_in_path = write_lnk(every);
  put_le32(wide_suffix_in_path, k_info + 32, vk::load_le32(&wide_suffix_in_path[k_info + 28]) + 2);
  // The suffix before the local base path, out of the order of their
  // offset fields, each whole and apart.
  lnk_bytes_t suffix_first = patched(local_link(), {{k_info + 16, 53}, {k_info + 24, 47}});
  const std::string swapped("y.txt\0C:\\x\\\0", 12);
  std::copy(swapped.begin(), swapped.end(), suffix_first.begin() + k_info + 47);
  lnk_bytes_t wide_local_at_zero = write_lnk(every);
  put_le32(wide_local_at_zero, k_info + 28, 0);
  const struct {
    const char* what;
    lnk_bytes_t bytes;
    std::vector<fault_want> faults;
    std::vector<std::pair<field, const char*>> fields;
  } cases[] = {
      {"sound: every part",
       write_lnk(every),
       {},
       {{label, "OS"},
        {local, "C:\\x\\"},
        {net, "\\\\ASUS\\Users"},
        {device, "Z:"},
        {suffix, "y.txt"},
        {name, "n"}}},
      {"sound: UTF-16 label and net name",
       write_lnk(wide),
       {},
       {{label, "Daten"}, {net, "\\\\srv\\s\xc3\xa9"}, {device, "Z:"}, {suffix, "a.txt"}}},
      {"sound: padding inside the declared size", write_lnk(padded), {}, {{name, "n"}}},
      {"sound: the suffix laid out before the local base path",
       suffix_first,
       {},
       {{local, "C:\\x\\"}, {suffix, "y.txt"}, {label, "OS"}, {name, "n"}}},
      {"UTF-16 label offset over an 8-bit label",
       patched(local_link(), {{k_part + 12, 20}}),
       {{"VolumeID", k_part, "label offset at or past the VolumeID's size; label not read"}},
       {{label, ""}, {local, "C:\\x\\"}}},
      {"VolumeID ending inside its label",
       patched(local_link(), {{k_part, 18}}),
       {{"VolumeID", k_part, "label has no NUL inside the VolumeID; read to its end"}},
       {{label, "OS"}}},
      {"network link ending inside its net name",
       patched(share_link(), {{k_part, 30}}),
       {{"network link", k_part, "net name has no NUL inside the network link; read to its end"},
        {"network link", k_part, "device name offset outside the link's names; name not read"}},
       {{net, "\\\\server\\s"}, {device, ""}, {suffix, "a.txt"}}},
      {"net name offset past the fixed part, no UTF-16 offsets there",
       patched(share_link(), {{k_part + 8, 37}}),
       {{"network link", k_part, "UTF-16 name offset outside the link's names; name not read"}},
       {{net, ""}, {device, "Z:"}}},
      {"suffix offset on the network link's last byte",
       patched(share_link(), {{k_info + 24, 65}}),
       {{"LinkInfo", k_info,
         "path suffix offset points inside the network link or another path; suffix not read"}},
       {{suffix, ""}, {net, "\\\\server\\share"}}},
      {"suffix offset on the local base path's NUL",
       patched(local_link(), {{k_info + 24, 52}}),
       {{"LinkInfo", k_info,
         "path suffix offset points inside the network link or another path; suffix not read"}},
       {{suffix, ""}, {local, "C:\\x\\"}}},
      {"local base path offset on the suffix's NUL",
       patched(local_link(), {{k_info + 16, 58}}),
       {{"LinkInfo", k_info,
         "local base path offset points inside the network link or another path; path not read"}},
       {{local, ""}, {suffix, "y.txt"}}},
      {"suffix offset inside the local base path",
       patched(local_link(), {{k_info + 24, 49}}),
       {{"LinkInfo", k_info,
         "path suffix offset points inside the network link or another path; suffix not read"}},
       {{suffix, ""}, {local, "C:\\x\\"}}},
      {"local base path offset inside the suffix",
       patched(local_link(), {{k_info + 16, 55}}),
       {{"LinkInfo", k_info,
         "local base path offset points inside the network link or another path; path not read"}},
       {{local, ""}, {suffix, "y.txt"}}},
      {"UTF-16 suffix offset inside the UTF-16 local base path",
       wide_suffix_in_path,
       {{"LinkInfo", k_info,
         "UTF-16 path suffix offset points inside the LinkInfo header or another part; suffix "
         "not read"}},
       {{suffix, "y.txt"}, {local, "C:\\x\\"}}},
      {"UTF-16 local base path left out at offset zero: the 8-bit one stands",
       wide_local_at_zero,
       {},
       {{local, "C:\\x\\"}, {suffix, "y.txt"}}},
      {"VolumeID size below its fixed fields",
       patched(local_link(), {{k_part, 12}}),
       {{"LinkInfo", k_info, "VolumeID size is below its 16 fixed bytes; not read"}},
       {{label, ""}, {serial, ""}, {local, "C:\\x\\"}}},
      {"VolumeID size past the LinkInfo",
       patched(local_link(), {{k_part, 200}}),
       {{"LinkInfo", k_info, "VolumeID size runs past the LinkInfo; not read"}},
       {{label, ""}, {serial, ""}, {suffix, "y.txt"}}},
      {"network link size below its fixed fields",
       patched(share_link(), {{k_part, 8}}),
       {{"LinkInfo", k_info, "network link size is below its 20 fixed bytes; not read"}},
       {{net, ""}, {device, ""}, {suffix, "a.txt"}}},
      {"LinkInfo ending inside its suffix",
       patched(local_link(false), {{k_info, 58}}),
       {{"LinkInfo", k_info, "path suffix has no NUL inside the LinkInfo; read to its end"}},
       {{suffix, "y.txt"}}},
      {"declared size past the parts",
       write_lnk(grown),
       {{"LinkInfo", k_info,
         "declared size runs past its parts; what follows read from their end"}},
       {{local, "C:\\x\\"}, {name, "n"}, {folder, "04030201-0605-0807-090a-0b0c0d0e0f10"}}},
      // An offset or header size that gives a part's bytes to the header
      // or to another part: the first disagreement is said and no text is
      // read there (pylnk refuses these LinkInfo but for three: it fails on
      // a local path or network suffix at zero and reads the label as a path
      // pointing at it).
      {"VolumeID offset past the LinkInfo",
       patched(local_link(), {{k_info + 12, 0x80000000}}),
       {{"LinkInfo", k_info, "VolumeID runs past the LinkInfo"}},
       {{label, ""}, {serial, ""}, {local, "C:\\x\\"}, {suffix, "y.txt"}}},
      {"local base path declared at offset zero",
       patched(local_link(), {{k_info + 16, 0}}),
       {{"LinkInfo", k_info, "local base path declared by the flags at offset zero"}},
       {{local, ""}, {label, "OS"}, {suffix, "y.txt"}}},
      {"network link's path suffix at offset zero",
       patched(share_link(), {{k_info + 24, 0}}),
       {{"LinkInfo", k_info, "path suffix declared by the flags at offset zero"}},
       {{suffix, ""}, {net, "\\\\server\\share"}}},
      {"header size 60 over the VolumeID and paths",
       patched(local_link(), {{k_info + 4, 60}}),
       {{"LinkInfo", k_info, "VolumeID offset points inside the LinkInfo header; not read"}},
       {{label, ""}, {local, ""}, {suffix, ""}, {name, "n"}}},
      {"header size 32",
       patched(local_link(), {{k_info + 4, 32}}),
       {{"LinkInfo", k_info, "header size is neither 28 nor 36 or more"}},
       {{label, ""}, {local, "C:\\x\\"}, {suffix, "y.txt"}}},
      {"UTF-16 suffix offset inside the header",
       wide_suffix_in_header,
       {{"LinkInfo", k_info,
         "UTF-16 path suffix offset points inside the LinkInfo header or another part; suffix "
         "not read"}},
       {{suffix, "y.txt"}, {local, "C:\\x\\"}}},
      {"local base path offset on the VolumeID's label",
       patched(local_link(), {{k_info + 16, 44}}),
       {{"LinkInfo", k_info,
         "local base path offset points inside the LinkInfo header or the VolumeID; path not "
         "read"}},
       {{local, ""}, {label, "OS"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    lnk_record rec;
    const lnk_bytes_t copy(c.bytes);
    ASSERT_TRUE(
        parse_lnk(rec, copy.data(), copy.size(), default_params(), test_scratch(), false, 0));
    ASSERT_EQ(rec.m_faults.size(), c.faults.size());
    for (size_t i = 0; i < c.faults.size(); ++i) {
      EXPECT_STREQ(rec.m_faults[i].structure, c.faults[i].structure);
      EXPECT_EQ(rec.m_faults[i].offset, c.faults[i].offset);
      EXPECT_STREQ(rec.m_faults[i].cause, c.faults[i].cause);
    }
    for (const auto& [get, want] : c.fields) EXPECT_EQ(get(rec), want);
  }
}

}  // namespace
}  // namespace vk
