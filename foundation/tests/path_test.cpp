#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "foundation/vk_hostsys.h"
#include "foundation/vk_path.h"
#include "temp_tree.h"

using namespace vk;

namespace {

using vesk_test::fake_host;
using vesk_test::fake_host_scope;

}  // namespace

TEST(SplitPath, BothFormsSplitAlike) {
  struct split_case {
    const char* path;
    const char* dir;
    const char* name;
  };
  const split_case cases[] = {
      {"x\\a\\b.lnk", "x\\a", "b.lnk"},
      // A backslash wins even when a slash stands after it.
      {"c:\\dir/sub/file", "c:", "dir/sub/file"},
      {"/var/log/", "/var/log", ""},
      // A name ".." becomes "."; the directory gets "\\.." or, in the slash form, "//..".
      {"/x/y/..", "/x/y//..", "."},
      {"a\\b\\..", "a\\b\\..", "."},
      // A separator only at position 0, or none at all: directory ".".
      {"/etc", ".", "/etc"},
      {"plain.lnk", ".", "plain.lnk"},
      // The leading backslash stops the search: later slashes are not looked at.
      {"\\a/b", ".", "\\a/b"},
  };
  for (const split_case& c : cases) {
    std::string dir = "junk", name = "junk";
    EXPECT_TRUE(split_path(c.path, dir, name)) << c.path;
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(name, c.name) << c.path;

    const std::string p = c.path, d = c.dir, n = c.name;
    std::wstring wdir = L"junk", wname = L"junk";
    EXPECT_TRUE(split_path_w(std::wstring(p.begin(), p.end()), wdir, wname)) << c.path;
    EXPECT_EQ(wdir, std::wstring(d.begin(), d.end())) << c.path;
    EXPECT_EQ(wname, std::wstring(n.begin(), n.end())) << c.path;
  }
}

TEST(SplitPath, EmptyPath) {
  std::string dir = "d", name = "n";
  EXPECT_FALSE(split_path("", dir, name));
  EXPECT_EQ(dir, "");
  EXPECT_EQ(name, "");

  // The wide form leaves its outputs alone for an empty path.
  std::wstring wdir = L"d", wname = L"n";
  EXPECT_FALSE(split_path_w(L"", wdir, wname));
  EXPECT_EQ(wdir, L"d");
  EXPECT_EQ(wname, L"n");
}

TEST(OptionLookup, TakeOptionValue) {
  std::vector<std::string> args{"prog", "-out"};
  std::string v = "keep";
  EXPECT_FALSE(take_option_value("-out", v, args));
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "-out"}));
  EXPECT_EQ(v, "keep");

  args = {"prog", "-x", "-OUT", "file.txt", "-out", "second"};
  EXPECT_TRUE(take_option_value("-out", v, args));
  EXPECT_EQ(v, "file.txt");
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "-x", "-out", "second"}));

  EXPECT_FALSE(take_option_value("-missing", v, args));
  EXPECT_EQ(args.size(), 4u);
}

TEST(OptionLookup, FlagsAndHasOption) {
  std::vector<std::string> args{"-csv", "prog", "-Quiet"};
  EXPECT_TRUE(take_option_flag("-quiet", args, true));
  EXPECT_EQ(args.size(), 3u);
  EXPECT_TRUE(take_option_flag("-quiet", args, false));
  EXPECT_EQ(args, (std::vector<std::string>{"-csv", "prog"}));
  EXPECT_FALSE(take_option_flag("-quiet", args, false));

  // Index 0 (the program path) is skipped with start 1.
  EXPECT_FALSE(has_option("-csv", args, 1));
  EXPECT_TRUE(has_option("-CSV", args, 0));
  EXPECT_FALSE(has_option("-cs", args, 0));
  EXPECT_FALSE(has_option("-csvx", args, 0));
  EXPECT_FALSE(has_option("-csv", args, 9));
}

