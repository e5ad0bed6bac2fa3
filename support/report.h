/*
 * Error reports: what the user must see of a failure goes to the log and, unless the setup runs
 * silently, into a system-modal error box. A report never ends the program; the caller decides.
 */
#ifndef SUPPORT_REPORT_H
#define SUPPORT_REPORT_H

#include <stddef.h>

#include "platform/win32.h"

// Set from "/silent" at start-up: no error boxes, the progress window stays hidden.
extern bool SilentMode;

// Composes "message detail", then ": " and the system's text for code when code is not 0, then
// "\r\n"; logs it with code and, unless SilentMode, shows it in an error box titled detail.
// The composed text never exceeds 1023 characters: the system's text (or, where the message
// and detail alone fill the buffer, their end) is cut so that the closing "\r\n" still fits.
void ReportError(const char* message, const char* detail, LONG code);

// Appends the system's text for code (its own line end included) to buffer, a zero-terminated
// text in a buffer of capacity bytes; at most capacity - 1 characters end up in it. Nothing is
// appended when the system has no text for code or buffer is null.
void AppendSystemErrorText(DWORD code, char* buffer, size_t capacity);

#endif
