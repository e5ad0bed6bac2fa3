/* Security attributes with a null DACL, built through run-time looked-up ADVAPI32 functions. */
#include "support/open_access_security.h"

LPSECURITY_ATTRIBUTES CreateOpenAccessSecurity() {
  HMODULE advapi = LoadLibraryA("ADVAPI32.dll");
  if (!advapi) return nullptr;
  auto initialize = ProcAs<InitializeSecurityDescriptorFn>(
      GetProcAddress(advapi, "InitializeSecurityDescriptor"));
  auto setDacl =
      ProcAs<SetSecurityDescriptorDaclFn>(GetProcAddress(advapi, "SetSecurityDescriptorDacl"));
  LPSECURITY_ATTRIBUTES attributes = nullptr;
  if (initialize && setDacl)
    attributes = static_cast<LPSECURITY_ATTRIBUTES>(LocalAlloc(LPTR, sizeof(SECURITY_ATTRIBUTES)));
  if (attributes) {
    PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (descriptor && initialize(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        setDacl(descriptor, TRUE, nullptr, FALSE)) {
      attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
      attributes->lpSecurityDescriptor = descriptor;
      attributes->bInheritHandle = TRUE;
    } else if (descriptor) {
      // A half-built descriptor is worse than none: leave the record empty (default security).
      LocalFree(descriptor);
    }
  }
  FreeLibrary(advapi);
  return attributes;
}

void FreeOpenAccessSecurity(LPSECURITY_ATTRIBUTES attributes) {
  if (!attributes) return;
  if (attributes->lpSecurityDescriptor) LocalFree(attributes->lpSecurityDescriptor);
  LocalFree(attributes);
}
