// The debug log's lines also reach the debugger output on Windows, where
// the system's tools read a program's trace; only while the log is active.
// (tests/net/DebugLogSystemTest.cpp has the journal's side on Linux.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/CLDebugLog.h"

namespace {

// What OutputDebugStringW hands a debugger: it raises DBG_PRINTEXCEPTION_*
// first, which a vectored handler sees before the call's own handler
// swallows it.
std::vector<std::wstring>* GSeen = nullptr;
LONG CALLBACK SeeDebugString(EXCEPTION_POINTERS* e) {
  const DWORD code = e->ExceptionRecord->ExceptionCode;
  if (GSeen && code == 0x4001000A /* DBG_PRINTEXCEPTION_WIDE_C */ &&
      e->ExceptionRecord->NumberParameters >= 2)
    GSeen->push_back(reinterpret_cast<const wchar_t*>(e->ExceptionRecord->ExceptionInformation[1]));
  else if (GSeen && code == 0x40010006 /* DBG_PRINTEXCEPTION_C */ &&
           e->ExceptionRecord->NumberParameters >= 2) {
    const char* a = reinterpret_cast<const char*>(e->ExceptionRecord->ExceptionInformation[1]);
    // The narrow form carries the text in the system's code page.
    wchar_t wide[1024] = {};
    MultiByteToWideChar(CP_ACP, 0, a, -1, wide, 1023);
    GSeen->push_back(wide);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebugLogWinTest, LinesReachTheDebuggerOutputWhileTheLogIsActive) {
  std::vector<std::wstring> seen;
  GSeen = &seen;
  PVOID handler = AddVectoredExceptionHandler(1, SeeDebugString);
  CLDebugLog::Write("Quiet", "not written while the log is off");
  CLDebugLog::SetActive(true);
  const int sink = CLDebugLog::AddSink([](const std::string&, const std::string&) {});
  CLDebugLog::Write("Engine", "Language: Deutsch \xc3\xa4");
  CLDebugLog::SetActive(false);
  CLDebugLog::RemoveSink(sink);
  RemoveVectoredExceptionHandler(handler);
  GSeen = nullptr;
  bool found = false;
  for (const std::wstring& s : seen) {
    EXPECT_EQ(s.find(L"not written"), std::wstring::npos);
    if (s == L"veilgate: [Engine] Language: Deutsch \u00e4\n") found = true;
  }
  EXPECT_TRUE(found) << seen.size() << " debug strings seen";
}

}  // namespace
