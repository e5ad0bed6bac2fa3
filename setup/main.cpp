/*
 * The setup program's entry point. Both worlds take the command line from GetCommandLineA and
 * cut off the program's name themselves, so the tail is the same wherever the program runs.
 */
#include <string.h>

#include <vector>

#include "setup/run_sfx.h"
#include "setup/startup.h"

namespace {

int Run() {
  const char* line = GetCommandLineA();
  // A copy of our own: the option search writes into the tail for a moment.
  std::vector<char> copy(line, line + strlen(line) + 1);
  return SetupMain(CommandLineTail(copy.data()), RunSfx);
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
