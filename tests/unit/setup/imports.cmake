# Fails when the Windows program imports a function that old Windows lacks: those are looked up
# by name at run time, so that the program still starts where they are missing.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE table RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p ${PROGRAM} failed (${rc})")
endif()
if(NOT table MATCHES "DLL Name: (KERNEL32|kernel32)\\.dll")
  message(FATAL_ERROR "no import table read from ${PROGRAM}")
endif()
set(found "")
foreach(name MoveFileExA CheckTokenMembership OpenProcessToken LookupPrivilegeValueA
             AdjustTokenPrivileges InitializeSecurityDescriptor SetSecurityDescriptorDacl
             SetDefaultDllDirectories InitCommonControlsEx)
  if(table MATCHES "[ \t][0-9a-fA-F]+[ \t]+${name}[\r\n]")
    list(APPEND found ${name})
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "${PROGRAM} imports ${found}")
endif()

# Only the system's known DLLs, which Windows never looks for beside the program; anything else
# (comctl32 among them) is loaded by name at run time from System32.
string(REGEX MATCHALL "DLL Name: [^\r\n]+" dlls "${table}")
set(known KERNEL32.DLL USER32.DLL ADVAPI32.DLL GDI32.DLL MSVCRT.DLL)
foreach(line ${dlls})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOUPPER "${dll}" upper)
  list(FIND known "${upper}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not one of the system's known DLLs")
  endif()
endforeach()
message(STATUS "${PROGRAM} imports known DLLs only and no run-time looked-up function")
