/* What the platform tests share: support headers, the usual file calls, and where they run. */
#ifndef TESTS_UNIT_PLATFORM_FILE_HELPERS_H
#define TESTS_UNIT_PLATFORM_FILE_HELPERS_H

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/test_machine.h"
#include "tests/support/win32_checks.h"

// Under Wine the real calls answer; where they differ from Windows', a check is the host's alone.
#ifdef _WIN32
constexpr bool kWine = true;
#else
#include "platform/posix/winsim.h"
constexpr bool kWine = false;
#endif

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// That opening fails with the error; a handle it gave all the same is closed.
inline ::testing::AssertionResult OpenFails(const std::string& path, DWORD access, DWORD share,
                                            DWORD disposition, DWORD error,
                                            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  HANDLE h = INVALID_HANDLE_VALUE;
  ::testing::AssertionResult result =
      FAILS_WITH(h = Open(path, access, share, disposition, flags), INVALID_HANDLE_VALUE, error);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return result;
}

// The whole file, or "" (and a failed expectation) when it cannot be read.
inline std::string Read(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(TestMachine::ReadBytes(path, &bytes)) << path;
  return bytes;
}

inline unsigned long long Ticks(const FILETIME& ft) {
  return ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

// MoveFileExA, which callers look up at run time (old Windows lacks it).
inline MoveFileExAFn LookUpMoveFileEx() {
  return ProcAs<MoveFileExAFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "MoveFileExA"));
}

#endif
