// Zeroing allocation and the free that clears the caller's pointer.
#ifndef ALERTMILL_UTILS_ALLOC_H_
#define ALERTMILL_UTILS_ALLOC_H_

#include <cstdlib>

// size bytes, all zero; null when size < 1 or the allocator fails.
void *utils_malloc(int size);

// Frees *pointer_address and sets it to null; 0. -1, doing nothing, when the
// address or the pointer is null, so freeing twice is harmless.
int utils_free(void *pointer_address);

// strdup (release with free); null for null.
char *utils_strdup(const char *text);

// Typed form, so `utils_free(&row)` works for any row pointer without a
// cast through void ** (which C++ does not do implicitly).
template <typename T>
inline int utils_free(T **pointer_address) {
  if (pointer_address == nullptr || *pointer_address == nullptr) return -1;
  std::free(const_cast<void *>(static_cast<const volatile void *>(*pointer_address)));
  *pointer_address = nullptr;
  return 0;
}

#endif  // ALERTMILL_UTILS_ALLOC_H_
