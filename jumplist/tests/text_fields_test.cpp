// The field list made true: a record with every text field set to a marker
// of its own shows each marker in each form exactly where the list names it
// and nowhere else; a written list shows every field its bytes fill in each
// of those forms; the target's two orders and the keep rule's texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "default_params.h"
#include "foundation/vk_time.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_text_fields.h"
#include "jumplist/record_columns.h"
#include "jumplist/record_keep.h"
#include "jumplist/record_report.h"
#include "jumplist/vesk_options.h"
#include "report_fixture.h"
#include "temp_tree.h"

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

// A CSV row's cells, without the writer's blank before some.
std::vector<std::string> cells_of(const std::string& row) {
  auto cells = split(row, ',');
  for (std::string& c : cells)
    if (!c.empty() && c[0] == ' ') c.erase(0, 1);
  return cells;
}

// The settings of a form ('t' labelled block, 'c' CSV, 'l' log2timeline,
// 'b' body file) for an automatic list.
void use_form(lnk::useropts& o, char form) {
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
}

// A record in the form asked for.
std::string rendered(const lnk_record& r, char form) {
  lnk::useropts o;
  use_form(o, form);
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

// Entry 1's link holds every part a link can hold, each ID list a detail,
// its tracker's birth droids apart from its droids; entry 2's link is
// missing, so that its DestList path, name and droids stand. Each field
// the list gives a form shows in that form with the value the bytes give: a
// field added to the list that no reader fills fails here.
TEST(TextFields, EveryFieldOfAWrittenListShowsInEachFormTheListNames) {
  using namespace vesk_test;
  using namespace text_form;
  auto item = [](std::string_view short_name, std::u16string_view name) {
    return file_entry_item(0x32, 1, 0x5865, 0x3904, 0x20, short_name,
                           file_entry_extension(0, 0x5865, 0x3904, 0x5865, 0x3904, name, 1234, 5));
  };
  guid_bytes_t birth[2] = {fixture_destlist_droids()[0], written_object_id()};
  birth[0][0] ^= 1;
  birth[1][15] ^= 1;
  lnk_spec spec = full_written_spec();
  spec.idlist = idlist({item("REPORT~1.DOC", u"report.docx")});
  for (lnk_bytes_t& block : spec.extra_blocks) {
    if (block[4] == 0x03)  // the tracker
      block = tracker_block("desktop-01", fixture_destlist_droids()[0], written_object_id(),
                            birth[0], birth[1]);
    if (block[4] == 0x0C) block = vista_idlist_block(idlist({item("V~1.TXT", u"v.txt")}));
  }
  const lnk_bytes_t link = write_lnk(spec);
  lnk_record linked;
  ASSERT_TRUE(
      parse_lnk(linked, link.data(), link.size(), default_params(), test_scratch(), false, 0));
  std::vector<destlist_test_entry> entries(2);
  entries[1].droids = fixture_destlist_droids();
  entries[1].host = "pc-7";
  entries[1].entry_num = 2;
  entries[1].path = u"C:\\gone\\lost.txt";
  cfb_writer w;
  w.stream(u"1", link);
  w.stream(u"DestList", build_destlist(4, entries));
  const std::vector<uint8_t> list = w.build();
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string path = tree.path("5f7b5f1e01b83767.automaticDestinations-ms");
  tree.file("5f7b5f1e01b83767.automaticDestinations-ms", std::string(list.begin(), list.end()));
  auto report = [&](char form) {
    vesk_options o;
    use_form(o, form);
    std::ostringstream out;
    EXPECT_TRUE(process_jumplist_file(out, path, o));
    return out.str();
  };
  const std::string block = report('t'), l2t = report('l');
  const auto rows = split(report('c'), '\n'), body = split(report('b'), '\n');
  ASSERT_EQ(rows.size(), 4u);  // titles, entry 2, entry 1, end
  const auto titles = cells_of(rows[0]);

  // Entry 2's values: those its DestList entry's bytes give.
  const std::map<std::string, std::string> lost = {
      {"m_destlist_path", "C:\\gone\\lost.txt"},
      {"m_machine_id", "pc-7"},
      {"m_volume_droid", "523e1c6a-0b91-474f-8d35-2c610e7a49d2"},
      {"m_object_droid", "846ee3bb-7039-11de-9d20-080027123456"},
      {"m_birth_object_droid", "846ee3bb-7039-41de-9d20-080027abcdef"},
      {"m_mac_address", "08:00:27:12:34:56"}};
  auto value = [&](size_t stream, const text_field& f) -> std::vector<std::string> {
    if (stream == 2) return {lost.count(f.member) ? lost.at(f.member) : ""};
    return f.list ? f.list(linked) : std::vector<std::string>{std::string(f.text(linked))};
  };
  std::vector<bool> filled(k_text_field_count);
  for (size_t stream : {1, 2}) {  // reported from the highest position down
    SCOPED_TRACE(stream);
    const size_t at = block.find("stream #:                 " + std::to_string(stream) + "\n");
    const std::string own_block = block.substr(at, block.find("\n\n", at) - at);
    const auto cells = cells_of(rows[3 - stream]);
    ASSERT_EQ(cells.size(), titles.size());
    auto cell_under = [&](std::string_view title) {
      return cells[static_cast<size_t>(std::find(titles.begin(), titles.end(), title) -
                                       titles.begin())];
    };
    for (size_t i = 0; i < k_text_field_count; ++i) {
      const text_field& f = k_text_fields[i];
      SCOPED_TRACE(f.member);
      const std::vector<std::string> v = value(stream, f);
      if (v.empty() || v[0].empty()) continue;
      filled[i] = true;
      std::string line = f.line.label ? f.line.label + v[0] + "\n" : "";
      if (f.line.kind == line_kind::with_orig) {
        const std::string orig =
            value(stream, k_text_fields[text_field_index(f.line.other_member)])[0];
        if (!orig.empty() && orig != v[0]) line.insert(line.size() - 1, " [orig: " + orig + "]");
      }
      for (const std::string& e : v)  // a list's entries each on a line
        EXPECT_NE((own_block + "\n").find(v.size() > 1 ? e + "\n" : line), std::string::npos)
            << own_block;
      if (f.column.title) {
        EXPECT_EQ(cell_under(f.column.title), v[0]);
      }
      if (f.part.in != cell::none) {
        const char* joined = f.part.in == cell::network ? "network/device info" : "extra info";
        EXPECT_EQ(count(cell_under(joined), f.part.label + v[0]), 1u);
      }
      if (f.l2t.kind != l2t_kind::none) {
        EXPECT_NE(l2t.find(f.l2t.label + v[0]), std::string::npos) << l2t;
      }
      if (f.body.part) {
        EXPECT_EQ(count(body.at(3 - stream), f.body.label + v[0]), 1u);
      }
    }
  }
  // Every field a form shows is filled by some reader.
  for (size_t i = 0; i < k_text_field_count; ++i) {
    const text_field& f = k_text_fields[i];
    const bool shown = f.line.kind != line_kind::none || f.column.title ||
                       f.part.in != cell::none || f.l2t.kind != l2t_kind::none || f.body.part;
    EXPECT_TRUE(filled[i] || !shown) << f.member;
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
