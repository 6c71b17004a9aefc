// The volume targets' seeds, beside the others the seed program writes.
#include "fuzz/fuzz_seeds.h"
#include "fuzz/volume_seeds.h"

namespace vesk_fuzz {

bool write_volume_seeds(const std::filesystem::path& folder) {
  seed_map seeds;
  for (auto& [target, list] : volume_seeds()) seeds[target] = std::move(list);
  return write_seeds(seeds, folder);
}

}  // namespace vesk_fuzz
