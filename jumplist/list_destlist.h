// Reading the DestList of an automatic list, shared by every road that
// reads one (a list read as a file, a list carved out of other bytes): the
// stream opened, its walk and what each says of the list, so that a list
// gives the same entries and the same notes whichever way it is met.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_fault_sink.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/file_notes.h"

namespace vk {

// A stream name: the entry number in lower-case hexadecimal, no leading zeros.
std::string_view hex_name(uint64_t value, char (&buf)[16]);

// Entries whose link is lost are each named in a note up to this many a
// list; the rest are counted in one.
inline constexpr uint64_t k_named_lost_links = 16;

// How the DestList stream of a list opened.
enum class destlist_open : uint8_t {
  walk,           // its walk started
  none,           // nothing to walk: empty, or why says what became of it
  missing,        // no DestList stream (why says "missing")
  out_of_memory,  // its bytes could not be copied
};

// One list's DestList as every road reads it. where is added to each cause
// said (empty for a list read as a file; where a carved list lies).
struct list_destlist {
  const compound_file_reader& reader;
  byte_view image;
  file_notes& notes;
  std::string where;
  destlist_walker walker;
  // Why the streams no entry names were left so (empty for a sound
  // DestList), and where.
  std::string why;
  uint64_t why_offset = 0;
  // The stream numbers the entries read name, in walk order (the room
  // the caller's, kept from list to list).
  std::vector<uint64_t>& entry_numbers;
  uint64_t lost_links = 0;
  bool walked = false;  // the walk started

  list_destlist(const compound_file_reader& r, byte_view i, file_notes& n, fault_sink& walk_faults,
                std::vector<uint64_t>& numbers, std::string w = {})
      : reader(r),
        image(i),
        notes(n),
        where(std::move(w)),
        walker(walk_faults),
        entry_numbers(numbers) {
    entry_numbers.clear();
  }

  // Opens the stream (its bytes in scratch where its sectors are not in
  // one piece) and starts the walk, saying a stream cut short.
  destlist_open open(std::vector<uint8_t>& scratch, fault_sink& read_faults);
  // The same, for a stream of length bytes read through read, of which the
  // first present are in the file (those past, zeros).
  destlist_open open(const destlist_read& read, size_t length, uint64_t present);
  // The next entry; false at the walk's end. Its stream number is kept
  // by named (apart: memory that runs out keeping it loses this entry).
  bool next(destlist_entry& entry, bool with_path = false) { return walker.next(entry, with_path); }
  void named(const destlist_entry& entry) { entry_numbers.push_back(entry.m_entry_num); }
  // After the walk: where it stopped short (into why), each header count
  // the entries contradict, each zeroed stretch and each entry that names
  // a stream an entry before it names are said; the numbers of the link
  // streams no entry names, ascending. entry: scratch.
  std::vector<uint64_t> finish(destlist_entry& entry);
  // An entry whose link stream gave no link (why): the first few named,
  // the rest counted.
  void note_lost(uint64_t place, uint64_t offset, std::string_view stream, std::string_view lost);
  // What the DestList left unread, and how many of the link streams no
  // entry names were reported without its data (said only when there is
  // either).
  void note_gaps(uint64_t unnamed_reported, uint64_t unnamed_count);

 private:
  size_t present_part(size_t length, uint64_t present);
  destlist_open started();
};

// Whether a stream's name is a link stream's number, in lower-case
// hexadecimal as an entry would give it; the number.
bool link_stream_number(std::string_view name, uint64_t& number);

// The numbers of the link streams of the directory that no entry read
// names (names that are a number in lower-case hexadecimal as an entry
// would give it), ascending. named: the stream numbers of the entries read
// (sorted here).
std::vector<uint64_t> unnamed_link_streams(const compound_file_reader& reader,
                                           std::vector<uint64_t>& named);

// Says each chain of the parsed image that meets another's and, with
// say_cut, what it declares past its end (true when there is any). image_at:
// where the image begins in the file the notes are of.
bool note_chains(const compound_file_reader& reader, uint64_t image_size, file_notes& notes,
                 std::string_view where = {}, bool say_cut = true, uint64_t image_at = 0);

}  // namespace vk