TEST(OptionLookup, ArgumentArrays) {
  char a0[] = "-h", a1[] = "-Pipe", a2[] = "x";
  char* argv[] = {a0, a1, a2, nullptr};
  int argc = 3;
  // Index 0 is never looked at.
  EXPECT_FALSE(has_arg("-h", argc, argv));
  EXPECT_TRUE(has_arg("-pipe", argc, argv));
  EXPECT_EQ(argc, 3);
  EXPECT_TRUE(take_arg_flag("-pipe", argc, argv, false));
  EXPECT_EQ(argc, 2);
  EXPECT_STREQ(argv[1], "x");

  EXPECT_FALSE(remove_arg(2, argc, argv));
  EXPECT_EQ(argc, 2);
  EXPECT_TRUE(remove_arg(0, argc, argv));
  EXPECT_EQ(argc, 1);
  EXPECT_STREQ(argv[0], "x");

  wchar_t w0[] = L"a", w1[] = L"b";
  wchar_t* wargv[] = {w0, w1};
  int wargc = 2;
  EXPECT_TRUE(remove_arg_w(0, wargc, wargv));
  EXPECT_EQ(wargc, 1);
  EXPECT_EQ(wargv[0], w1);

  std::vector<std::wstring> wl{L"a", L"b", L"c"};
  EXPECT_FALSE(erase_wstring_at(3, wl));
  EXPECT_TRUE(erase_wstring_at(1, wl));
  EXPECT_EQ(wl, (std::vector<std::wstring>{L"a", L"c"}));
  std::vector<std::string> nl{"a"};
  EXPECT_FALSE(erase_string_at(1, nl));
  EXPECT_TRUE(erase_string_at(0, nl));
  EXPECT_TRUE(nl.empty());
}

TEST(SystemInfo, WriteSeparatedLine) {
  host_info info;
  info.m_system_name = "Linux";
  info.m_version = "#1 SMP; x";
  info.m_release = "6.1.0";
  info.m_node_name = "box";
  info.m_is_64bit = 1;
  std::ostringstream out;
  out << "stale";
  write_system_info(info, out, ";", " ", false, false);
  EXPECT_EQ(out.str(), "Linux;#1 SMP  x;6.1.0;64");

  info.m_is_64bit = 0;
  info.m_exe_path = "/Opt/Vesk";
  info.m_exe_size = 0x1F00;
  write_system_info(info, out, ";", " ", true, true);
  EXPECT_EQ(out.str(), "Linux;box;#1 SMP  x;6.1.0;32;/opt/vesk;1f00");

  info.m_release_cut = 1;
  info.m_release = "6.1.0-13";
  info.m_exe_size = 0;
  write_system_info(info, out, "|", "_", false, false);
  EXPECT_EQ(out.str(), "Linux|#1 SMP; x|6.1.0|32");
  info.m_release = "6.1.0";  // only one character after the last '.': kept whole
  write_system_info(info, out, "|", "_", false, false);
  EXPECT_EQ(out.str(), "Linux|#1 SMP; x|6.1.0|32");
  // Without a separator there is nothing to replace: every value stays whole.
  write_system_info(info, out, "", "_", false, false);
  EXPECT_EQ(out.str(), "Linux#1 SMP; x6.1.032");
}

TEST(SystemInfo, VssDevicePath) {
  EXPECT_EQ(vss_device_path(false, true), "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy");
  EXPECT_EQ(vss_device_path(true, false), "\\device\\harddiskvolumeshadowcopy");
  EXPECT_EQ(vss_device_path(false, false), "\\Device\\HarddiskVolumeShadowCopy");
  EXPECT_EQ(long_path_limit(), 46u);
}

TEST(SystemInfo, FillsFromQueries) {
  fake_host host;
  fake_host_scope use(&host);
  host_info info;
  info.m_extra = "old";
  EXPECT_TRUE(get_system_info(info, "/opt/tools/vesk_x64"));
  EXPECT_EQ(info.m_valid, 1);
  EXPECT_EQ(info.m_is_64bit, 1);
  EXPECT_EQ(info.m_system_name, "Linux");
  EXPECT_EQ(info.m_node_name, "box");
  EXPECT_EQ(info.m_release, "6.1.0-13-amd64");
  EXPECT_EQ(info.m_version, "#1 SMP Debian");
  EXPECT_EQ(info.m_exe_path, "/opt/tools/vesk_x64");
  EXPECT_EQ(info.m_exe_name, "vesk");
  EXPECT_EQ(info.m_extra, "");
  EXPECT_EQ(info.m_on_network_fs, 0);
  EXPECT_EQ(info.m_on_usb_device, 0);

  host.uname_fields.machine = "i686";
  EXPECT_TRUE(get_system_info(info, "vesk_x64"));  // no slash: no name part
  EXPECT_EQ(info.m_is_64bit, 0);
  EXPECT_EQ(info.m_exe_name, "");

  host.uname_ok = false;
  EXPECT_FALSE(get_system_info(info, "/opt/x"));
  EXPECT_EQ(info.m_valid, 0);
  EXPECT_EQ(info.m_system_name, "Linux");
  EXPECT_EQ(info.m_node_name, "");
}

