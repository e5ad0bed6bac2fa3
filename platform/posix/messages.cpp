/*
 * FormatMessageA for system messages: the English texts of the error codes the setup reports,
 * worded exactly as Windows words them, for Win32 codes and for the HRESULTs that wrap them.
 */
#include <cstring>
#include <string>

#include "platform/posix/machine.h"

using winsim::detail::Fail;

namespace {

struct Message {
  DWORD id;
  const char* text;
};

const Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of "
     "the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {487, "Attempt to access invalid address."},
    {998, "Invalid access to memory location."},
    {1006,
     "The volume for a file has been externally altered so that the opened file is no "
     "longer valid."},
    {1223, "The operation was canceled by the user."},
    {1224,
     "The requested operation cannot be performed on a file with a user-mapped section "
     "open."},
    {1314, "A required privilege is not held by the client."},
    {1392, "The file or directory is corrupted and unreadable."},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
};

const char* TextOf(DWORD id) {
  for (const Message& m : kMessages)
    if (m.id == id) return m.text;
  // HRESULT_FROM_WIN32 codes read as the Win32 error they wrap.
  if ((id & 0xFFFF0000u) == 0x80070000u) {
    DWORD code = id & 0xFFFF;
    for (const Message& m : kMessages)
      if (m.id == code && code < 0x10000) return m.text;
  }
  return nullptr;
}

}  // namespace

extern "C" DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId,
                                       DWORD languageId, LPSTR buffer, DWORD size,
                                       va_list* arguments) {
  WINSIM_FAULT_POINT(0u, ERROR_ACCESS_DENIED);
  (void)source;
  (void)languageId;  // the machine speaks English only
  (void)arguments;   // none of the system texts here has inserts
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) ||
      (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)))
    return Fail(ERROR_INVALID_PARAMETER, 0u);
  if (!buffer) return Fail(ERROR_INVALID_PARAMETER, 0u);
  const char* text = TextOf(messageId);
  if (!text) return Fail(ERROR_MR_MID_NOT_FOUND, 0u);
  std::string message = std::string(text) + "\r\n";
  DWORD length = (DWORD)message.size();
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // size is then the least number of bytes to allocate
    size_t bytes = length + 1 > size ? length + 1 : size;
    char* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
    if (!block) return 0;
    std::memcpy(block, message.c_str(), length + 1);
    *reinterpret_cast<LPSTR*>(buffer) = block;
    return length;
  }
  if (length + 1 > size) return Fail(ERROR_INSUFFICIENT_BUFFER, 0u);
  std::memcpy(buffer, message.c_str(), length + 1);
  return length;
}
