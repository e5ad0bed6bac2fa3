/*
 * Child programs and the restart of Windows. A child is started from a folder, which is also its
 * working folder, and waited for without a time limit; its exit code is only logged.
 */
#ifndef FILEOPS_PROCESSES_H
#define FILEOPS_PROCESSES_H

#include "platform/win32.h"

// Runs "folder\program" [params] with folder as its working folder and waits for it to end.
// 0 when it ran and ended (whatever its exit code); otherwise the failure in HRESULT form
// (HRESULT_FROM_WIN32 of the system's error). A command line that would not fit its 520 bytes
// is refused with ERROR_FILENAME_EXCED_RANGE, without starting anything.
HRESULT RunProcess(const char* folder, const char* program, const char* params);

// Enables SeShutdownPrivilege in the process's token; nonzero on success. 0 when a token
// function is missing (the 95 family) or fails.
BOOL EnableShutdownPrivilege();

// Asks the user whether to restart now (unless noAsk), then asks Windows for a restart that
// running programs may still refuse. A refused request is reported; the caller goes on either way.
void AskForReboot(BOOL noAsk);

#endif
