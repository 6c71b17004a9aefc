// The row forms of one record: a CSV (or width-padded table) row, the
// log2timeline lines and the body-file line, with the one-time step that
// registers the column list of the table form.
//
// A single file's run registers the columns of its kind; a run over a file
// list registers every column any kind fills (the automatic list's, then the
// carved links' offset). Each record's cells go under their own titles, and
// the columns its kind has no value for stay empty.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "jumplist/lnk_record.h"
#include "jumplist/report_scratch.h"
#include "jumplist/vesk_options.h"

namespace vk {

// Empties the settings' column list, registers the columns that the current
// per-file flags and run options call for, and writes the title line
// (clearing the header-pending flag).
void register_record_columns(std::ostream& out, lnk::useropts& options);

// One table row against the registered column list (the columns of
// jumplist/record_columns.h). The record is only read: its texts are
// written with their control characters as marks and the settings'
// separator-like character replaced as each cell is written.
void write_record_row(std::ostream& out, const lnk_record& record, lnk::useropts& options,
                      const record_values& values);

// The same row through the general table writer: the layouts the direct
// writer leaves to it (labelled lines, a redirected row), and the reference
// it is held to.
void write_record_row_as_table(std::ostream& out, const lnk_record& record, lnk::useropts& options,
                               const record_values& values);

// One log2timeline line per distinct valid time of the target time set (the
// header first while pending).
void write_record_l2t(std::ostream& out, const lnk_record& record, lnk::useropts& options,
                      const record_values& values);

// One body-file line (the header first while pending).
void write_record_bodyfile(std::ostream& out, const lnk_record& record, lnk::useropts& options,
                           const record_values& values);

}  // namespace vk
