#include "foundation/vk_posix.h"

namespace vk {

// Alone in its file: a test program that defines posix() itself (a table it
// can replace, testing/posix_seam.h) never pulls this one from the library.
const posix_calls& posix() {
  return system_posix_calls();
}

}  // namespace vk
