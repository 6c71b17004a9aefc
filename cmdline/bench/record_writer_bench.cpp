// The record writer over 100,000 rows of 40 columns (texts, numbers, times,
// GUIDs, byte strings) in the "-csv", the padded table and the quoted layout.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cmdline/record_writer.h"
#include "foundation/vk_misc.h"

namespace {

constexpr int k_rows = 100000;
constexpr int k_columns = 40;

void setup(vk::cmd_params& s, int layout) {
  if (layout != 1) {
    s.m_csv = 1;
    s.m_no_padding = 1;
  }
  if (layout == 2) {
    s.m_quoted_csv = 1;
    s.m_cell_blank = 0;
  }
  std::string separator = layout == 1 ? " | " : ",";
  vk::set_field_separator(s, separator, false);
  vk::build_time_format_settings(s.m_time_settings, s.m_date_format, s.m_time_format, false);
  for (int c = 0; c < k_columns; ++c) {
    vk::vk_variant_lite col;
    const uint16_t type = c % 8 == 1 ? vk::vt_filetime_time : vk::vt_empty;
    vk::init_typed_column(col, "column " + std::to_string(c), 12, type, 0);
    s.m_columns.push_back(col);
  }
}

void fill(vk::table_row& row, uint64_t n) {
  for (int c = 0; c < k_columns;) {
    switch (c % 8) {
      case 0:
        c += vk::set_row_number(row, c, 133540960891234567ULL + n * 10000000, vk::vt_filetime, 0);
        continue;
      case 2:
        vk::set_row_text(row, c, "C:\\Users\\examiner\\Documents\\report, final.docx", vk::vt_text,
                         0);
        break;
      case 3:
        vk::set_row_number(row, c, n, vk::vt_u32, 0);
        break;
      case 4:
        vk::set_row_number(row, c, n * 7919, vk::vt_u64, vk::vf_decimal);
        break;
      case 5: {
        vk::set_row_number(row, c, 0, vk::vt_guid, 0);
        row.m_cells[c].m_bytes.assign(16, static_cast<uint8_t>(n));
        break;
      }
      case 6:
        vk::set_row_text(row, c, "say \"hi\"\nsecond line", vk::vt_text, 0);
        break;
      default:
        vk::set_row_number(row, c, n & 0xFF, vk::vt_u8, 0);
        break;
    }
    ++c;
  }
}

void BM_WriteRows(benchmark::State& state) {
  const int layout = static_cast<int>(state.range(0));
  for (auto _ : state) {
    vk::cmd_params s;
    setup(s, layout);
    vk::table_row row(k_columns, false, layout == 2 ? uint32_t{vk::vf_quoted} : 0u);
    for (int n = 0; n < k_rows; ++n) {
      fill(row, static_cast<uint64_t>(n));
      vk::output_table_row(vk::null_stream, row, s);
    }
  }
  state.SetItemsProcessed(state.iterations() * k_rows);
}

}  // namespace

// 0: "-csv", 1: padded table, 2: "-csv -enable_quoted_csv_fields".
BENCHMARK(BM_WriteRows)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