TEST(SystemInfo, NetworkFileSystems) {
  fake_host host;
  fake_host_scope use(&host);
  for (uint64_t t : {0x6969ull, 0x517Bull, 0x65735546ull, 0xFF534D42ull}) {
    host.fs_type = t;
    EXPECT_TRUE(exe_on_network_fs()) << std::hex << t;
  }
  host.fs_type = 0xEF53;
  EXPECT_FALSE(exe_on_network_fs());
  host.fs_type = 0x6969;
  host.exe.assign(1, '/');  // a one-character path is not looked at
  EXPECT_FALSE(exe_on_network_fs());
  host.readlink_ok = false;
  EXPECT_FALSE(exe_on_network_fs());
}

TEST(SystemInfo, UsbDevice) {
  fake_host host;
  fake_host_scope use(&host);
  EXPECT_FALSE(exe_on_usb_device());
  EXPECT_EQ(host.asked_link, "/sys/dev/block/8:1");
  host.sys_target = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb/sdb1";
  host.major_no = 8;
  host.minor_no = 17;
  EXPECT_TRUE(exe_on_usb_device());
  EXPECT_EQ(host.asked_link, "/sys/dev/block/8:17");

  host_info info;
  host.fs_type = 0x65735546;
  EXPECT_TRUE(get_system_info(info, host.exe));
  EXPECT_EQ(info.m_on_usb_device, 1);
  EXPECT_EQ(info.m_on_network_fs, 1);
}

TEST(SystemInfo, ExecutablePath) {
  fake_host host;
  fake_host_scope use(&host);
  EXPECT_EQ(self_exe_path(), "/opt/tools/vesk_x64");
  host.exe = std::string(3000, 'a');
  EXPECT_EQ(self_exe_path().size(), 2047u);  // always terminated inside its buffer
  host.readlink_ok = false;
  EXPECT_EQ(self_exe_path(), "");
}

TEST(SystemInfo, ExecutableSizeFromTheUtf8Path) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("caf\xC3\xA9_x64", std::string(0x1234, 'z'));
  host_info info;
  info.m_exe_path = tree.path("caf\xC3\xA9_x64");
  EXPECT_TRUE(host_info_set_exe_size(info));
  EXPECT_EQ(info.m_exe_size, 0x1234u);

  info.m_exe_path = tree.path("missing");
  EXPECT_FALSE(host_info_set_exe_size(info));
  EXPECT_EQ(info.m_exe_size, 0u);
  tree.file("empty", "");
  info.m_exe_size = 7;
  info.m_exe_path = tree.path("empty");
  EXPECT_FALSE(host_info_set_exe_size(info));
  EXPECT_EQ(info.m_exe_size, 0u);
  info.m_exe_path.clear();
  EXPECT_FALSE(host_info_set_exe_size(info));
}

TEST(SystemInfo, RealMachineAnswers) {
  // On the build machine itself: uname works and the program path is known.
  host_info info;
  EXPECT_TRUE(get_system_info(info, self_exe_path()));
  EXPECT_EQ(info.m_valid, 1);
  EXPECT_FALSE(info.m_system_name.empty());
  EXPECT_FALSE(self_exe_path().empty());
  EXPECT_TRUE(host_info_set_exe_size(info));
}

TEST(SystemInfo, ClearAndDestroy) {
  host_info info;
  info.m_valid = info.m_is_64bit = info.m_release_cut = 1;
  info.m_on_network_fs = info.m_on_usb_device = 1;
  info.m_exe_size = 9;
  info.m_system_name = info.m_version = info.m_release = info.m_node_name = "x";
  info.m_exe_path = info.m_exe_name = info.m_extra = "y";
  clear_host_info(info);
  EXPECT_EQ(info.m_valid | info.m_is_64bit | info.m_release_cut, 0);
  EXPECT_EQ(info.m_on_network_fs | info.m_on_usb_device, 0);
  EXPECT_EQ(info.m_exe_size, 0u);
  EXPECT_TRUE(info.m_system_name.empty() && info.m_version.empty() && info.m_release.empty() &&
              info.m_node_name.empty() && info.m_exe_path.empty() && info.m_exe_name.empty() &&
              info.m_extra.empty());
  info.m_extra = "z";
  destroy_host_info(info);
  EXPECT_TRUE(info.m_extra.empty());
  init_host_info(info);
  EXPECT_EQ(info.m_valid, 0);
}
