// Writes the fuzz targets' seeds: vesk_fuzz_seeds <folder> [<samples folder>].
// The written seeds go to <folder>/<target>/; with a samples folder, the
// seeds cut from its files go there too, under names of their own.
#include <cstdio>

#include "fuzz/fuzz_seeds.h"

namespace vesk_fuzz {
bool write_volume_seeds(const std::filesystem::path& folder);
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s <seed folder> [<samples folder>]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  bool ok = vesk_fuzz::write_seeds(vesk_fuzz::written_seeds(), folder / "written");
  ok = vesk_fuzz::write_volume_seeds(folder / "written") && ok;
  if (argc == 3)
    ok = vesk_fuzz::write_seeds(vesk_fuzz::sample_seeds(argv[2]), folder / "samples") && ok;
  if (!ok) std::fprintf(stderr, "%s: seeds not written\n", argv[0]);
  return ok ? 0 : 1;
}
