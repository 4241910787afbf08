#pragma once

// Base of the classes that own something that must not be shared or owned
// twice (a thread, a handle, a temporary folder, an open file): copying one
// does not compile.
class TNoCopy {
 protected:
  TNoCopy() = default;
  ~TNoCopy() = default;

 public:
  TNoCopy(const TNoCopy&) = delete;
  TNoCopy& operator=(const TNoCopy&) = delete;
};
