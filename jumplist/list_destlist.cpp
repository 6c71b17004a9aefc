#include "jumplist/list_destlist.h"

#include <algorithm>
#include <charconv>

#include "foundation/vk_guard.h"
#include "jumplist/compound_file_chains.h"

namespace vk {

std::string_view hex_name(uint64_t value, char (&buf)[16]) {
  const auto end = std::to_chars(buf, buf + sizeof buf, value, 16).ptr;
  return std::string_view(buf, static_cast<size_t>(end - buf));
}

namespace {

// The object type of a directory entry that is a stream.
constexpr uint8_t k_stream_object = 2;

// The words for where the DestList walk stopped short, from its sink, which
// holds the fault: the entry it stopped at by number and the bytes it found
// there. offset: where it stopped.
std::string destlist_stop_words(const destlist_walker& d, uint64_t& offset) {
  const parse_fault& stop = d.faults()[0];
  offset = stop.offset;
  if (stop.cause == k_destlist_short_header)
    return std::string(stop.cause) + " (" + std::to_string(d.size()) + " bytes)";
  const std::string next = "entry " + std::to_string(d.count() + 1);
  if (stop.cause == k_destlist_unread) return next + ": " + k_destlist_unread;
  if (stop.cause == k_destlist_entry_cut)
    return next + " cut: " + std::to_string(d.size() - stop.offset) +
           " bytes left, fewer than an entry holds";
  return next + " runs past the stream";
}

// Each DestList header count that the entries read contradict: the entry
// count, the pinned-entry count (only more pins than it says when the walk
// stopped short of the rest) and the last entry number, below an entry's.
void note_destlist_count(const destlist_walker& d, file_notes& notes, const std::string& where) {
  namespace H = vk::destlist::header;
  if (d.header_count() != d.count())
    notes.add("DestList header", H::entry_count,
              "says " + std::to_string(d.header_count()) + " entries, " +
                  std::to_string(d.count()) + " were read" + where,
              "DestList");
  const bool whole = d.faults().empty() && !d.faults().out_of_memory();
  if (d.pinned() > d.header_pinned() || (whole && d.pinned() != d.header_pinned()))
    notes.add("DestList header", H::pinned_count,
              "says " + std::to_string(d.header_pinned()) + " pinned entries, " +
                  std::to_string(d.pinned()) + " were read pinned" + where,
              "DestList");
  if (d.top_number() > d.header_last_number())
    notes.add("DestList header", H::last_entry_number,
              "says the last entry number is " + std::to_string(d.header_last_number()) +
                  ", entry " + std::to_string(d.top_number_entry()) + " has number " +
                  std::to_string(d.top_number()) + where,
              "DestList");
}

// Each stretch of zero bytes where entries lie, once: no entry is read
// there.
void note_zeroed_entries(const destlist_walker& d, file_notes& notes, const std::string& where) {
  const size_t kept = std::min(d.zeroed_count(), destlist_walker::k_kept_stretches);
  for (size_t i = 0; i < kept; ++i)
    notes.add("DestList entries", d.zeroed()[i].offset,
              std::to_string(d.zeroed()[i].length) +
                  " bytes of zeros where entries lie: no entry read there" + where,
              "DestList");
  if (d.zeroed_count() > kept)
    notes.add("DestList entries", 0,
              std::to_string(d.zeroed_count() - kept) +
                  " more stretches of zeros where entries lie: no entry read there" + where,
              "DestList");
}

// Each entry that names a link stream an entry before it names: its link is
// reported again, once for each. The first few are named, the rest
// counted. sorted: the numbers of the entries read, sorted; only a list
// where two are equal is walked again to find them.
void note_repeated_entries(const destlist_walker& d, const std::vector<uint64_t>& sorted,
                           destlist_entry& entry, file_notes& notes, const std::string& where) {
  std::vector<uint64_t> repeated;
  for (auto at = std::adjacent_find(sorted.begin(), sorted.end()); at != sorted.end();
       at = std::adjacent_find(at + 1, sorted.end()))
    if (repeated.empty() || repeated.back() != *at) repeated.push_back(*at);
  if (repeated.empty()) return;
  // The place of the first entry that names each of them.
  std::vector<uint64_t> first(repeated.size(), 0);
  fault_sink faults;
  destlist_walker again(faults);
  if (!again.start_as(d)) return;
  uint64_t named = 0;
  while (again.count() < d.count() && again.next(entry, false)) {
    const auto at = std::lower_bound(repeated.begin(), repeated.end(), entry.m_entry_num);
    if (at == repeated.end() || *at != entry.m_entry_num) continue;
    uint64_t& earlier = first[static_cast<size_t>(at - repeated.begin())];
    if (earlier == 0) {
      earlier = again.count();
      continue;
    }
    if (named++ >= k_named_lost_links) continue;
    char name[16];
    notes.add("DestList entry " + std::to_string(again.count()), again.offset(),
              "names link stream " + std::string(hex_name(entry.m_entry_num, name)) +
                  ", as entry " + std::to_string(earlier) + " does: its link reported again" +
                  where,
              "DestList");
  }
  if (named > k_named_lost_links)
    notes.add("DestList entries", 0,
              std::to_string(named - k_named_lost_links) +
                  " more name a link stream an entry before them names: their links reported "
                  "again" +
                  where,
              "DestList");
}

}  // namespace

// The stream's bytes present of its length (present): a stream cut short
// is said, and walked as far as its bytes go.
size_t list_destlist::present_part(size_t length, uint64_t present) {
  const cfb_dir_entry* named = find_cfb_entry(reader, "destlist");
  if (named && present < named->stream_size()) {
    notes.add("DestList", present, "cut short: the bytes from here on are not in the file" + where,
              "DestList");
    return static_cast<size_t>(std::min<uint64_t>(length, present));
  }
  return length;
}

destlist_open list_destlist::started() {
  if (walked) return destlist_open::walk;
  why = destlist_stop_words(walker, why_offset);
  return destlist_open::none;
}

destlist_open list_destlist::open(const destlist_read& read, size_t length, uint64_t present) {
  walked = walker.start(read, present_part(length, present));
  return started();
}

destlist_open list_destlist::open(std::vector<uint8_t>& scratch, fault_sink& read_faults) {
  // Streams are read in place from the image where their sectors allow.
  byte_view destlist;
  uint32_t dir_entry = 0;
  uint64_t first_offset = 0;
  const cfb_dir_entry* named = find_cfb_entry(reader, "destlist");
  if (entry_stream_bytes(reader, named, image.data(), image.size(), scratch, destlist, dir_entry,
                         first_offset, read_faults)) {
    const size_t present = present_part(destlist.size(), reader.m_stream_present);
    walked = walker.start(destlist.data(), present);
    return started();
  }
  if (read_faults.out_of_memory()) return destlist_open::out_of_memory;
  // A list whose DestList is there but empty: valid, with no entries.
  if (named && named->object_type() != 0 && named->stream_size() == 0) return destlist_open::none;
  if (named && named->object_type() != 0) {
    why = "not in the file (its sectors are missing)";
    return destlist_open::none;
  }
  why = "missing";
  return destlist_open::missing;
}

std::vector<uint64_t> list_destlist::finish(destlist_entry& entry) {
  const destlist_walker& d = walker;
  if (walked) {
    if (!d.faults().empty()) why = destlist_stop_words(d, why_offset);
    note_zeroed_entries(d, notes, where);
    note_destlist_count(d, notes, where);
  }
  std::vector<uint64_t> numbers = unnamed_link_streams(reader, entry_numbers);
  if (walked) note_repeated_entries(d, entry_numbers, entry, notes, where);
  return numbers;
}

void list_destlist::note_lost(uint64_t place, uint64_t offset, std::string_view stream,
                              std::string_view lost) {
  if (lost_links++ < k_named_lost_links)
    notes.add("DestList entry " + std::to_string(place), offset,
              "link stream " + std::string(stream) + " " + std::string(lost) +
                  ": reported without link data" + where,
              "DestList");
  else
    notes.add("DestList entries", offset,
              "link streams missing or unreadable: reported without link data" + where, "DestList");
}

void list_destlist::note_gaps(uint64_t unnamed_reported, uint64_t unnamed_count) {
  if (why.empty() && unnamed_count == 0) return;
  std::string cause = why;
  if (unnamed_count != 0) {
    if (!cause.empty()) cause += "; ";
    cause += std::to_string(unnamed_reported) + " of " + std::to_string(unnamed_count) +
             " link streams that no entry names reported without DestList data";
  }
  notes.add(why == "missing" ? "DestList stream" : "DestList", why_offset, cause + where,
            why == "missing" ? std::string_view() : std::string_view("DestList"));
}

bool link_stream_number(std::string_view name, uint64_t& number) {
  number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number, 16);
  char text[16];
  return error == std::errc() && end == name.data() + name.size() && hex_name(number, text) == name;
}

