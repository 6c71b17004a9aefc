// Cross-check of the ID-list walk against libfwsi's Python binding: on the
// inputs both accept, the items and their decoded fields agree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "idlist_writer.h"
#include "jumplist_samples.h"
#include "shell/idlist.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

const char* const k_python = "/usr/bin/python3";

const char* const k_script = R"(import sys, os, pyfwsi
d = sys.argv[1]
for name in sorted(os.listdir(d)):
    if not name.endswith('.bin'):
        continue
    data = open(os.path.join(d, name), 'rb').read()
    l = pyfwsi.item_list()
    try:
        l.copy_from_byte_stream(data)
        items = list(l.items)
    except Exception:
        print('FILE\t%s\tREFUSED' % name)
        continue
    print('FILE\t%s\t%d' % (name, len(items)))
    for it in items:
        k = type(it).__name__
        f = ['ITEM', str(it.class_type), k]
        def g(attr):
            try:
                v = getattr(it, attr)
            except Exception:
                v = None
            return '' if v is None else str(v)
        if k == 'root_folder':
            f.append('guid=' + g('shell_folder_identifier'))
        elif k == 'volume':
            f.append('name=' + g('name'))
        elif k == 'file_entry':
            f += ['name=' + g('name'), 'size=' + g('file_size'),
                  'mtime=' + str(it.get_modification_time_as_integer())]
            for i in range(it.number_of_extension_blocks):
                e = it.get_extension_block(i)
                if type(e).__name__ == 'file_entry_extension':
                    f += ['long=' + str(e.long_name or ''),
                          'ctime=' + str(e.get_creation_time_as_integer()),
                          'atime=' + str(e.get_access_time_as_integer()),
                          'ref=' + str(e.file_reference or 0)]
                    break
        elif k == 'network_location':
            f += ['loc=' + g('location'), 'desc=' + g('description')]
        print('\t'.join(x.replace('\t', ' ').replace('\n', ' ') for x in f))
)";

struct their_item {
  int class_type = 0;
  std::string kind;
  std::map<std::string, std::string> fields;
};

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string part;
  while (std::getline(ss, part, '\t')) out.push_back(part);
  return out;
}

// FAT date and time packed as time << 16 | date, as FILETIME ticks.
uint64_t packed_dos_ticks(const std::string& text) {
  uint32_t v = static_cast<uint32_t>(std::stoul(text));
  time t = time_from_dos(static_cast<uint16_t>(v), static_cast<uint16_t>(v >> 16), true);
  return t.valid() ? t.m_filetime : 0;
}

bool ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

