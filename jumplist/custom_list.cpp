#include "jumplist/custom_list.h"

namespace vk {

bool is_empty_custom_list(byte_view file) {
  namespace C = custom_list_layout;
  if (file.size() < C::header_size || file.u32(C::version) != C::version_value) return false;
  const uint32_t categories = file.u32_or_zero(C::category_count);
  uint64_t at = C::header_size;
  // Each category takes at least eight bytes, so the count is bounded by
  // the bytes before the loop runs.
  if (categories > (file.size() - at) / 8) return false;
  for (uint32_t i = 0; i < categories; ++i) {
    const auto type = file.u32(at);
    if (!type) return false;
    at += 4;
    if (*type == C::custom_category) {
      const auto name_length = file.u16(at);
      if (!name_length) return false;
      at += 2 + 2 * uint64_t{*name_length};
    } else if (*type != C::known_category && *type != C::task_category) {
      return false;
    }
    // The known category's identifier, or the others' entry count: none.
    const auto value = file.u32(at);
    if (!value || (*type != C::known_category && *value != 0)) return false;
    at += 4;
    if (at == file.size() && i + 1 == categories) return true;
    if (file.u32(at) != C::footer) return false;
    at += 4;
  }
  return at == file.size();
}

}  // namespace vk
