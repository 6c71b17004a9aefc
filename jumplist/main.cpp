// The vesk program: the whole run lives in the library so that tests reach it.
#include <vector>

#include "foundation/vk_args.h"
#include "jumplist/vesk_main.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  vk::args_to_vector(args, argc, argv);
  return vk::vesk_run(std::move(args));
}
