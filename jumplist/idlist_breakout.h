// The "-idltimes" breakout of a link's target ID list: one segment per shell
// item and per nested item, with its name, three times and MFT reference,
// each distinct segment once and in ID-list order. Written as labelled
// lines in the text block, or as the compact "IDList segments" CSV cell.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_fault_sink.h"
#include "jumplist/idlist_segment.h"
#include "jumplist/lnk_record.h"
#include "shell/shell_item.h"

namespace vk {

namespace lnk {
class useropts;
}

void clear_idlist_segment(idlist_segment& segment);
idlist_segment copy_idlist_segment(const idlist_segment& segment);

// Fills segment from item, or with nested set from the item's nested item of
// that number (left cleared when there is no such nested item).
void build_idlist_segment(idlist_segment& segment, const shell_item_record& item,
                          const std::string& label, uint16_t item_index, bool nested,
                          uint16_t nested_index);

// Equal exactly when the names and the five numbers are equal.
std::string idlist_segment_key(const idlist_segment& segment);

// One segment of the CSV cell; first adds the cell's header.
void write_segment_cell(const idlist_segment& segment, std::ostream& out, const cmd_params& options,
                        bool first);

// The distinct segments of items in ID-list order, nested items after their
// item: what the breakout prints. out is replaced; memory that runs out
// leaves it empty and is counted in faults.
void collect_idlist_segments(std::vector<idlist_segment>& out, const shell_item_list& items,
                             fault_sink& faults);

// The breakout of record's target ID list: labelled lines, or with the
// settings' CSV flag set the cell text without line feeds. Nothing for a
// record without ID-list items. Memory that cuts it short is counted in
// report (the report's sink).
void idlist_breakout(std::ostream& out, const lnk_record& record, const cmd_params& options,
                     fault_sink& report);
// The same, said in the run's report sink.
void idlist_breakout(std::ostream& out, const lnk_record& record, const lnk::useropts& options);

}  // namespace vk
