#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "fake_host.h"
#include "foundation/vk_env.h"
#include "foundation/vk_hostsys.h"

using namespace vk;

namespace {

// Sets environment variables for one test and restores them afterwards.
class env_guard {
 public:
  explicit env_guard(std::initializer_list<std::pair<const char*, const char*>> vars) {
    for (const auto& [name, value] : vars) {
      const char* old = getenv(name);
      m_saved.push_back({name, old != nullptr, old != nullptr ? old : ""});
      if (value != nullptr)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
  }
  ~env_guard() {
    for (const auto& s : m_saved) {
      if (s.was_set)
        setenv(s.name.c_str(), s.value.c_str(), 1);
      else
        unsetenv(s.name.c_str());
    }
  }

 private:
  struct saved {
    std::string name;
    bool was_set;
    std::string value;
  };
  std::vector<saved> m_saved;
};

const char kShadowPrefix[] = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";

}  // namespace

TEST(ExpandEnvVars, ShadowCopyReference) {
  env_guard env({{"VSS", nullptr}, {"vss", nullptr}, {"Vss", nullptr}});
  EXPECT_EQ(expand_env_vars("%VSS%3\\Windows", true), std::string(kShadowPrefix) + "3\\Windows");
  EXPECT_EQ(expand_env_vars("%vss%12\\a", true), std::string(kShadowPrefix) + "12\\a");
  // Without the rule the reference stays.
  EXPECT_EQ(expand_env_vars("%VSS%3\\Windows", false), "%VSS%3\\Windows");
  {
    env_guard defined({{"VSS", "D:"}});
    EXPECT_EQ(expand_env_vars("%VSS%3\\Windows", true), "D:3\\Windows");
    // Names are exact-case: "vss" is not defined, so the rule still applies.
    EXPECT_EQ(expand_env_vars("%vss%3", true), std::string(kShadowPrefix) + "3");
  }
}

TEST(ExpandEnvVars, DefinedUndefinedAndMalformed) {
  env_guard env({{"UNDEF", nullptr},
                 {"HOME", "/home/examiner"},
                 {"VK_INNER", "in"},
                 {"VK_OUTER", "<%VK_INNER%>"}});
  EXPECT_EQ(expand_env_vars("%UNDEF%%HOME%", true), "%UNDEF%/home/examiner");
  EXPECT_EQ(expand_env_vars("%HOME%/x/%HOME%", false), "/home/examiner/x//home/examiner");
  EXPECT_EQ(expand_env_vars("a%%b", true), "a%%b");
  EXPECT_EQ(expand_env_vars("50% off", true), "50% off");
  EXPECT_EQ(expand_env_vars("", true), "");
  // A value that refers to another variable expands in turn.
  EXPECT_EQ(expand_env_vars("[%VK_OUTER%]", false), "[<in>]");
}

TEST(ExpandEnvVars, LongTextsUnchanged) {
  env_guard env({{"HOME", "/home/examiner"}});
  std::string text = "%HOME%" + std::string(507, 'a');
  ASSERT_EQ(text.size(), 513u);
  EXPECT_EQ(expand_env_vars(text, true), text);
  // One character shorter is expanded.
  text.pop_back();
  EXPECT_EQ(expand_env_vars(text, true), "/home/examiner" + std::string(506, 'a'));
  // Expansion stops once the text has grown to the limit.
  env_guard big({{"VK_BIG", std::string(600, 'b').c_str()}});
  EXPECT_EQ(expand_env_vars("%VK_BIG%%HOME%", false), std::string(600, 'b') + "%HOME%");
}

TEST(ExpandEnvVars, SelfReferenceTerminates) {
  env_guard env({{"X", "%X%"}, {"A", "%B%"}, {"B", "%A%"}, {"VK_GROW", "a%VK_GROW%"}});
  EXPECT_EQ(expand_env_vars("%X%", true), "%X%");
  const std::string cyc = expand_env_vars("p\\%A%\\q", true);
  EXPECT_TRUE(cyc == "p\\%A%\\q" || cyc == "p\\%B%\\q") << cyc;
  // A growing self reference stops too, with the reference still in place.
  const std::string grown = expand_env_vars("%VK_GROW%", false);
  EXPECT_GT(grown.size(), 9u);
  EXPECT_LE(grown.size(), 513u + 10u);
  EXPECT_EQ(grown.substr(grown.size() - 9), "%VK_GROW%");
  EXPECT_EQ(grown.find_first_not_of('a'), grown.size() - 9);
}

TEST(ExpandEnvVars, WideForm) {
  env_guard env({{"VK_DIR", "C:\\Users\\J\u00f6rg"}, {"VSS", nullptr}});
  std::wstring text = L"%VK_DIR%\\Desktop";
  EXPECT_EQ(expand_env_vars_w(text), L"C:\\Users\\J\u00f6rg\\Desktop");
  EXPECT_EQ(text, L"C:\\Users\\J\u00f6rg\\Desktop");
  // No shadow-copy rule in the wide form.
  text = L"%VSS%1";
  EXPECT_EQ(expand_env_vars_w(text), L"%VSS%1");
  text = L"";
  EXPECT_EQ(expand_env_vars_w(text), L"");
}

TEST(ExpandEnvVars, WideFormNeverCutsThePath) {
  // A character beyond Unicode cannot go through UTF-8, and a value that is
  // not UTF-8 cannot come back: the text stays whole and unexpanded.
  env_guard env({{"VK_DIR", "d"}, {"VK_BAD", "\xFF\xFE"}});
  std::wstring text = L"%VK_DIR%\\a";
  text += static_cast<wchar_t>(0x110000);
  text += L"\\b";
  const std::wstring original = text;
  EXPECT_EQ(expand_env_vars_w(text), original);
  EXPECT_EQ(text, original);
  text = L"x\\%VK_BAD%\\y";
  EXPECT_EQ(expand_env_vars_w(text), L"x\\%VK_BAD%\\y");
  EXPECT_EQ(text, L"x\\%VK_BAD%\\y");
}

TEST(TimeLocale, ExistsAndPick) {
  EXPECT_TRUE(locale_exists("C"));
  EXPECT_TRUE(locale_exists("POSIX"));
  EXPECT_FALSE(locale_exists("xx_NOT.A-LOCALE"));
  EXPECT_FALSE(locale_exists(nullptr));

  {
    env_guard env({{"LC_ALL", nullptr}, {"LC_TIME", nullptr}, {"LANG", "C.UTF-8"}});
    std::string name = "junk";
    EXPECT_TRUE(pick_time_locale(name));
    EXPECT_EQ(name, "");
  }
  {
    // The environment's locale cannot be built, and neither can the named ones.
    env_guard env({{"LC_ALL", "zz_ZZ.bogus"}, {"LC_TIME", "yy_YY.bogus"}, {"LANG", "zz_ZZ"}});
    std::string name = "junk";
    EXPECT_FALSE(pick_time_locale(name));
    EXPECT_EQ(name, "");
  }
  {
    // LC_ALL overrides everything for the environment's locale; LC_TIME names one that works.
    env_guard env({{"LC_ALL", "zz_ZZ.bogus"}, {"LC_TIME", "C"}, {"LANG", nullptr}});
    std::string name;
    EXPECT_TRUE(pick_time_locale(name));
    EXPECT_EQ(name, "C");
  }
}

TEST(HostName, FromQueryOrUnknown) {
  vesk_test::fake_host host;
  vesk_test::fake_host_scope use(&host);
  host.hostname = "forensic-ws";
  EXPECT_EQ(get_host_name(), "forensic-ws");
  host.hostname = std::string(5000, 'h');  // truncated, still terminated
  EXPECT_EQ(get_host_name(), std::string(4095, 'h'));
  host.hostname_result = -1;
  EXPECT_EQ(get_host_name(), "<unk>");
}

TEST(HostName, RealMachine) {
  EXPECT_FALSE(get_host_name().empty());
  EXPECT_FALSE(get_exe_path().empty());
}

TEST(ExePath, WideAndLimited) {
  vesk_test::fake_host host;
  vesk_test::fake_host_scope use(&host);
  host.exe = "/opt/caf\xC3\xA9/vesk";
  EXPECT_EQ(get_exe_path(), L"/opt/caf\u00e9/vesk");
  host.exe = std::string(2000, 'p');
  EXPECT_EQ(get_exe_path().size(), 1023u);
  host.exe = "/opt/\xFF/vesk";  // not UTF-8: no path rather than a cut one
  EXPECT_EQ(get_exe_path(), L"");
  host.exe.clear();
  EXPECT_EQ(get_exe_path(), L"");
}

// $TMPDIR as given, a relative one too; /tmp when unset or empty.
TEST(TemporaryFolder, TakenFromTheEnvironment) {
  const struct {
    const char* tmpdir;
    const char* folder;
  } rows[] = {
      {nullptr, "/tmp"},          {"", "/tmp"},   {"/var/tmp", "/var/tmp"},
      {"/var/tmp/", "/var/tmp/"}, {"rel", "rel"}, {"./a/b/", "./a/b/"},
  };
  for (const auto& r : rows) {
    env_guard env({{"TMPDIR", r.tmpdir}});
    EXPECT_EQ(temporary_folder(), r.folder) << (r.tmpdir ? r.tmpdir : "(unset)");
  }
}
