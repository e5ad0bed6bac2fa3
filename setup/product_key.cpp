/* The maker's registry key: the hand-over values between the setup and its configuration program.
 */
#include "setup/product_key.h"

#include <string.h>

#include "setup/product_names.h"

void ProductKey::Open() {
  if (key_) return;
  HKEY key = nullptr;
  openError_ = RegCreateKeyExA(HKEY_CURRENT_USER, names::kProductKey, 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (openError_ == ERROR_SUCCESS) key_ = key;
}

void ProductKey::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
  openError_ = ERROR_INVALID_HANDLE;  // a closed key is no longer open, whatever opened it
}

void ProductKey::SetString(const char* name, const char* value) {
  if (!key_) return;
  RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 (DWORD)strlen(value) + 1);
}

void ProductKey::Delete(const char* name) {
  if (key_) RegDeleteValueA(key_, name);
}

LONG ProductKey::GetNumber(const char* name, DWORD* value) {
  if (!key_) return openError_;
  // A failed read may leave anything in its buffer, so it reads into a copy.
  DWORD read = *value;
  DWORD size = sizeof read;
  LONG error =
      RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size);
  if (error == ERROR_SUCCESS) *value = read;
  return error;
}

LONG ProductKey::GetString(const char* name, char* buffer, DWORD capacity) {
  buffer[0] = '\0';
  if (!key_) return openError_;
  DWORD size = capacity;
  LONG error =
      RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (error == ERROR_SUCCESS && size == capacity && buffer[capacity - 1] != '\0')
    error = ERROR_MORE_DATA;  // no room left for the terminator
  if (error != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return error;
  }
  if (size < capacity) buffer[size] = '\0';
  return ERROR_SUCCESS;
}
