// Counted allocation for the memory-bound tests.
#include "alloc_hook_define.h"
