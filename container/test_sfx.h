/* The integrity test of the setup container: every block that carries a CRC must match it. */
#ifndef CONTAINER_TEST_SFX_H
#define CONTAINER_TEST_SFX_H

#include "platform/win32.h"

// 1 when the chain is whole (its walk reaches a block that links to nothing) and every block
// with a non-zero data CRC matches it; 0 otherwise. Stops at the first mismatch.
int TestSFX(const void* view, DWORD size);

#endif
