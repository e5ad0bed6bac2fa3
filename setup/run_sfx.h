/*
 * The installation sequence: test the container, unpack into a private temporary folder, run
 * the configuration program, read its choices, move the files into place (or schedule them for
 * the next start), and start the product.
 */
#ifndef SETUP_RUN_SFX_H
#define SETUP_RUN_SFX_H

#include "platform/win32.h"

// Runs the whole installation with the command-line tail (passed on to the configuration
// program). 0, or -1, -4, -5, or a negative failure result: the process's exit code.
HRESULT RunSfx(char* tail);

#endif
