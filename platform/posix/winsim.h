/*
 * Host-only controls of the simulated machine, for tests and tools; never used by the setup's
 * own modules.
 *
 * The machine is the folder named by WINSIM_ROOT:
 *   drive_c/, drive_d/, ...   the drives (a drive exists when its folder does); Z: is the host's /
 *                             unless drive_z exists, as under Wine
 *   machine.ini               settings, read when needed (see below)
 *   state/messagebox.log      transcript: one line per message box shown
 *   state/messagebox-answers  scripted answers, one decimal button id per line, used in order
 *   registry/                 one REGEDIT4 file per hive
 *   state/short-names         the 8.3 aliases handed out by GetShortPathNameA
 *
 * machine.ini (all optional):
 *   [windows]   directory=C:\WINDOWS   what GetWindowsDirectoryA answers (any text)
 *   [clock]     utc=YYYY-MM-DD hh:mm:ss.mmm   a fixed system time for GetSystemTime and friends
 *   [libraries] missing=NAME,...        DLLs that LoadLibraryA does not find
 *   [functions] missing=NAME,...        run-time looked-up functions that GetProcAddress does not find
 *   [display]   screen=WIDTHxHEIGHT     the screen's size for GetSystemMetrics (default 1024x768)
 *               workarea=L,T,R,B        the work area, SPI_GETWORKAREA (default the whole screen)
 *
 * Fault knobs: the Nth call (counted from 1 in this process) of a named Win32 function fails with
 * a given error code, as if the system had refused it. Set in-process with SetFault, or for a
 * whole process tree with the environment variable WINSIM_FAULTS, a comma-separated list of
 * FUNCTION#N=ERROR, or FUNCTION#N+=ERROR for the Nth call and every later one. An item written
 * PROGRAM:FUNCTION#N=ERROR applies only in the processes of that program (setup.exe).
 *
 * Trace: WINSIM_TRACE=[PROGRAM:]HOSTFILE appends one line per counted call to HOSTFILE,
 * "FUNCTION +OFFSET ?E,E,...": the caller's return address as an offset into its program and the
 * errors the function plausibly fails with (declared at its fault point), with " !ERROR" behind
 * a call that the knobs made fail.
 *
 * Kill: WINSIM_KILL=[PROGRAM:]FUNCTION#N ends the process at the Nth call of FUNCTION, before the
 * call does anything, and every process it started with it, without any cleanup: a power cut
 * in the middle of a run.
 */
#ifndef PLATFORM_POSIX_WINSIM_H
#define PLATFORM_POSIX_WINSIM_H

#include <string>
#include <vector>

#include "platform/win32.h"

namespace winsim {

// Makes call number nth (from 1) of function fail with error; with andLater, every later call too.
void SetFault(const char* function, unsigned nth, DWORD error, bool andLater = false);
// Removes every fault set in-process and from WINSIM_FAULTS, and resets the call counters.
void ClearFaults();
// How often function has been called in this process since the start or the last ClearFaults.
unsigned CallCount(const char* function);

// The host path that a Windows path of the machine stands for (empty when it maps nowhere).
std::string HostPath(const char* windowsPath);

// What the next start of Windows does to the machine, in its order: the delayed moves and
// deletions of PendingFileRenameOperations (the value is then removed), the [Rename] lines of
// wininit.ini (which then becomes wininit.bak), and the RunOnce values of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER, each deleted and then its command run and waited for. One line per step
// goes to log (when given); the answer is the number of steps that failed.
int Boot(std::vector<std::string>* log);

}  // namespace winsim

#endif
