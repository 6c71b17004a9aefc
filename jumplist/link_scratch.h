// What the link parser keeps from link to link: the shell's scratch and the
// extra-data walk's records and lists, which keep their room. The caller of
// parse_lnk owns it (the run's settings do) and hands it down.
#pragma once

#include "shell/shell_scratch.h"

namespace vk {

struct store_parts;  // extra_data.cpp
struct vista_items;  // extra_data.cpp

template <>
void scratch_drop<store_parts>::operator()(store_parts*) const noexcept;
template <>
void scratch_drop<vista_items>::operator()(vista_items*) const noexcept;

struct link_scratch {
  shell_scratch shell;
  // The items a PropertyStoreDataBlock's storages are parsed into.
  scratch_part<store_parts> store;
  // The list a VistaAndAboveIDListDataBlock is parsed into.
  scratch_part<vista_items> vista;
};

}  // namespace vk