std::vector<uint64_t> unnamed_link_streams(const compound_file_reader& reader,
                                           std::vector<uint64_t>& named) {
  std::sort(named.begin(), named.end());
  std::vector<uint64_t> numbers;
  for (const auto& [key, dir_entry] : reader.m_entries) {
    uint64_t number = 0;
    if (dir_entry.object_type() != k_stream_object || !link_stream_number(key, number) ||
        std::binary_search(named.begin(), named.end(), number))
      continue;
    numbers.push_back(number);
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

bool note_chains(const compound_file_reader& reader, uint64_t image_size, file_notes& notes,
                 std::string_view where, bool say_cut, uint64_t image_at) {
  std::vector<cfb_chain_finding> found;
  if (!guarded([&] {
        found = check_compound_chains(reader, image_size);
        return true;
      }))
    notes.add("compound file", image_at,
              "its sector chains not checked: out of memory" + std::string(where));
  constexpr size_t k_named = 4;
  std::string names;
  size_t cut = 0;
  auto name = [&](const std::string& what) {
    if (cut++ < k_named) names += (names.empty() ? "" : ", ") + what;
  };
  if (const char* structure = cfb_cut_structure(reader)) name(std::string("the ") + structure);
  for (const cfb_chain_finding& f : found) {
    if (f.cut) {
      name(f.stream ? "stream " + f.name : "the " + f.name);
      continue;
    }
    notes.add(f.stream ? "sector chain" : f.name + " chain", f.offset,
              std::string("meets the chain of ") + (f.other_stream ? "stream " : "the ") + f.other +
                  " at " + (f.mini ? "mini sector " : "sector ") + std::to_string(f.sector) +
                  ": what is read from there on may be another's" + std::string(where),
              f.stream ? std::string_view(f.name) : std::string_view());
  }
  if (cut == 0 || !say_cut) return cut != 0;
  if (cut > k_named) names += " and " + std::to_string(cut - k_named) + " more";
  notes.add("compound file", image_at + image_size,
            "cut short: the file ends inside its sectors, what lay past it is lost (sectors of " +
                names + ")");
  return true;
}

}  // namespace vk
