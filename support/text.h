/* Text helpers shared by the start-up's options and the wininit.ini edit. */
#ifndef SUPPORT_TEXT_H
#define SUPPORT_TEXT_H

// Where pattern first stands in text, compared without regard to case, stepping by characters
// of the system code page; null when nowhere. text must be writable: each comparison puts a
// terminator into it for a moment and restores the byte.
char* FindStringNoCase(char* text, const char* pattern);

#endif
