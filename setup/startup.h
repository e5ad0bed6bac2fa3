/*
 * The setup's start-up: the options it acts on itself, the option help, the single-instance
 * guard, the setup log, the Internet Explorer test and the administrator line, and then the
 * installation sequence, whose result becomes the exit code.
 */
#ifndef SETUP_STARTUP_H
#define SETUP_STARTUP_H

#include "platform/win32.h"
#include "support/text.h"  // FindStringNoCase, which the options use

// Set from "/reboot": a needed restart happens without asking.
extern bool ForceReboot;

// The installation sequence, given the command-line tail unchanged; 0 or a negative failure.
typedef HRESULT (*RunSfxFn)(char* tail);

// What follows the program's name and the blanks after it in a full command line.
char* CommandLineTail(char* commandLine);

// Whether an Internet Explorer "Version" string names version 5 or later: its leading decimal
// number must be at least 5, so "10.0" passes and "4.72", "" and "x" do not.
bool InternetExplorerVersionPasses(const char* version);

// Where the system can (SetDefaultDllDirectories, looked up at run time), later LoadLibraryA
// calls search System32 only, never the setup's own folder: a setup usually runs from a
// downloads folder, where anybody may have left a DLL of a system name. True when restricted.
bool RestrictDllSearch();

// What LoadLibraryA is to be given for the system DLL name, into out (MAX_PATH bytes): the name
// itself where RestrictDllSearch succeeded, else its full path in System32 (systems before
// Windows 7 with its update, and the 95 family, lack the restriction). False when there is
// none to give.
bool SystemLibraryPath(const char* name, char* out);
// LoadLibraryA of SystemLibraryPath's answer; null when there is none or the load fails.
HMODULE LoadSystemLibrary(const char* name);

// Runs start-up with the command-line tail and then runSfx; returns the process's exit code.
// The DLL search is restricted first of all.
int SetupMain(char* tail, RunSfxFn runSfx);

#endif
