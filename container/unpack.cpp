/* UnpackSFX and SaveSFX: a named block out of the container, into files. */
#include "container/unpack.h"

#include "container/block_chain.h"
#include "container/failure.h"
#include "support/log.h"
#include "support/report.h"

HRESULT UnpackSFX(const MappedFile& mapping, const char* name, const char* folder) {
  BlockReader reader(mapping);
  WriteLog("UnpackSFX() ", name, 0);
  if (FAILED(reader.Open(name))) {
    WriteLog("Err open ", name, 0);
    return E_FAIL;
  }
  HRESULT result = DecodeBlock(reader, folder);
  if (result < 0) {
    ReportError("Err unpack to", folder, result);
    return result;
  }
  WriteLog(" ... Unpacked to", folder, 0);
  return S_OK;
}

HRESULT SaveSFX(const MappedFile& mapping, const char* name, const char* path, DWORD overwrite) {
  WriteLog("SaveSFX() ", name, 0);
  DWORD length = 0;
  const BYTE* data = FindSfxBlock(mapping.View(), mapping.Size(), name, &length);
  if (!data) {
    WriteLog("Err open ", name, 0);
    return E_FAIL;
  }
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, overwrite ? CREATE_ALWAYS : CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    ReportError("Err save to ", path, (LONG)error);
    return FailureFromError(error);
  }
  DWORD written = 0;
  SetLastError(0);  // a short write must report its own code, not an older one
  BOOL ok = WriteFile(file, data, length, &written, nullptr);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok || written != length) {
    // A short copy would pass for the block later (affid.txt is moved into the product's
    // folder even though the save failed): it goes.
    DeleteFileA(path);
    ReportError("Err write ", path, (LONG)error);
    return FailureFromError(error);
  }
  WriteLog(" ... saved to ", path, 0);
  return S_OK;
}
