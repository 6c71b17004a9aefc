// Which parsed links are worth a record: the keep rule of every road.
#pragma once

#include "jumplist/lnk_record.h"
#include "jumplist/lnk_text_fields.h"

namespace vk {

// No object, no target path (a network share's among them: the texts of
// kind path in lnk_text_fields.def), no creation time and no property store.
inline bool record_is_empty(const lnk_record& r) {
  return kept_texts_empty<text_form::keep::path>(r) && r.m_idlist_times[2] == 0 &&
         (r.m_property_keys.empty() || r.m_lnk_size == 0);
}

// Nor does any extra-data block a reader of the link shows (a link may hold
// nothing else; the texts of kind block): each needs its block's signature
// and size to be read.
inline bool extra_data_is_empty(const lnk_record& r) {
  return kept_texts_empty<text_form::keep::block>(r);
}

// A link is kept on every road when anything names its target: also an
// environment block or the link's own texts, which console and shell-command
// links carry without any path above (the texts of kind text). A stream
// that was missing or not a link, or bytes that only look like a link
// header, have none of them.
inline bool carved_record_is_empty(const lnk_record& r) {
  return record_is_empty(r) && kept_texts_empty<text_form::keep::text>(r) && extra_data_is_empty(r);
}

}  // namespace vk
