/*
 * The maker's registry key, HKEY_CURRENT_USER "Software\Tarnwell Labs", through which the setup
 * and the configuration program hand the installation's choices to each other. A key that
 * could not be opened behaves as an empty one: writes and deletions do nothing, and every read
 * fails with the reason the key could not be opened, so that a report names the real cause.
 */
#ifndef SETUP_PRODUCT_KEY_H
#define SETUP_PRODUCT_KEY_H

#include "platform/win32.h"

class ProductKey {
 public:
  ProductKey() = default;
  ~ProductKey() { Close(); }
  ProductKey(const ProductKey&) = delete;
  ProductKey& operator=(const ProductKey&) = delete;

  // Creates the key when it is missing (non-volatile, no class, default security) and opens it
  // with full access; when that fails the key behaves as an empty one (above).
  void Open();
  // Closes the key if it is open.
  void Close();

  // Writes a REG_SZ value, terminator included.
  void SetString(const char* name, const char* value);
  void Delete(const char* name);

  // Reads a value of up to 4 bytes into *value, whatever its stored type; *value keeps what it
  // held when the read fails. ERROR_SUCCESS or the reason of the failure.
  LONG GetNumber(const char* name, DWORD* value);
  // Reads a string into buffer (capacity bytes, terminator included), whatever its stored type.
  // On failure buffer is empty; a value that does not fit with its terminator fails with
  // ERROR_MORE_DATA. ERROR_SUCCESS or the reason of the failure.
  LONG GetString(const char* name, char* buffer, DWORD capacity);

 private:
  HKEY key_ = nullptr;
  LONG openError_ = ERROR_INVALID_HANDLE;  // a read before any Open finds no key
};

#endif
