// The wildcard match of file listings, shared by both backends: "*" stands
// for any run of characters, "?" for one; letters compare through `fold`
// (the backend's case folding).
#pragma once

namespace platform {

// Iterative match with backtracking on the last "*".
template <class Char, class Fold>
bool MaskMatchWith(const Char* mask, const Char* name, Fold fold) {
  const Char* starMask = nullptr;
  const Char* starName = nullptr;
  while (*name) {
    if (*mask == Char('*')) {
      starMask = ++mask;
      starName = name;
      continue;
    }
    if (*mask == Char('?') || (*mask && fold(*mask) == fold(*name))) {
      ++mask;
      ++name;
      continue;
    }
    if (starMask) {
      mask = starMask;
      name = ++starName;
      continue;
    }
    return false;
  }
  while (*mask == Char('*')) ++mask;
  return *mask == Char('\0');
}

}  // namespace platform
