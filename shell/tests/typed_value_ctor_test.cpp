// A typed value made new is the same as one reset: nothing decoded yet.
#include <gtest/gtest.h>

#include "shell/typed_value.h"

TEST(TypedValueCtor, NewValueEqualsResetValue) {
  vk::typed_value used;
  used.kind = vk::tv_text;
  used.vartype = 0x1f;
  used.consumed = 12;
  used.count = 1;
  used.offsets = {4};
  used.dwords = {1};
  used.qwords = {2};
  used.blobs = {"b"};
  used.texts = {"t"};
  used.reset();
  const vk::typed_value fresh;
  for (const vk::typed_value* v : {&fresh, static_cast<const vk::typed_value*>(&used)}) {
    EXPECT_EQ(v->kind, vk::tv_none);
    EXPECT_EQ(v->vartype, 0);
    EXPECT_EQ(v->consumed, 0u);
    EXPECT_EQ(v->count, 0u);
    EXPECT_TRUE(v->offsets.empty() && v->dwords.empty() && v->qwords.empty() && v->blobs.empty() &&
                v->texts.empty());
  }
}
