// The link's text fields as one table made from lnk_text_fields.def when
// this is compiled: how each text is read, and the labelled line, the row
// column or joined cell part, the log2timeline part or note, the keep rule,
// the target order and the body-file part each takes. The report forms and
// the keep rule walk it; nothing here costs work at run time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "jumplist/lnk_record.h"

namespace vk {

// How a text of the record is read: as held; for a LinkInfo text, empty
// when its first character is NUL (it ends there as a C text); for a text of
// the tracker block, where the link has none, the DestList entry's (the
// entry's own evidence of the machine and file: it stands where the link's
// is missing, and never over it).
using text_rule = std::string_view (*)(const lnk_record&);
using list_rule = const std::vector<std::string>& (*)(const lnk_record&);

template <auto Member>
std::string_view record_text(const lnk_record& r) {
  return r.*Member;
}

template <auto Member>
std::string_view link_info_text(const lnk_record& r) {
  const std::string& t = r.*Member;
  return t.empty() || t[0] == '\0' ? std::string_view() : std::string_view(t);
}

template <auto Member, auto Other>
std::string_view tracker_text(const lnk_record& r) {
  const std::string_view own = r.*Member;
  return own.empty() && r.m_tracker_offset == 0 ? std::string_view(r.*Other) : own;
}

template <auto Member>
const std::vector<std::string>& record_list(const lnk_record& r) {
  return r.*Member;
}

// Empty as stored (the keep rule reads the stored texts).
template <auto Member>
bool stored_empty(const lnk_record& r) {
  return (r.*Member).empty();
}

namespace text_form {

enum class read_kind : uint8_t { held, link_info, tracker };

enum class line_kind : uint8_t { none, entry, text, list, with_orig, or_listed };
struct line {
  line_kind kind = line_kind::none;
  const char* label = nullptr;
  text_rule other = nullptr;  // the birth value, or the text used instead
  const char* other_member = nullptr;
};

struct column {
  uint8_t place = 0;  // 0: none
  const char* title = nullptr;
  uint32_t width = 0;
};

enum class cell : uint8_t { none, network, extra };
struct part {
  cell in = cell::none;
  const char* label = nullptr;
};

enum class l2t_kind : uint8_t { none, description, note, note_always };
struct l2t {
  l2t_kind kind = l2t_kind::none;
  uint8_t place = 0;  // a description part's place; a note's group
  const char* label = nullptr;
};

enum class keep : uint8_t { none, path, block, text };

enum class body_kind : uint8_t { none, text, local, network };
struct target {
  uint8_t place = 0;       // in the target name's order; 0: none
  uint8_t body_place = 0;  // in the body file's; 0: none
  body_kind body = body_kind::none;
};

struct body {
  bool part = false;
  const char* label = nullptr;
};

template <class T>
struct held_size : std::integral_constant<size_t, 0> {};
template <size_t N>
struct held_size<short_text<N>> : std::integral_constant<size_t, N> {};

template <auto Member>
using member_type = std::remove_cvref_t<decltype(std::declval<const lnk_record&>().*Member)>;

template <auto Member>
constexpr bool is_list = std::is_same_v<member_type<Member>, std::vector<std::string>>;

template <auto Member, read_kind Read, auto Other = nullptr>
constexpr text_rule text_of() {
  if constexpr (is_list<Member>)
    return nullptr;
  else if constexpr (Read == read_kind::link_info)
    return &link_info_text<Member>;
  else if constexpr (Read == read_kind::tracker)
    return &tracker_text<Member, Other>;
  else
    return &record_text<Member>;
}

template <auto Member>
constexpr list_rule list_of() {
  if constexpr (is_list<Member>)
    return &record_list<Member>;
  else
    return nullptr;
}

}  // namespace text_form

struct text_field {
  const char* member;
  text_rule text;  // null for a list
  list_rule list;  // null for a text
  bool (*empty)(const lnk_record&);
  size_t held;  // characters held in place (the record's values), else 0
  text_form::line line;
  text_form::column column;
  text_form::part part;
  text_form::l2t l2t;
  text_form::keep keep;
  text_form::target target;
  text_form::body body;
};

#define VK_TEXT_FIELD(type, member, read, name, line_form, column_form, part_form, l2t_form, \
                      keep_rule, target_form, body_form, pylnk)                              \
  text_field{#member,                                                                        \
             text_form::text_of<&lnk_record_fields::member, VK_READ_##read>(),               \
             text_form::list_of<&lnk_record_fields::member>(),                               \
             &stored_empty<&lnk_record_fields::member>,                                      \
             text_form::held_size<text_form::member_type<&lnk_record_fields::member>>(),     \
             line_form,                                                                      \
             column_form,                                                                    \
             part_form,                                                                      \
             l2t_form,                                                                       \
             text_form::keep::keep_rule,                                                     \
             target_form,                                                                    \
             body_form},
#define VK_READ_held text_form::read_kind::held
#define VK_READ_link_info text_form::read_kind::link_info
#define VK_READ_tracker(other) text_form::read_kind::tracker, &lnk_record_fields::other
#define VK_NONE \
  {}
#define VK_LINE(label)                \
  text_form::line {                   \
    text_form::line_kind::text, label \
  }
#define VK_ENTRY_LINE(label)           \
  text_form::line {                    \
    text_form::line_kind::entry, label \
  }
#define VK_LIST_LINE(label)           \
  text_form::line {                   \
    text_form::line_kind::list, label \
  }
