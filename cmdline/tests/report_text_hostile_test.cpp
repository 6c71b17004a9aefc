// Hostile input for every routine of the report layer that reads bytes or
// text from outside: each truncation of a valid seed, then 100,000 seeded
// mutations (byte changes, cuts and growth). Run under the sanitizers, a
// pass means no out-of-bounds read, no undefined behaviour and no hang;
// the outputs are checked to stay within a bound set by the input.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cmdline/buffer_text_search.h"
#include "cmdline/field_template.h"
#include "cmdline/option_lookups.h"
#include "cmdline/record_emitters.h"
#include "cmdline/report_helpers.h"
#include "cmdline/text_encoders.h"
#include "cmdline/text_utils/write_buffer_text.h"
#include "foundation/vk_text_parse.h"

namespace {

using bytes = std::vector<uint8_t>;
using probe = std::function<void(const bytes&)>;

constexpr int k_mutations = 100000;

// A literal with its inner NULs.
template <size_t N>
std::string literal(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::string text_of(const bytes& b) {
  return std::string(b.begin(), b.end());
}

std::wstring wide_of(const bytes& b) {
  std::wstring w;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    uint32_t c = static_cast<uint32_t>(b[i] | b[i + 1] << 8);
    if (b[i + 1] == 0xEE) c |= 0x7F0000;  // now and then beyond Unicode
    w.push_back(static_cast<wchar_t>(c));
  }
  return w;
}

std::vector<uint16_t> units_of(const bytes& b) {
  std::vector<uint16_t> u(b.size() / 2);
  for (size_t i = 0; i < u.size(); ++i) u[i] = static_cast<uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
  return u;
}

// Words of the input as an argument vector.
std::vector<std::string> words_of(const bytes& b) {
  std::vector<std::string> out;
  std::string w;
  for (uint8_t c : b) {
    if (c == ' ' || c == 0) {
      out.push_back(w);
      w.clear();
    } else {
      w.push_back(static_cast<char>(c));
    }
  }
  out.push_back(w);
  return out;
}

// Every truncation of the seed, then the mutations; each case gets its own
// exact-size heap copy, so a read past the end is caught.
void run(const std::string& seed_text, uint32_t seed, const probe& f) {
  const bytes seed_bytes(seed_text.begin(), seed_text.end());
  for (size_t n = 0; n <= seed_bytes.size(); ++n)
    f(bytes(seed_bytes.begin(), seed_bytes.begin() + n));
  std::mt19937 rng(seed);
  for (int i = 0; i < k_mutations; ++i) {
    bytes m = vesk_test::mutate(seed_bytes, rng, 1 + static_cast<int>(rng() % 6));
    switch (rng() % 4) {
      case 0:
        m.resize(rng() % (m.size() + 1));
        break;
      case 1:
        for (uint32_t k = rng() % 8; k > 0; --k)
          m.insert(m.begin() + static_cast<std::ptrdiff_t>(rng() % (m.size() + 1)),
                   static_cast<uint8_t>(rng()));
        break;
      default:
        break;
    }
    f(m);
  }
}

TEST(ReportTextHostile, TemplatesCellsAndByteTexts) {
  run("Time!TS212!S(a:b)!SR(p)!CT(n:t)!SC(x)!AFN(y)!CFN(z)!SP3!BP1!TMZ27!AP!AN (all dates)\\n", 1,
      [](const bytes& b) {
        vk::field_template t;
        std::string text = text_of(b);
        vk::parse_field_template(t, text);
        ASSERT_LE(t.m_label.size(), b.size());
        ASSERT_LE(t.m_list.size() + t.m_pairs.size(), b.size());
      });
  std::vector<vk::vk_variant_lite> columns(6);
  const uint16_t types[] = {vk::vt_filetime_1col, vk::vt_safari_1col, vk::vt_guid,
                            vk::vt_bytes_hex,     vk::vt_text,        vk::vt_u32};
  for (int i = 0; i < 6; ++i) {
    vk::init_typed_column(columns[static_cast<size_t>(i)], "c", 10, types[i],
                          i < 2 ? vk::vf_safari_double | vk::vf_quoted : 0x100);
  }
  const vk::cell_text_callback keep = [](std::string&) {};
  vk::table_row row(6, true, 0);
  run("133540960891234567.5e3", 2, [&](const bytes& b) {
    const std::string text = text_of(b);
    for (int32_t i = 0; i < 6; ++i) {
      ASSERT_EQ(vk::set_row_from_text_by_column(row, i, text, columns, nullptr, &keep, &keep), 1);
      ASSERT_LE(row.m_cells[static_cast<size_t>(i)].m_text.size(), 3 * b.size() + 64);
    }
  });
  run(literal("ab\0text-sample w\0i\0d\0e\0"), 3, [](const bytes& b) {
    for (bool mode : {false, true}) {
      std::ostringstream os;
      vk::render_bytes_text(os, b.data(), static_cast<uint32_t>(b.size()), mode, 3, "; ");
      ASSERT_LE(os.str().size(), 3 * b.size());
    }
  });
}

TEST(ReportTextHostile, ScannersSearchesAndLookups) {
  const std::string mixed = literal("Key: value\r\n<tag a>inner</tag>\0N\0a\0m\0e\0 text run");
  run(mixed, 4, [](const bytes& b) {
    std::vector<std::string> list;
    std::vector<uint64_t> at;
    std::vector<uint32_t> found;
    for (bool ws : {false, true}) {
      vk::collect_utf16_strings_at(b.data(), b.size(), 2, list, at, 7, false, ws);
      ASSERT_LE(list.size(), b.size());
      vk::collect_ascii_strings_at(b.data(), b.size(), 0, list, at, 7, false, ws);
      ASSERT_LE(list.size(), b.size());
    }
    vk::find_text_in_utf16("am", b.data(), b.size(), found, 0, false);
    vk::find_text_in_ascii("e", b.data(), b.size(), found, 0, false);
    ASSERT_LE(found.size(), b.size());
    vk::lines_with_prefix(b.data(), b.size(), "key", list, true);
    vk::lines_with_prefix(b.data(), b.size(), "", list, true);
    ASSERT_LE(list.size(), b.size() + 1);
    std::string out;
    vk::text_between_tags(reinterpret_cast<const char*>(b.data()), b.size(), "tag", out);
    const std::string text = text_of(b);
    vk::value_after_key(out, text, "key:", "\r\n", true);
    vk::find_ignore_case(text.c_str(), "TAG");
    std::string buffer = text;
    vk::erase_first_in_buffer(buffer.data(), "value", true);
    std::string replaced = text;
    vk::replace_lists(replaced, {"a", "Key"}, {"aa", ""});
    ASSERT_LE(replaced.size(), 2 * text.size());
    std::string html;
    vk::html_escape_assign(html, text.c_str());
    std::wstring w;
    vk::replace_first_w_copy(w, wide_of(b), L"a", L"bb", true);
  });
  run("p -l 3 a b c -x 1 2 -y q", 5, [](const bytes& b) {
    std::vector<std::string> args = words_of(b);
    const size_t before = args.size();
    std::vector<std::string> list;
    std::string v1, v2, v3;
    vk::take_option_list("-l", list, args);
    ASSERT_LE(list.size(), before);
    vk::take_option_values2_v("-x", v1, v2, args);
    vk::take_option_values3_v("-y", v1, v2, v3, args);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    int argc = static_cast<int>(argv.size());
    vk::take_option_values2("-x", v1, v2, argc, argv.data());
    std::vector<const char*> cargv(argv.begin(), argv.begin() + argc);
    vk::split_joined_args(list, argc, cargv.data(), 'b');
    vk::split_joined_args(list, argc, cargv.data(), ' ');
  });
  run("12.5e3 0x1f 4294967296 -7", 6, [](const bytes& b) {
    const std::string text = text_of(b);
    double d = 0;
    float f = 0;
    uint32_t u = 0;
    uint64_t q = 0;
    vk::parse_float_text(text.c_str(), &f);
    vk::parse_double_wide(wide_of(b), &d);
    vk::parse_uint_narrowed(wide_of(b), &u);
    vk::parse_u64_wide(wide_of(b), &q);
    std::string out;
    const std::vector<uint16_t> units = units_of(b);
    ASSERT_LE(vk::utf16_to_utf8_count(units.data(), units.size(), out), units.size());
  });
}

TEST(ReportTextHostile, EncodersAndConverters) {
  run("00112233-4455-6677-8899-aabbccddeeff =3D=\r\n %SystemRoot%\\System32 \\??\\x -k y", 7,
      [](const bytes& b) {
        const std::string text = text_of(b);
        std::vector<uint8_t> out;
        std::string s;
        vk::base64_encode(b.data(), b.size(), out, true, true, true);
        vk::quoted_printable_encode(s, text);
        vk::quoted_printable_decode(s, text);
        ASSERT_LE(s.size(), text.size());
        vk::normalize_windows_path(text.c_str(), s, "c:\\windows");
        vk::parse_guid_text(text, out);
        vk::guid g;
        vk::parse_guid_hex32(g, text);
        vk::hex_pairs_to_bytes(text, out);
        vk::hex_text_to_bytes(out, text);
        ASSERT_LE(out.size(), text.size() / 2 + 1);
        uint8_t fixed[8];
        vk::wide_hex_to_bytes(wide_of(b), fixed, 8);
        vk::lower_copy(s, text.c_str());
        uint32_t ms = 0;
        vk::parse_clock_time_ms(text.c_str(), &ms);
        vk::text_in_parentheses(text, s);
        s = text;
        vk::insert_before_char(s, '=', '\\');
        ASSERT_LE(s.size(), 2 * text.size());
      });
  run(literal("a\0bc\0\0<x>d</x>;\0e\0\0\0"), 8, [](const bytes& b) {
    std::vector<std::string> list;
    std::vector<std::wstring> wlist;
    vk::split_nul_strings(b.data(), list, static_cast<int64_t>(b.size()));
    ASSERT_LE(list.size(), b.size());
    bytes terminated = b;
    terminated.insert(terminated.end(), {0, 0, 0});
    vk::split_nul_strings(terminated.data(), list, -1);
    vk::split_nul_wstrings(b.data(), wlist, static_cast<int64_t>(b.size()), false);
    vk::split_nul_wstrings(b.data(), wlist, static_cast<int64_t>(b.size()), true);
    if (terminated.size() % 2) terminated.push_back(0);
    vk::split_nul_wstrings(terminated.data(), wlist, -1, false);
    vk::split_at_u16(b.data(), b.size(), 0x003B, list, true);
    vk::text_outside_tags(b.data(), b.size(), list);
    ASSERT_LE(list.size(), b.size());
    size_t count = 0;
    std::string joined;
    vk::join_quoted(joined, count, words_of(b));
    std::wstring w;
    const std::vector<uint16_t> units = units_of(b);
    vk::wide_from_utf16_lower(w, units.data(), units.size());
    ASSERT_LE(w.size(), units.size());
    w = wide_of(b);
    vk::insert_before_other_chars(w, L'a', L'\\');
    vk::erase_wchar(w, L'\\');
    vk::show_line_ends_w(w);
  });
}

}  // namespace
