#include "utils/paths.h"

#include <cstdlib>

std::string utils_path(const char *fixed_path) {
  std::string path = fixed_path ? fixed_path : "";
  const char *root = std::getenv("ALERTMILL_ROOT");
  if (root == nullptr || root[0] == '\0') return path;
  std::string resolved = root;
  while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
  if (!path.empty() && path.front() != '/') resolved += '/';
  return resolved + path;
}
