#include "cmdline/run_context.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "cmdline/common_options.h"
#include "foundation/vk_console.h"
#include "temp_tree.h"

using namespace vk;

namespace {

const std::string k_erase = "\x1b[2K\r" + std::string(27, ' ') + "\r";

int g_calls = 0;
std::string g_text;
int remember_exit(std::string& text) {
  ++g_calls;
  g_text = text;
  return 7;
}

// "->", whole seconds, " secs", then `end`.
bool elapsed_text(const std::string& text, const std::string& end) {
  const size_t digits = text.find_first_not_of("0123456789", 2);
  return text.compare(0, 2, "->") == 0 && digits > 2 && digits != std::string::npos &&
         text.substr(digits) == " secs" + end;
}

bool timed(const cmdline_ctx& ctx) {
  return !ctx.m_start_stamp.is_zero();
}

// Parses args into fresh settings, sets a context up from them, then ends
// the settings and the context in the tool's order; returns standard error
// of the whole run and whether the run was timed.
std::string whole_run(std::vector<std::string> args, bool& was_timed) {
  console_capture cap;
  auto ctx = std::make_unique<cmdline_ctx>();
  {
    cmd_params settings;
    args.insert(args.begin(), "prog");
    EXPECT_EQ(parse_common_options(settings, args), 1);
    setup_run_context(*ctx, settings, remember_exit);
    was_timed = timed(*ctx);
  }
  ctx.reset();
  return cap.err();
}

}  // namespace

TEST(RunContext, EndOfRunWork) {
  bool was_timed = true;
  g_calls = 0;
  EXPECT_EQ(whole_run({}, was_timed), k_erase);
  EXPECT_FALSE(was_timed);
  EXPECT_EQ(g_calls, 0);

  std::string err = whole_run({"-profile"}, was_timed);
  EXPECT_TRUE(was_timed);
  ASSERT_EQ(err.compare(0, k_erase.size(), k_erase), 0);
  EXPECT_TRUE(elapsed_text(err.substr(k_erase.size()), "\n")) << err;
  err = whole_run({"-profile", "-quiet"}, was_timed);
  EXPECT_TRUE(elapsed_text(err, "\n")) << err;

  EXPECT_EQ(whole_run({"-quiet", "-signal", ""}, was_timed), "");
  EXPECT_EQ(g_calls, 0);
  whole_run({"-signal", "x"}, was_timed);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_text, "x");
  EXPECT_FALSE(was_timed);
}

TEST(RunContext, DiagsLogGetsTheCommandLineThenTheElapsedTime) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string log = tree.path("run.log");
  bool was_timed = false;
  EXPECT_EQ(whole_run({"-diags", log, "-l2", "-quiet"}, was_timed), "");
  EXPECT_TRUE(was_timed);
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string first = "->prog -diags " + log + " -l2 -quiet\n";
  ASSERT_EQ(text.compare(0, first.size(), first), 0) << text;
  EXPECT_TRUE(elapsed_text(text.substr(first.size()), "")) << text;

  // A log path that cannot be opened leaves logging off and the run untimed,
  // and says why.
  EXPECT_EQ(whole_run({"-diags", tree.path("no/such/dir/log"), "-l2", "-quiet"}, was_timed),
            "can't write diagnostics log: " + tree.path("no/such/dir/log") +
                " (No such file or directory)\n");
  EXPECT_FALSE(was_timed);
}

// A message is written whole whatever its length (a name from a deep tree
// makes it long); the status line's erase codes only while it is shown.
TEST(ErrorPrintf, WholeMessagesOfAnyLength) {
  console_capture cap;
  for (const size_t name : {size_t{4058}, size_t{4059}, size_t{70000}}) {
    const std::string path(name, 'p');
    EXPECT_EQ(error_printf("can't read specified file: %s, aborting\n", path.c_str()), name + 38);
    EXPECT_EQ(cap.err(), k_erase + "can't read specified file: " + path + ", aborting\n");
    cap.clear();
  }
  EXPECT_EQ(error_printf(nullptr), 0u);
  EXPECT_EQ(cap.err(), k_erase);
  cap.clear();
  set_status_line_shown(false);
  EXPECT_EQ(error_printf("%s\n", "plain"), 6u);
  EXPECT_EQ(status_printf("analyzing: %s", "x"), 12);
  erase_status_line();
  set_status_line_shown(true);
  EXPECT_EQ(cap.err(), "plain\n");
}

TEST(RunContext, ScratchStreamAndByteOrder) {
  cmd_params plain;
  output_or_scratch(plain) << "left over";
  std::ostream& scratch = output_or_scratch(plain);
  scratch << "x";
  EXPECT_EQ(static_cast<std::ostringstream&>(scratch).str(), "x");
  cmd_params capturing(0, true);
  EXPECT_EQ(&output_or_scratch(capturing), capturing.m_capture);

  EXPECT_EQ(host_to_big_endian_table.to16(0x1234), 0x3412);
  EXPECT_EQ(host_to_big_endian_table.to32(0x11223344u), 0x44332211u);
  EXPECT_EQ(host_to_big_endian_table.to64(0x0102030405060708ull), 0x0807060504030201ull);
}
