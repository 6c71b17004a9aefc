// What the shell's parsers and text routines keep from call to call: lists
// and records parsed into again, text buffers that keep their room, the
// count that orders filed values. The caller owns it and hands it down, in
// the parse context or as a parameter, so what one call leaves for the next
// is in plain sight. A new scratch is empty; each part is made by the
// routines of its type on first use and goes with the scratch.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/vk_fault_sink.h"
#include "shell/property_value.h"

namespace vk {

struct typed_value_stack;  // typed_value.cpp
struct spare_items;        // shell_item.cpp
struct property_scratch;   // property_store.cpp
struct storage_records;    // property_storage.cpp
struct text_workspace;     // item_text.cpp
struct placed_values;      // idlist_text.cpp

// Lets a part go; defined beside the part's type.
template <class T>
struct scratch_drop {
  void operator()(T* part) const noexcept;
};
template <>
void scratch_drop<typed_value_stack>::operator()(typed_value_stack*) const noexcept;
template <>
void scratch_drop<spare_items>::operator()(spare_items*) const noexcept;
template <>
void scratch_drop<property_scratch>::operator()(property_scratch*) const noexcept;
template <>
void scratch_drop<storage_records>::operator()(storage_records*) const noexcept;
template <>
void scratch_drop<text_workspace>::operator()(text_workspace*) const noexcept;
template <>
void scratch_drop<placed_values>::operator()(placed_values*) const noexcept;

template <class T>
using scratch_part = std::unique_ptr<T, scratch_drop<T>>;

struct shell_scratch {
  // The typed values of the nesting levels of a value decode.
  scratch_part<typed_value_stack> typed_values;
  // Item records given up by one ID list, parsed into for the next.
  scratch_part<spare_items> items;
  // Filing: the filing count, spare value nodes, the flat list of shown values.
  scratch_part<property_scratch> filing;
  // The records property storages are parsed into, one per nesting level.
  scratch_part<storage_records> storages;
  // The item and ID-list text walk's buffer and levels.
  scratch_part<text_workspace> texts;
  // The property texts' values in report order.
  scratch_part<placed_values> placed;
  // Room of dropped texts for the texts built next.
  text_rooms rooms;
  // The bytes filed under the guards of the parses that were handed this
  // scratch (a test's bound).
  int64_t filed_bytes = 0;
  // The sink of the parse the scratch serves while it runs (set by its
  // owner, the link parser link by link), or null: a routine using the
  // scratch that ran out of memory and gave a shorter result says so there.
  fault_sink* faults = nullptr;
  // Damage met inside a shell item by a walk that has no fault of its own
  // to hand back (property storages, the ID lists their values hold): the
  // walk of the list holding the item sees it grow and says so.
  uint32_t inner_damage = 0;
  // What the first such damage was, when its finder named it (a static
  // text), else null: the walk says it in place of a general cause.
  const char* inner_cause = nullptr;
};

// Counts damage met inside an item, naming its cause (a static text) when
// none is named yet.
inline void note_inner_damage(shell_scratch& scratch, const char* cause) noexcept {
  ++scratch.inner_damage;
  if (!scratch.inner_cause) scratch.inner_cause = cause;
}

// Says in the scratch's sink, when there is one, that memory ran out.
inline void note_out_of_memory(shell_scratch& scratch) noexcept {
  if (scratch.faults) scratch.faults->add_out_of_memory();
}

// The part of p, made when there is none (may throw bad_alloc).
template <class T>
T& made_part(scratch_part<T>& p) {
  if (!p) p.reset(new T());
  return *p;
}
// The same, or null when it cannot be made.
template <class T>
T* try_made_part(scratch_part<T>& p) noexcept {
  try {
    return &made_part(p);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace vk
