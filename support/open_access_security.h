/*
 * Security attributes that give every account full access, for the log folder and file: the
 * log must stay writable for whichever account runs the next setup.
 */
#ifndef SUPPORT_OPEN_ACCESS_SECURITY_H
#define SUPPORT_OPEN_ACCESS_SECURITY_H

#include "platform/win32.h"

// Builds the record: {12, descriptor with a present null DACL, inherit TRUE} when the security
// functions exist and succeed; an all-zero record when they exist but fail; null (default
// security) when the record can't be allocated or ADVAPI32 or either function is missing.
// The two functions are looked up at run time, since the 95 family lacks them.
LPSECURITY_ATTRIBUTES CreateOpenAccessSecurity();

// Frees what CreateOpenAccessSecurity returned (null is fine).
void FreeOpenAccessSecurity(LPSECURITY_ATTRIBUTES attributes);

#endif
