#include "utils/alloc.h"

#include <cstdlib>
#include <cstring>

void *utils_malloc(int size) {
  if (size < 1) return nullptr;
  // calloc zeroes the block and checks nothing overflows.
  return std::calloc(1, static_cast<size_t>(size));
}

int utils_free(void *pointer_address) {
  if (pointer_address == nullptr) return -1;
  void **slot = static_cast<void **>(pointer_address);
  if (*slot == nullptr) return -1;
  std::free(*slot);
  *slot = nullptr;
  return 0;
}

char *utils_strdup(const char *text) { return text ? strdup(text) : nullptr; }
