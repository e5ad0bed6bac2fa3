/*
 * Replacing locked files at the next start of Windows: a numbered copy beside the target,
 * and a request that the system carries out when it starts — MoveFileExA on the NT family, a
 * line in wininit.ini's [Rename] section on the 95 family.
 */
#ifndef FILEOPS_REBOOT_H
#define FILEOPS_REBOOT_H

#include "platform/win32.h"

// Copies made by ActMoveFileOnReboot in this process; the first copy of a run is number 1.
extern LONG RebootCopyCount;

// A FileAction: copies source beside its target in folder as "_pw<n>.pw_" and asks for that
// copy to replace the target at the next start. MoveFileOnReboot's result; 0 when the copy
// can't be made.
LONG ActMoveFileOnReboot(const char* source, const char* folder);

// A FileAction: asks for path to be deleted at the next start (the context is ignored). A
// folder can only be deleted then once it is empty, so the files in it go first.
LONG ActDelFileOnReboot(const char* path, const char* context);

// Asks for every numbered copy in folder that an earlier run left to be deleted at the next
// start (a run ended between making a copy and scheduling it leaves one that nothing replaces
// anything with). A copy that an earlier run did schedule is moved by then, before its
// deletion comes up, since Windows carries out the requests in the order they were made.
void ScheduleStaleCopiesRemoval(const char* folder);

// Asks for source to replace destination at the next start, or, with no destination, for
// source to be deleted; by the family of the running Windows.
LONG MoveFileOnReboot(const char* source, const char* destination);
LONG MoveFileOnRebootNT(const char* source, const char* destination);
LONG MoveFileOnReboot9x(const char* source, const char* destination);

#endif
