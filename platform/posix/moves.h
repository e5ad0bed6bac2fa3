/*
 * The host layer's MoveFileExA, which callers may only reach through GetProcAddress (old Windows
 * lacks it); system.cpp lists it in its export table.
 */
#ifndef PLATFORM_POSIX_MOVES_H
#define PLATFORM_POSIX_MOVES_H

#include "platform/win32.h"

namespace winsim {
namespace detail {

BOOL WINAPI HostMoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);

}  // namespace detail
}  // namespace winsim

#endif
