/*
 * Host layer declarations for processes, events, folders walks, temporary names, versions and tokens (kernel32, advapi32). Included through platform/win32.h only, after base.h.
 */
#ifndef PLATFORM_POSIX_API_PROCESS_H
#define PLATFORM_POSIX_API_PROCESS_H

#include "platform/posix/api/base.h"

#endif
