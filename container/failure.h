/* Failure results of the extraction operations. */
#ifndef CONTAINER_FAILURE_H
#define CONTAINER_FAILURE_H

#include "platform/win32.h"

// A failed system call's error code as a failure result (HRESULT_FROM_WIN32). A call that
// failed without a code gives E_FAIL: a failure must never read as success.
inline HRESULT FailureFromError(DWORD error) {
  HRESULT result = HRESULT_FROM_WIN32(error);
  return result < 0 ? result : E_FAIL;
}

#endif
