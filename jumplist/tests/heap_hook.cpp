// Counted allocation for the memory-bound and allocation-failure tests.
#include "alloc_hook_define.h"
