/* DecodeBlock (through UnpackSFX) over an arbitrary block in a setup file, and pwpack's own
 * reading of the same block. */
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "container/mapped_file.h"
#include "container/unpack.h"
#include "tests/fuzz/fuzz_machine.h"
#include "tools/pwpack/pack_writer.h"
#include "tools/pwpack/stream_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzMachine machine;
  static const std::string stub = pwpack::MinimalStub();
  // Dictionaries beyond 64 MiB only measure how much memory the machine has.
  if (size >= 5 &&
      (data[1] | (data[2] << 8) | (data[3] << 16) | ((uint32_t)data[4] << 24)) > (64u << 20))
    return 0;
  pwpack::CheckPackedBlock(data, (uint32_t)size, false);
  pwpack::CheckPackedBlock(data, (uint32_t)size, true);

  std::string setup, error, block(reinterpret_cast<const char*>(data), size);
  if (!pwpack::WriteSetup(stub, {{"pondwick", block, false}}, &setup, &error)) return 0;

  WriteAll(machine.HostC("setup.exe"), setup);
  MappedFile mapping;
  if (mapping.Open("C:\\setup.exe", GENERIC_READ, OPEN_EXISTING))
    UnpackSFX(mapping, "pondwick", machine.Out());
  mapping.Close();
  machine.Clear();
  return 0;
}
