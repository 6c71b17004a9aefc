// The digests of the content a run list describes, read piece by piece.
#include <vector>

#include "disk/cluster_runs.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_digest.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_sha256.h"

namespace vk {

bool digest_and_copy_cluster_runs(const cluster_runs& list, guid& md5, std::vector<uint8_t>& sha1,
                                  std::vector<uint8_t>& sha256, uint32_t flags, RAW_DISK_IO& disk,
                                  uint64_t length, uni::fileio* file) {
  return guarded([&] {
    md5.clear();
    resize_zeroed_20(sha1);
    resize_zeroed_32(sha256);
    if (!cluster_runs_usable(list) || !disk.is_open() || length == 0) return false;
    md5_ctx m;
    sha1_ctx s1;
    sha256_ctx s2;
    md5_init(m);
    sha1_init(s1);
    sha256_init(s2);
    const bool copy = (flags & digest_copy) && file && file->usable();
    bool stored = true;
    const bool ok = cluster_runs_walk(list, disk, 0, length, [&](const cluster_piece& p) {
      if (flags & digest_md5) md5_update(m, p.bytes, p.length);
      if (flags & digest_sha1) sha1_update(s1, p.bytes, p.length);
      if (flags & digest_sha256) sha256_update(s2, p.bytes, p.length);
      if (copy) stored = file->append(p.bytes, static_cast<uint32_t>(p.length)) && stored;
      return true;
    });
    if (copy) file->close();
    if (!ok || !stored) return false;
    uint8_t digest[32];
    if (flags & digest_md5) {
      md5_finish(m, digest);
      md5.set(digest);
    }
    if (flags & digest_sha1) sha1_finish(s1, sha1.data());
    if (flags & digest_sha256) sha256_finish(s2, sha256.data());
    return true;
  });
}

bool digest_cluster_runs(const cluster_runs& list, guid& md5, std::vector<uint8_t>& sha1,
                         std::vector<uint8_t>& sha256, uint32_t flags, RAW_DISK_IO& disk,
                         uint64_t length) {
  return digest_and_copy_cluster_runs(list, md5, sha1, sha256, flags & ~uint32_t{digest_copy}, disk,
                                      length, nullptr);
}

}  // namespace vk
