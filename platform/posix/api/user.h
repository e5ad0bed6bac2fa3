/*
 * Host layer declarations for windows, dialogs, the message queue and common controls (user32, comctl32). Included through platform/win32.h only, after base.h.
 */
#ifndef PLATFORM_POSIX_API_USER_H
#define PLATFORM_POSIX_API_USER_H

#include "platform/posix/api/base.h"

#endif