TEST(IdListCrossCheck, AgreesWithLibfwsi) {
  std::string probe = std::string(k_python) + " -c 'import pyfwsi' >/dev/null 2>&1";
  if (std::system(probe.c_str()) != 0)
    GTEST_SKIP() << "Python's pyfwsi (Debian package python3-libfwsi) does not import";
  temp_tree dir;
  ASSERT_TRUE(dir.ok());

  std::map<std::string, bytes_t> inputs;
  inputs["fixture-file.bin"] = from_hex(
      "5a00320034120000215a00602000544553542e5458540000420009000400efbe215a0060225a00002e00"
      "0000341200000000050000000000000000000000000000000000000074006500730074002e0074007800"
      "7400000018000000");
  bytes_t volume = from_hex("19002f433a5c");
  volume.resize(25, 0);
  inputs["fixture-mixed.bin"] =
      cat({from_hex("14001f50e04fd020ea3a6910a2d808002b30309d"),
           volume,
           from_hex("20004100805c5c7365727665725c7368617265006465736300636f6d6d000000"),
           {0, 0}});
  size_t n = 0;
  for (const auto& s : samples_of_kind("lnk")) {
    const auto& b = s.bytes;
    if (b.size() < 80 || !(b[20] & 1)) continue;
    int64_t size = std::min<int64_t>(b[76] | (b[77] << 8), static_cast<int64_t>(b.size()) - 78);
    if (size < 2) continue;
    inputs["sample-" + std::to_string(n++) + ".bin"] =
        bytes_t(b.begin() + 78, b.begin() + 78 + size);
  }
  for (const auto& [name, bytes] : inputs) dir.file(name, std::string(bytes.begin(), bytes.end()));
  dir.file("check.py", k_script);
  std::string out_path = dir.path("out.txt");
  std::string cmd = std::string(k_python) + " " + dir.path("check.py") + " " + dir.root() + " > " +
                    out_path + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  std::map<std::string, std::vector<their_item>> theirs;
  std::ifstream in(out_path);
  std::string line, current;
  while (std::getline(in, line)) {
    auto cols = split_tabs(line);
    if (cols.size() >= 3 && cols[0] == "FILE") {
      current = cols[2] == "REFUSED" ? "" : cols[1];
      if (!current.empty()) theirs[current];
    } else if (!current.empty() && cols.size() >= 3 && cols[0] == "ITEM") {
      their_item t;
      t.class_type = std::stoi(cols[1]);
      t.kind = cols[2];
      for (size_t i = 3; i < cols.size(); ++i) {
        auto eq = cols[i].find('=');
        t.fields[cols[i].substr(0, eq)] = cols[i].substr(eq + 1);
      }
      theirs[current].push_back(t);
    }
  }
  ASSERT_TRUE(theirs.count("fixture-file.bin"));

  size_t compared = 0;
  const cmd_params opts;
  for (const auto& [name, list] : theirs) {
    const bytes_t& bytes = inputs[name];
    shell_item_list ours;
    parse_ctx ctx;
    if (!parse_idlist(ours, bytes.data(), static_cast<int64_t>(bytes.size()), false, false, ctx,
                      opts) ||
        list.empty())
      continue;  // only inputs both accept
    ++compared;
    std::string shapes;
    for (auto& r : ours) shapes += std::to_string(r.item_type) + " ";
    shapes += "/ ";
    for (auto& t : list) shapes += std::to_string(t.class_type) + t.kind + " ";
    ASSERT_EQ(ours.size(), list.size()) << name << ": " << shapes;
    for (size_t i = 0; i < list.size(); ++i) {
      const their_item& t = list[i];
      const shell_item_record& r = ours[i];
      SCOPED_TRACE(name + " item " + std::to_string(i));
      // Class 0 is libfwsi's item it does not decode (delegates and others).
      if (t.class_type == 0) continue;
      EXPECT_EQ(r.item_type, t.class_type);
      auto f = [&](const char* key) {
        auto it = t.fields.find(key);
        return it == t.fields.end() ? std::string() : it->second;
      };
      if (t.kind == "root_folder" && !r.guids.empty()) {
        EXPECT_EQ(guid_to_string(r.guids[0]), f("guid"));
      } else if (t.kind == "volume") {
        std::string v = f("name");
        if (!v.empty() && v.back() == '\\') v.pop_back();
        if (!v.empty()) {
          EXPECT_EQ(r.long_name, v);
        }
      } else if (t.kind == "file_entry") {
        if (ascii(r.primary_name) && r.item_type < 0x34) {
          EXPECT_EQ(r.primary_name, f("name"));
        }
        EXPECT_EQ(std::to_string(r.size), f("size"));
        EXPECT_EQ(r.modified, packed_dos_ticks(f("mtime")));
        if (t.fields.count("long")) {
          // libfwsi mis-decodes surrogate pairs; compare plain text only.
          if (ascii(f("long"))) {
            EXPECT_EQ(r.long_name, f("long"));
          }
          EXPECT_EQ(r.created, packed_dos_ticks(f("ctime")));
          EXPECT_EQ(r.accessed, packed_dos_ticks(f("atime")));
          EXPECT_EQ(std::to_string(r.mft_entry | (uint64_t{r.mft_sequence} << 48)), f("ref"));
        }
      } else if (t.kind == "network_location") {
        // 8-bit names keep their code-page bytes; compare plain text only.
        auto has = [&](const std::string& s) {
          return s.empty() || !ascii(s) ||
                 std::find(r.names.begin(), r.names.end(), s) != r.names.end();
        };
        EXPECT_TRUE(has(f("loc"))) << f("loc");
        EXPECT_TRUE(has(f("desc"))) << f("desc");
      }
    }
  }
  EXPECT_GE(compared, 2u);
}

}  // namespace
}  // namespace vk
