/*
 * Host layer declarations for the registry (advapi32). Included through platform/win32.h only, after base.h.
 */
#ifndef PLATFORM_POSIX_API_REGISTRY_H
#define PLATFORM_POSIX_API_REGISTRY_H

#include "platform/posix/api/base.h"

#endif
