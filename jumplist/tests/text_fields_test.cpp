// The field list made true: a record with every text field set to a marker
// of its own shows each marker in each form exactly where the list names it
// and nowhere else; the target's two orders and the keep rule's texts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_time.h"
#include "jumplist/lnk_text_fields.h"
#include "jumplist/record_columns.h"
#include "jumplist/record_keep.h"
#include "jumplist/record_report.h"

namespace vk {
namespace {

constexpr size_t k_all = SIZE_MAX;

// Distinct, none inside another, and short enough for the shortest text
// held in place.
std::string marker(size_t field) {
  return "zq" + std::to_string(100 + field) + "qz";
}

void set(std::string& t, const std::string& m) {
  t = m;
}
void set(std::vector<std::string>& list, const std::string& m) {
  list = {m};
}
template <size_t N>
void set(short_text<N>& t, const std::string& m) {
  t = m;
}

// Every text field set to its marker, or only the field `only`.
lnk_record marked_record(size_t only = k_all) {
  lnk_record r;
  size_t i = 0;
#define VK_TEXT_FIELD(type, member, ...)                    \
  if (only == k_all || only == i) set(r.member, marker(i)); \
  ++i;
#include "jumplist/lnk_text_fields.def"
#undef VK_TEXT_FIELD
  return r;
}

void clear_field(lnk_record& r, size_t field) {
  size_t i = 0;
#define VK_TEXT_FIELD(type, member, ...)           \
  if (i == field) r.member = decltype(r.member)(); \
  ++i;
#include "jumplist/lnk_text_fields.def"
#undef VK_TEXT_FIELD
}

size_t field_named(std::string_view member) {
  for (size_t i = 0; i < k_text_field_count; ++i)
    if (member == k_text_fields[i].member) return i;
  ADD_FAILURE() << member;
  return 0;
}

size_t count(std::string_view text, std::string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// An automatic list's record in the form asked for ('t' labelled block,
// 'c' CSV, 'l' log2timeline, 'b' body file), without the header line.
std::string rendered(const lnk_record& r, char form) {
  lnk::useropts o;
  o.m_source_path = "d/5f7b5f1e01b83767.automaticDestinations-ms";
  o.m_automatic_list = true;
  o.m_appid_text = "5f7b5f1e01b83767";
  o.m_multiline = form == 't';
  o.m_csv = form == 'c';
  o.m_csvl2t = form == 'l';
  o.m_bodyfile = form == 'b';
  o.m_header_pending = 1;
  o.m_no_padding = 1;
  o.m_separator.assign(1, form == 'b' ? '|' : ',');
  o.m_replace_char = form == 'b' ? '|' : ',';
  o.m_replacement_char = form == 'b' ? ';' : ' ';
  build_time_format_settings(o.m_time_settings, o.m_date_format, o.m_time_format,
                             o.m_pair_datetime != 0);
  std::ostringstream out;
  report_record(out, r, o);
  return out.str();
}

TEST(TextFields, EachFieldShowsInEachFormTheListNamesAndNowhereElse) {
  using namespace text_form;
  lnk_record r = marked_record();
  r.m_header.m_write_time = 133540960890000000ull;  // one log2timeline line
  r.m_object_droid_time = 133540960890000000ull;    // the object notes with it
  const size_t first_target = fields_in_place_order<target_place>()[0];
  const size_t first_body = fields_in_place_order<body_target_place>()[0];

  // The labelled block, line by line; the property store's entries and the
  // numbered lines follow rules of their own.
  const std::string block = rendered(r, 't');
  std::string lines;
  for (const std::string& l : split(block, '\n'))
    if (l.rfind(" [", 0) != 0) lines += l + '\n';
  std::vector<size_t> in_block(k_text_field_count);
  for (size_t i = 0; i < k_text_field_count; ++i) {
    const text_field& f = k_text_fields[i];
    SCOPED_TRACE(f.member);
    if (f.line.kind == line_kind::none) continue;
    ++in_block[i];
    std::string want = std::string(f.line.label) + marker(i);
    if (f.line.kind == line_kind::with_orig) {
      const size_t orig = field_named(f.line.other_member);
      want += " [orig: " + marker(orig) + "]";
      ++in_block[orig];
    }
    EXPECT_EQ(count(lines, want + "\n"), 1u) << block;
  }

  // The CSV row, cell by cell under its title.
  const auto rows = split(rendered(r, 'c'), '\n');
  ASSERT_GE(rows.size(), 2u);
  auto cells_of = [](const std::string& row) {
    auto cells = split(row, ',');
    for (std::string& c : cells)
      if (!c.empty() && c[0] == ' ') c.erase(0, 1);  // the writer's blank
    return cells;
  };
  const auto titles = cells_of(rows[0]);
  const auto cells = cells_of(rows[1]);
  ASSERT_EQ(titles.size(), cells.size());

  // The log2timeline line and the body file's name.
  const auto l2t = split(rendered(r, 'l'), '\n');
  ASSERT_EQ(l2t.size(), 3u);  // header, one line, end
  const std::string body = split(split(rendered(r, 'b'), '\n').at(1), '|').at(1);

  for (size_t i = 0; i < k_text_field_count; ++i) {
    const text_field& f = k_text_fields[i];
    SCOPED_TRACE(f.member);
    const std::string m = marker(i);
    EXPECT_EQ(count(lines, m), in_block[i]) << block;
    for (size_t c = 0; c < titles.size(); ++c) {
      if (titles[c] == "IDList extra info") continue;  // the ID lists' own joined rule
      const std::string_view joined = f.part.in == cell::network ? "network/device info"
                                      : f.part.in == cell::extra ? "extra info"
                                                                 : "";
      size_t want = 0;
      if (f.column.title && titles[c] == f.column.title) {
        EXPECT_EQ(cells[c], m);
        want = 1;
      } else if (titles[c] == joined) {
        EXPECT_EQ(count(cells[c], std::string(f.part.label) + m), 1u) << cells[c];
        want = 1;
      } else if (titles[c] == "target name" && i == first_target) {
        EXPECT_EQ(cells[c], m);
        want = 1;
      }
      EXPECT_EQ(count(cells[c], m), want) << titles[c] << ": " << cells[c];
    }
    size_t in_l2t = i == first_target ? 2 : 0;  // its column and the description's start
    if (f.l2t.kind != l2t_kind::none) {
      EXPECT_EQ(count(l2t[1], std::string(f.l2t.label) + m), 1u) << l2t[1];
      ++in_l2t;
    }
    EXPECT_EQ(count(l2t[1], m), in_l2t) << l2t[1];
    size_t in_body = i == first_body ? 1 : 0;
    if (f.body.part) {
      EXPECT_EQ(count(body, std::string(f.body.label) + m), 1u) << body;
      ++in_body;
    }
    EXPECT_EQ(count(body, m), in_body) << body;
  }

  // A listed record's DestList machine name stands in for a missing one.
  for (size_t i = 0; i < k_text_field_count; ++i) {
    const text_field& f = k_text_fields[i];
    if (f.line.kind != line_kind::or_listed) continue;
    lnk_record alone = r;
    clear_field(alone, i);
    EXPECT_EQ(
        count(rendered(alone, 't'), f.line.label + marker(field_named(f.line.other_member)) + "\n"),
        1u);
  }
}

TEST(TextFields, TargetOrdersAndKeptTexts) {
  // The first text not empty names the target: each order as the reports
  // have it, the body file's with the LinkInfo paths and the description.
  const std::vector<std::string> name_order = {"m_idlist_path",        "m_vista_idlist_path",
                                               "m_environment_target", "m_relative_path",
                                               "m_icon_location",      "m_destlist_path"};
  lnk_record r = marked_record();
  for (const std::string& member : name_order) {
    const size_t i = field_named(member);
    EXPECT_EQ(record_target_name(r), marker(i)) << member;
    clear_field(r, i);
  }
  EXPECT_EQ(record_target_name(r), "");

  const size_t suffix = field_named("m_common_path_suffix");
  const std::vector<std::pair<std::string, std::string>> body_order = {
      {"m_idlist_path", ""},
      {"m_vista_idlist_path", ""},
      {"m_local_base_path", marker(suffix)},
      {"m_net_name", "\\" + marker(suffix)},
      {"m_environment_target", ""},
      {"m_relative_path", ""},
      {"m_icon_location", ""},
      {"m_name", ""},
      {"m_destlist_path", ""}};
  r = marked_record();
  auto body_name = [&] {
    const std::string line = split(rendered(r, 'b'), '\n').at(1);
    return line.substr(2, line.find(" (LNK TARGET)") - 2);
  };
  for (const auto& [member, after] : body_order) {
    const size_t i = field_named(member);
    EXPECT_EQ(body_name(), marker(i) + after) << member;
    clear_field(r, i);
  }
  EXPECT_EQ(body_name(), "");

  // A record of one text alone is kept by the texts the keep rule reads.
  for (size_t i = 0; i < k_text_field_count; ++i) {
    const text_field& f = k_text_fields[i];
    SCOPED_TRACE(f.member);
    const lnk_record alone = marked_record(i);
    EXPECT_EQ(record_is_empty(alone), f.keep != text_form::keep::path);
    EXPECT_EQ(extra_data_is_empty(alone), f.keep != text_form::keep::block);
    EXPECT_EQ(carved_record_is_empty(alone), f.keep == text_form::keep::none);
  }
  // The fields each keep rule names, as the reports drop records.
  std::vector<std::string> kept[4];
  for (const text_field& f : k_text_fields) kept[static_cast<size_t>(f.keep)].push_back(f.member);
  EXPECT_EQ(kept[1], (std::vector<std::string>{"m_idlist_path", "m_net_name", "m_local_base_path",
                                               "m_vista_idlist_path", "m_object_droid"}));
  EXPECT_EQ(kept[2],
            (std::vector<std::string>{"m_icon_environment", "m_known_folder_id", "m_machine_id",
                                      "m_darwin_product", "m_shim_layer"}));
  EXPECT_EQ(kept[3],
            (std::vector<std::string>{"m_name", "m_relative_path", "m_working_dir", "m_arguments",
                                      "m_icon_location", "m_environment_target"}));
}

}  // namespace
}  // namespace vk
