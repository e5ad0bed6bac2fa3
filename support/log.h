/*
 * The setup log: one time-stamped line per event in "\_pw\_pw.log" on the drive that holds
 * Windows. Each line is appended with write-through and the file closed again at once, so every
 * line is on disk when WriteLog returns and a crash loses nothing that was logged.
 */
#ifndef SUPPORT_LOG_H
#define SUPPORT_LOG_H

#include "platform/win32.h"

// The log drive followed by "\_pw"; set by InitLog before it tries to create the folder.
// The installation sequence also uses it as the fall-back base of its temporary folder.
extern char LogFolderPath[256];
// LogFolderPath followed by "\_pw.log"; set by InitLog once the folder exists. While it is
// empty, log lines are lost.
extern char LogFilePath[256];
// Set once InitLog has created or opened the log file; a second InitLog then does nothing.
extern bool LogReady;

// Writes the log drive ("C:", or the drive of the Windows directory such as "D:") to drive,
// which holds at least 3 bytes.
void GetLogDrive(char* drive);

// Deletes "\_pw.log" and "\_pw\_pw.log" on the log drive; failures are ignored.
void DeleteOldLogs();

// Creates the log folder and file (every account gets full access where the system allows it).
void InitLog();

// Appends "dd-mm-yy hh:mm:ss.mmm [CODE] text detail\r\n" (UTC, code in upper-case hex) to the
// log. text and detail may be null. Lines that cannot be written are lost without notice.
// The caller's last-error code is left as it was.
void WriteLog(const char* text, const char* detail, LONG code);

#endif
