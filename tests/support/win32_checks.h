/* "This call fails with that error", as one check: the call's result must be its failure value
 * and the last error the given one, set by the call itself (it starts from a value no call
 * gives). Used as EXPECT_TRUE(FAILS_WITH(DeleteFileA(path), FALSE, ERROR_FILE_NOT_FOUND)). */
#ifndef TESTS_SUPPORT_WIN32_CHECKS_H
#define TESTS_SUPPORT_WIN32_CHECKS_H

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace pwtest {

const DWORD kUnsetError = 0xDEAD;

template <typename T, typename F>
::testing::AssertionResult FailedWith(const T& result, const F& failure, DWORD error,
                                      const char* call) {
  DWORD got = GetLastError();
  if (result == (T)failure && got == error) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << call << " gave " << result << " and error " << got
                                       << ", not " << (T)failure << " and error " << error;
}

}  // namespace pwtest

#define FAILS_WITH(call, failure, error)                                                         \
  ::pwtest::FailedWith((SetLastError(::pwtest::kUnsetError), (call)), (failure), (DWORD)(error), \
                       #call)

#endif
