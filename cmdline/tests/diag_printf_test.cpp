// The printf-style "-diags" writers: line shape, level filter, cut of long
// messages, and silence while logging is off.
#include "cmdline/diag_printf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "foundation/vk_misc.h"
#include "temp_tree.h"

using namespace vk;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void open_log(cmd_params& p, const std::string& path) {
  p.m_log_path = path;
  p.m_log = new std::ofstream(path, std::ios::out | std::ios::trunc);
  p.m_log_on = 1;
}

}  // namespace

TEST(DiagPrintf, LineShapesLevelsAndCut) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string path = tree.path("diags.log");
  cmd_params p;
  open_log(p, path);
  p.m_log_level = 2;
  diag_printf_ex(p, "P", "S", "value %d", 7);
  diag_printf_ex(p, nullptr, "S", "no prefix");
  diag_printf_ex(p, "P", nullptr, "no suffix");
  diag_note(p, "note %s", "x");
  diag_note_level(p, 2, "level %d", 2);
  diag_note_level(p, 3, "level %d", 3);
  diag_printf(&p, "plain %u", 9u);
  diag_printf(nullptr, "never");
  // Each line is flushed as it is written.
  EXPECT_EQ(read_file(path),
            "->P : value 7: S\n->no prefix: S\n->P : no suffix\n->note x\n->level 2\n->plain 9\n");

  // "%s" is 2 characters, so the message keeps 256 of them.
  const std::string longer(1000, 'z');
  diag_note(p, "%s", longer.c_str());
  const std::string all = read_file(path);
  EXPECT_EQ(all.substr(all.rfind("->")), "->" + std::string(256, 'z') + "\n");
  EXPECT_TRUE(p.close_log());
}

TEST(DiagPrintf, LoggingOffTouchesNothing) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string path = tree.path("diags.log");
  cmd_params p;
  open_log(p, path);
  *p.m_log << "kept";
  p.m_log_on = 0;
  p.m_log_level = 9;
  diag_printf_ex(p, "P", "S", "x");
  diag_note(p, "x");
  diag_note_level(p, 1, "x");
  diag_printf(&p, "x");
  p.flush_log();
  p.clear_log_state();
  EXPECT_TRUE(p.close_log());
  EXPECT_EQ(read_file(path), "kept");
  cmd_params without;  // logging off, no stream at all
  diag_note(without, "x");
  EXPECT_TRUE(without.close_log());
  // The core the writers share, and the stream that output capture goes to.
  void (*core)(cmd_params&, const char*, const char*, const char*, va_list) = &diag_write_va;
  EXPECT_NE(core, nullptr);
  EXPECT_EQ(&without.capture_stream(), static_cast<std::ostream*>(&null_stream));
}