#define VK_ORIG_LINE(label, other)                                                          \
  text_form::line {                                                                         \
    text_form::line_kind::with_orig, label, &record_text<&lnk_record_fields::other>, #other \
  }
#define VK_OR_LISTED_LINE(label, other)                                                     \
  text_form::line {                                                                         \
    text_form::line_kind::or_listed, label, &record_text<&lnk_record_fields::other>, #other \
  }
#define VK_COLUMN(place, title, width) \
  text_form::column {                  \
    place, title, width                \
  }
#define VK_PART(in, label)     \
  text_form::part {            \
    text_form::cell::in, label \
  }
#define VK_L2T(place, label)                       \
  text_form::l2t {                                 \
    text_form::l2t_kind::description, place, label \
  }
#define VK_NOTE(group, label)               \
  text_form::l2t {                          \
    text_form::l2t_kind::note, group, label \
  }
#define VK_NOTE_ALWAYS(group, label)               \
  text_form::l2t {                                 \
    text_form::l2t_kind::note_always, group, label \
  }
#define VK_TARGET(place, body_place)              \
  text_form::target {                             \
    place, body_place, text_form::body_kind::text \
  }
#define VK_BODY_TARGET(body_place)            \
  text_form::target {                         \
    0, body_place, text_form::body_kind::text \
  }
#define VK_BODY_LOCAL(body_place)              \
  text_form::target {                          \
    0, body_place, text_form::body_kind::local \
  }
#define VK_BODY_NETWORK(body_place)              \
  text_form::target {                            \
    0, body_place, text_form::body_kind::network \
  }
#define VK_BODY_PART(label) \
  text_form::body {         \
    true, label             \
  }

inline constexpr text_field k_text_fields[] = {
#include "jumplist/lnk_text_fields.def"
};

#undef VK_TEXT_FIELD
#undef VK_READ_held
#undef VK_READ_link_info
#undef VK_READ_tracker
#undef VK_NONE
#undef VK_LINE
#undef VK_ENTRY_LINE
#undef VK_LIST_LINE
#undef VK_ORIG_LINE
#undef VK_OR_LISTED_LINE
#undef VK_COLUMN
#undef VK_PART
#undef VK_L2T
#undef VK_NOTE
#undef VK_NOTE_ALWAYS
#undef VK_TARGET
#undef VK_BODY_TARGET
#undef VK_BODY_LOCAL
#undef VK_BODY_NETWORK
#undef VK_BODY_PART

inline constexpr size_t k_text_field_count = std::size(k_text_fields);

// The field of a member, by its name (k_text_field_count for none).
constexpr size_t text_field_index(std::string_view member) {
  for (size_t i = 0; i < k_text_field_count; ++i)
    if (member == k_text_fields[i].member) return i;
  return k_text_field_count;
}

// Calls f(std::integral_constant<size_t, I>) for each field I in list
// order, so that f reads the field as a constant.
template <class F, size_t... I>
constexpr void each_text_field(F&& f, std::index_sequence<I...>) {
  (f(std::integral_constant<size_t, I>()), ...);
}
template <class F>
constexpr void each_text_field(F&& f) {
  each_text_field(f, std::make_index_sequence<k_text_field_count>());
}

// The fields that a place number orders (Place(field), 0 for none), in
// that order: their indexes.
template <auto Place>
constexpr auto fields_in_place_order() {
  constexpr size_t n = [] {
    size_t k = 0;
    for (const text_field& f : k_text_fields) k += Place(f) != 0;
    return k;
  }();
  std::array<size_t, n> order{};
  size_t k = 0;
  for (size_t i = 0; i < k_text_field_count; ++i)
    if (Place(k_text_fields[i]) != 0) order[k++] = i;
  for (size_t i = 1; i < n; ++i)
    for (size_t j = i; j > 0 && Place(k_text_fields[order[j]]) < Place(k_text_fields[order[j - 1]]);
         --j)
      std::swap(order[j], order[j - 1]);
  return order;
}

// Each place taken once, from 1 up: the order holds no gap to fill by guess.
template <auto Place>
constexpr bool places_distinct() {
  constexpr auto order = fields_in_place_order<Place>();
  for (size_t i = 0; i < order.size(); ++i)
    if (Place(k_text_fields[order[i]]) != i + 1) return false;
  return true;
}

constexpr size_t target_place(const text_field& f) {
  return f.target.place;
}
constexpr size_t body_target_place(const text_field& f) {
  return f.target.body_place;
}
constexpr size_t l2t_place(const text_field& f) {
  return f.l2t.kind == text_form::l2t_kind::description ? f.l2t.place : 0;
}
constexpr size_t column_place(const text_field& f) {
  return f.column.place;
}

static_assert(places_distinct<target_place>() && places_distinct<body_target_place>() &&
              places_distinct<l2t_place>());

// The first text not empty of the target's order: what names the target in
// every form but the body file.
inline std::string_view target_name_of(const lnk_record& r) {
  constexpr auto order = fields_in_place_order<target_place>();
  std::string_view name;
  [&]<size_t... K>(std::index_sequence<K...>) {
    (void)((!(name = k_text_fields[order[K]].text(r)).empty()) || ...);
  }
  (std::make_index_sequence<order.size()>());
  return name;
}

// Whether every text the keep rule looks at for kind is empty.
template <text_form::keep Kind>
bool kept_texts_empty(const lnk_record& r) {
  bool empty = true;
  each_text_field([&](auto i) {
    constexpr text_field f = k_text_fields[decltype(i)::value];
    if constexpr (f.keep == Kind) empty = empty && f.empty(r);
  });
  return empty;
}

}  // namespace vk
