// Writes the inputs of tools/memory-growth.sh: files whose record count or
// junk grows with N, built with the test writers.
//
//   vesk_memory_inputs KIND N OUT
//
// KIND: carve (one link, N MiB of false link headers every 64 bytes, then
// 256 links), slack (a 10-entry automatic list with N free sectors of false
// headers), automatic (N entries), custom (a custom list of N links),
// samestream (N DestList entries naming one stream), raw (a link every
// 4 KiB through N GiB).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "lnk_writer.h"

namespace {

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

bytes_t numbered_link(uint64_t i) {
  lnk_spec s;
  s.write_time = 133540960891234567ull + i;
  s.file_size = 4096;
  lnk_link_info li;
  li.serial = 0x1234ABCD;
  li.local_base_path = "C:\\Users\\x\\Documents\\report-" + std::to_string(i) + ".docx";
  s.link_info = li;
  s.strings[lnk_name] = u"report";
  s.strings[lnk_working_dir] = u"C:\\Users\\x\\Documents";
  return write_lnk(s);
}

// A header with the right size, CLSID and a flags word (an ID list, Unicode
// texts), then junk up to the next one. Each parses as a link that names
// nothing, ending within the next header.
void false_headers(bytes_t& out, size_t at, size_t bytes, uint32_t& seed) {
  for (size_t o = at; o + 64 <= at + bytes; o += 64) {
    uint8_t* h = out.data() + o;
    for (size_t i = 24; i < 64; ++i) {
      seed = seed * 1103515245u + 12345u;
      h[i] = static_cast<uint8_t>(seed >> 16);
    }
    put_le32(out, o, 76);
    std::memcpy(h + 4, lnk_clsid_bytes.data(), lnk_clsid_bytes.size());
    put_le32(out, o + 20, 0x81);
  }
}

bytes_t automatic_list(uint64_t entries, bool one_stream, size_t free_sectors) {
  cfb_writer w;
  std::vector<destlist_test_entry> list;
  const uint64_t streams = one_stream ? 1 : entries;
  for (uint64_t i = 0; i < streams; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(i + 1));
    std::u16string n(name, name + std::strlen(name));
    w.stream(n, numbered_link(i));
  }
  for (uint64_t i = 0; i < entries; ++i) {
    destlist_test_entry e;
    e.entry_num = one_stream ? 1 : i + 1;
    e.mru_time += i;
    list.push_back(e);
  }
  w.stream(u"DestList", build_destlist(4, list));
  if (free_sectors) w.free_sector(free_sectors);
  bytes_t image = w.build();
  if (free_sectors) {
    uint32_t seed = 7;
    const size_t bytes = free_sectors * 512;
    false_headers(image, image.size() - bytes, bytes, seed);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s carve|slack|automatic|custom|samestream|raw N OUT\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1], path = argv[3];
  const uint64_t n = std::strtoull(argv[2], nullptr, 10);
  bytes_t out;
  if (kind == "carve") {
    out = numbered_link(0);
    const size_t at = (out.size() + 63) / 64 * 64;
    const size_t junk = static_cast<size_t>(n) << 20;
    out.resize(at + junk);
    uint32_t seed = 1;
    false_headers(out, at, junk, seed);
    for (uint64_t i = 1; i <= 256; ++i) {
      const bytes_t link = numbered_link(i);
      out.insert(out.end(), link.begin(), link.end());
    }
  } else if (kind == "slack") {
    out = automatic_list(10, false, static_cast<size_t>(n));
  } else if (kind == "automatic") {
    out = automatic_list(n, false, 0);
  } else if (kind == "samestream") {
    out = automatic_list(n, true, 0);
  } else if (kind == "custom") {
    byte_builder b;
    b.u32(2).u32(1).u32(0).u32(2).u32(static_cast<uint32_t>(n));
    for (uint64_t i = 0; i < n; ++i) {
      b.bytes(bytes_t(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end()));
      b.bytes(numbered_link(i));
    }
    b.u32(0xBABFFBABu);
    out = b.take();
  } else if (kind == "raw") {
    // Written block by block: the file is far larger than the memory used.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 1;
    const uint64_t size = n << 30;
    bytes_t block(size_t{1} << 20, 0);
    for (uint64_t at = 0; at < size; at += block.size()) {
      std::fill(block.begin(), block.end(), 0);
      for (size_t o = 0; o < block.size(); o += 4096) {
        const bytes_t link = numbered_link((at + o) / 4096);
        std::memcpy(block.data() + o, link.data(), link.size());
      }
      if (::pwrite(fd, block.data(), block.size(), static_cast<off_t>(at)) !=
          static_cast<ssize_t>(block.size()))
        return 1;
    }
    return ::close(fd) == 0 ? 0 : 1;
  } else {
    std::fprintf(stderr, "unknown kind: %s\n", kind.c_str());
    return 2;
  }
  return write_all(path, out) ? 0 : 1;
}
