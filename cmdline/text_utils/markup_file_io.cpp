#include "cmdline/text_utils/markup_file_io.h"

#include "foundation/uni_fileio.h"

namespace vk::markup_io {

bool read_whole(const std::string& path, std::vector<uint8_t>& out, uint64_t max_size) {
  out.clear();
  if (path.empty()) return false;
  uni::fileio file;
  if (!file.open_utf8(path, false, false, false)) return false;
  const uint64_t size = file.fileio_size();
  if (size > max_size) return false;
  if (size == 0) return true;
  return file.read_bytes_at(out, size, 0) && out.size() == size;
}

bool write_whole(const std::string& path, const uint8_t* data, size_t size, bool& opened) {
  opened = false;
  if (path.empty()) return false;
  uni::fileio file;
  opened = file.open_utf8(path, true, false, true);
  if (!opened) return false;
  size_t written = 0;
  const bool ok = size == 0 || file.append_counted(data, size, written);
  file.close();
  return ok && written == size;
}

}  // namespace vk::markup_io
