// The vesk program: the whole run lives in the library so that tests reach it.
#include <vector>

#include "foundation/vk_args.h"
#include "foundation/vk_posix.h"
#include "jumplist/vesk_main.h"

int main(int argc, char** argv) {
  // Before any file is opened: none may take a closed standard stream's place.
  vk::fill_closed_standard_streams();
  std::vector<std::string> args;
  vk::args_to_vector(args, argc, argv);
  return vk::vesk_run(std::move(args));
}
