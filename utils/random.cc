// Random texts from the C library's rand(), seeded from the clock at every
// call (so calls in the same second or microsecond repeat themselves).
#include "utils/random.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "utils/alloc.h"

namespace {

// Kept exactly as issued, odd as it is: "S" appears twice and "X" never.
constexpr char kAlnumAlphabet[] = "bcdReWSpSTwxfgqhijkl4YZ0167mno23PQ5KLMNOCDEuvraHIJFGUVyzAB9st8";
constexpr int kAlnumAlphabetSize = sizeof kAlnumAlphabet - 1;
static_assert(kAlnumAlphabetSize == 62);
constexpr int kAlnumDraws = 22;

// The source file's own name without its directories, as GCC 12 and clang
// spell __FILE_NAME__; firmware toolchains of GCC 11 do not have it.
constexpr const char *base_name(const char *path) {
  const char *name = path;
  for (const char *c = path; *c != '\0'; ++c) {
    if (*c == '/') name = c + 1;
  }
  return name;
}

void seed_from_seconds() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

bool mixes_classes(const char *text, int length) {
  bool lower = false, upper = false, digit = false;
  for (int i = 0; i < length; ++i) {
    const char c = text[i];
    lower = lower || (c >= 'a' && c <= 'z');
    upper = upper || (c >= 'A' && c <= 'Z');
    digit = digit || (c >= '0' && c <= '9');
  }
  return lower && upper && digit;
}

}  // namespace

char *utils_gen_hexid(char *out, int size) {
  if (out == nullptr || size < 1) return out;
  seed_from_seconds();
  unsigned long words[4];
  for (auto &word : words) word = static_cast<unsigned long>(std::rand());
  std::snprintf(out, static_cast<size_t>(size), "%08lx%08lx%08lx%08lx", words[0], words[1],
                words[2], words[3]);
  return out;
}

int utils_gen_alnum(char *out, int length) {
  if (out == nullptr || length < 0) return -1;
  struct timeval now;
  gettimeofday(&now, nullptr);
  std::srand(static_cast<unsigned>(now.tv_usec));
  for (int draw = 0; draw < kAlnumDraws; ++draw) {
    for (int i = 0; i < length; ++i) out[i] = kAlnumAlphabet[std::rand() % kAlnumAlphabetSize];
    if (mixes_classes(out, length)) break;
  }
  return 0;
}

char *utils_gen_randstr(char *out, int size) {
  if (out == nullptr || size < 1) return nullptr;
  seed_from_seconds();
  const int n = ((std::rand() % 128) + 1) % 57 + 6;
  char *work = static_cast<char *>(utils_malloc(n));
  if (work == nullptr) {
    std::fprintf(stderr, "%s:%d %s: no memory!\n", base_name(__FILE__), __LINE__, __func__);
    return nullptr;
  }
  for (int i = 0; i < n - 1; ++i) {
    const unsigned v = static_cast<unsigned>(std::rand()) + static_cast<unsigned>(n + i);
    switch (v % 3) {
      case 0:
        work[i] = static_cast<char>('A' + v % 26);
        break;
      case 1:
        work[i] = static_cast<char>('a' + v % 26);
        break;
      default:
        work[i] = static_cast<char>('0' + v % 10);
        break;
    }
  }
  std::memset(out, 0, static_cast<size_t>(size));
  std::snprintf(out, static_cast<size_t>(size), "%s", work);
  utils_free(&work);
  return out;
}
