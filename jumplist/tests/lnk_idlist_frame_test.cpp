// A link's ID lists whose items do not fill them up to the terminator: the
// items read are kept and the link says where the framing went wrong, so
// that what follows a list read from the wrong place is never silent.
#include <gtest/gtest.h>

#include "default_params.h"
#include "idlist_writer.h"
#include "jumplist/lnk_parser.h"
#include "lnk_writer.h"

namespace vk {
namespace {

using namespace vesk_test;

// Offsets: the header is 76 bytes, the list's size 2 and its first item at
// 78; a one-character name takes 4 bytes, so that a Vista block after it
// lies at 80 and its list at 88.
TEST(LnkIdListFrame, ItemsNotFillingTheListAreSaid) {
  const lnk_bytes_t root = shell_item(0x1F, from_hex("50e04fd020ea3a6910a2d808002b30309d"));
  lnk_bytes_t last = shell_item(0x32, lnk_bytes_t(17, 0x41));
  last.back() = 0;
  const lnk_bytes_t short_last = shell_item(0x32, lnk_bytes_t(last.begin() + 3, last.end()), 19);

  lnk_spec sound;
  sound.strings[lnk_name] = u"n";
  sound.idlist = idlist({root, last});
  sound.extra_blocks = {vista_idlist_block(idlist({root, last}))};
  lnk_spec grown = sound;  // the name's count read as the terminator
  grown.idlist_declared = 44;
  lnk_spec one_byte = sound;
  one_byte.idlist_declared = 1;
  lnk_spec empty = sound;  // a list of no item declared as none at all
  empty.idlist = idlist({});
  empty.idlist_declared = 0;
  lnk_spec shrunk = sound;  // its last byte, a zero, and the terminator
  shrunk.idlist = idlist({root, short_last});
  lnk_spec inner_zero = sound;  // a zero size, then an item
  inner_zero.idlist = idlist({root, {0, 0}, last});
  lnk_spec unterminated = sound;
  unterminated.idlist = idlist({root}, false);
  unterminated.idlist_declared = 20;
  lnk_spec vista_unterminated;
  vista_unterminated.strings[lnk_name] = u"n";
  vista_unterminated.extra_blocks = {vista_idlist_block(idlist({root}, false))};

  const struct {
    const char* what;
    lnk_spec spec;
    size_t items;
    const char* structure;  // null: no fault
    uint64_t offset;
    const char* cause;
  } cases[] = {
      {"sound", sound, 2, nullptr, 0, nullptr},
      {"list size grown by 2", grown, 2, "shell item", 118, "item size zero before the list's end"},
      {"list size 1", one_byte, 0, "ID list", 76,
       "declared size below its terminator's 2 bytes; items not read"},
      {"empty list of size 0", empty, 0, "ID list", 76,
       "declared size is not that of the empty list it holds"},
      {"last item a byte short", shrunk, 2, "shell item", 119, "one byte left after the last item"},
      {"zero size between items", inner_zero, 2, "shell item", 98,
       "item size zero before the list's end"},
      {"no terminator", unterminated, 1, "shell item", 98, "no terminator at the list's end"},
      {"no terminator in the Vista list", vista_unterminated, 0, "shell item", 108,
       "no terminator at the list's end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const lnk_bytes_t bytes = write_lnk(c.spec);
    lnk_record rec;
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    EXPECT_EQ(rec.m_idlist_items.size(), c.items);
    if (!c.structure) {
      EXPECT_EQ(rec.m_faults.size(), 0u);
      continue;
    }
    ASSERT_GE(rec.m_faults.size(), 1u);
    EXPECT_STREQ(rec.m_faults[0].structure, c.structure);
    EXPECT_EQ(rec.m_faults[0].offset, c.offset);
    EXPECT_STREQ(rec.m_faults[0].cause, c.cause);
  }
}

}  // namespace
}  // namespace vk
