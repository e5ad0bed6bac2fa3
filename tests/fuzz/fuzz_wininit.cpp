/*
 * The wininit.ini edit of the 95-family restart over an arbitrary existing wininit.ini: no read
 * or write outside the file's view, and afterwards the file holds the new entry, with all of its
 * old bytes kept in order.
 */
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "fileops/reboot.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzMachine machine;
  static const std::string ini = [] {
    std::filesystem::create_directories(machine.HostC("WINDOWS"));
    WriteAll(machine.HostC("src.tmp"), "new");
    WriteAll(machine.HostC("dst.txt"), "old");
    return machine.HostC("WINDOWS/wininit.ini");
  }();
  std::string old(reinterpret_cast<const char*>(data), size);
  WriteAll(ini, old);

  if (!MoveFileOnReboot9x("C:\\src.tmp", "C:\\dst.txt")) __builtin_trap();
  std::string text = ReadAll(ini);
  if (text.find("C:\\DST.TXT=C:\\SRC.TMP\r\n") == std::string::npos &&
      text.find("C:\\dst.txt=C:\\src.tmp\r\n") == std::string::npos)
    __builtin_trap();                              // the entry is missing
  // Every old byte is still there, in order: the edit only inserts.
  size_t at = 0;
  for (char c : old)
    if ((at = text.find(c, at) + 1) == 0) __builtin_trap();  // npos + 1: lost or moved
  return 0;
}
