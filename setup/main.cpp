/*
 * The setup program's entry point. Both worlds take the command line from GetCommandLineA and
 * cut off the program's name themselves, so the tail is the same wherever the program runs.
 *
 * The installation sequence is not part of this program yet: in its place stands a sequence
 * that says so and fails, so that a run never looks like a finished installation.
 */
#include <string.h>

#include <vector>

#include "setup/startup.h"
#include "support/log.h"
#include "support/report.h"

namespace {

// E_NOTIMPL: the sequence is not implemented in this build.
const HRESULT kNotImplemented = (HRESULT)0x80004001L;

HRESULT InstallationUnavailable(char* tail) {
  (void)tail;
  ReportError("This build of Pondwick Setup cannot install: its installation sequence is missing.",
              nullptr, 0);
  return kNotImplemented;
}

int Run() {
  const char* line = GetCommandLineA();
  // A copy of our own: the option search writes into the tail for a moment.
  std::vector<char> copy(line, line + strlen(line) + 1);
  return SetupMain(CommandLineTail(copy.data()), InstallationUnavailable);
}

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
  (void)instance;
  (void)previous;
  (void)tail;
  (void)show;
  return Run();
}
#else
int main() { ExitProcess((UINT)Run()); }
#endif
