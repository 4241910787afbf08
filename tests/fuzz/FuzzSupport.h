// Shared pieces of the fuzz targets: a private world for the targets that
// touch files (temporary HOME, XDG folders, executable folder, registry
// files, all below one temporary folder removed at exit), a check that
// stops the run with a message, and a reader that carves typed values out
// of the fuzzer's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// Creates the private world once per process; later calls return at once.
// The executable seems to live in AppDir() and the shell folders point into
// the same temporary tree, so nothing outside it is read or written.
void EnterSandbox();

// The fuzz entry that puts a target into its sandbox first: for targets
// whose code under test reads or writes files.
#define VG_FUZZ_IN_SANDBOX()                           \
  extern "C" int LLVMFuzzerInitialize(int*, char***) { \
    fuzz::EnterSandbox();                              \
    return 0;                                          \
  }
// Root of the private world and the fake executable folder (trailing "/").
const std::string& SandboxRoot();
std::string AppDir();
// Writes bytes to a file below the sandbox root (folders created).
void PutFile(const std::string& rel, const std::string& bytes);
void RemoveFile(const std::string& rel);

[[noreturn]] void Fail(const char* file, int line, const char* cond, const std::string& detail);

// Splits the fuzzer's input into pieces and small numbers.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  bool Empty() const { return FPos >= FSize; }
  size_t Left() const { return FSize - FPos; }
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  // The bytes up to the next separator byte (or the end), separator dropped.
  std::string Piece(uint8_t separator = 0) {
    std::string out;
    while (FPos < FSize && FData[FPos] != separator) out += static_cast<char>(FData[FPos++]);
    if (FPos < FSize) ++FPos;
    return out;
  }
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(FData) + FPos, FSize - FPos);
    FPos = FSize;
    return out;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

// Line breaks of every kind become CR LF; used to compare texts whose line
// breaks a format normalises.
std::string NormaliseBreaks(std::string_view s);
// ASCII case-insensitive equality.
bool SameAscii(std::string_view a, std::string_view b);

}  // namespace fuzz

#define FUZZ_CHECK(cond, detail)                                    \
  do {                                                              \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond, (detail)); \
  } while (0)
