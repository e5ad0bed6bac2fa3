/* The registry: values of each type, sizes, access rights, keys, and two writers at once. */
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/test_machine.h"

namespace {

// A key of the test's own under HKEY_CURRENT_USER, removed afterwards (under Wine the
// registry is the prefix's real one).
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    path_ = "Software\\PondwickTests\\" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
  }
  void TearDown() override {
    for (const std::string& sub : subkeys_)
      RegDeleteKeyA(HKEY_CURRENT_USER, (path_ + "\\" + sub).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PondwickTests");
  }
  HKEY Create(REGSAM access, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, access, nullptr,
                              &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
  TestMachine machine;
  std::string path_;
  std::set<std::string> subkeys_;
};

}  // namespace

TEST_F(RegistryTest, ValuesOfEachTypeComeBackAsStored) {
  DWORD disposition = 0;
  HKEY key = Create(KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  const std::string sz("C:\\Program Files\\Pond \"wick\"", 29);
  const DWORD dword = 0x80070005;
  const std::string multi("one\0two\0\0", 9);
  const std::string binary("\x00\x01\xFF\n\r", 5);
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
  } cases[] = {{"Folder", REG_SZ, sz + '\0'},
               {"", REG_SZ, std::string("default", 8)},
               {"Code", REG_DWORD, std::string(reinterpret_cast<const char*>(&dword), 4)},
               {"List", REG_MULTI_SZ, multi},
               {"Bytes", REG_BINARY, binary},
               {"Empty", REG_BINARY, ""}};
  for (const Case& c : cases)
    ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                             (DWORD)c.data.size()),
              ERROR_SUCCESS)
        << c.name;
  RegCloseKey(key);

  HKEY read = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_QUERY_VALUE, &read),
            ERROR_SUCCESS);
  for (const Case& c : cases) {
    BYTE buffer[256];
    DWORD type = 0, size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(read, c.name, nullptr, &type, buffer, &size), ERROR_SUCCESS)
        << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), c.data) << c.name;
  }
  // Names without regard to case; sizes asked for without a buffer.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(read, "FOLDER", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sz.size() + 1);
  RegCloseKey(read);
}

TEST_F(RegistryTest, SmallBuffersMissingNamesAndAccessRights) {
  HKEY key = Create(KEY_SET_VALUE | KEY_QUERY_VALUE);
  const char version[] = "6.0.2900.2180";
  ASSERT_EQ(RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                           sizeof version),
            ERROR_SUCCESS);
  char small[4];
  DWORD size = sizeof small;
  EXPECT_EQ(
      RegQueryValueExA(key, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof version) << "the size needed";
  size = sizeof small;
  EXPECT_EQ(
      RegQueryValueExA(key, "Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "Version"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Version"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_QUERY_VALUE, &readOnly),
            ERROR_SUCCESS);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(readOnly, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);

  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (path_ + "\\Nowhere").c_str(), 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  DWORD disposition = 0;
  RegCloseKey(Create(KEY_READ, &disposition));
  EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
}

TEST_F(RegistryTest, KeysAreFoundWithoutRegardToCaseAndSubkeysKeepTheirParent) {
  subkeys_ = {"Sub"};
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path_ + "\\Sub").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(sub);
  std::string upper = path_;
  for (char& c : upper) c = (char)toupper((unsigned char)c);
  HKEY found = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (upper + "\\SUB").c_str(), 0, KEY_READ, &found),
            ERROR_SUCCESS);
  RegCloseKey(found);
  EXPECT_NE(RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str()), ERROR_SUCCESS)
      << "a key with a subkey stays";
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  const int kEach = 40;
  ChildProcess a, b;
  std::string args = " values " + path_ + " " + std::to_string(kEach);
  ASSERT_TRUE(a.Start("\"" + ChildProgram() + "\"" + args));
  ASSERT_TRUE(b.Start("\"" + ChildProgram() + "\"" + args));
  // This process writes too, meanwhile.
  HKEY key = Create(KEY_SET_VALUE | KEY_QUERY_VALUE);
  for (int i = 0; i < kEach; ++i) {
    DWORD v = (DWORD)i;
    std::string name = "parent-" + std::to_string(i);
    ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(a.Wait(), 0u);
  EXPECT_EQ(b.Wait(), 0u);
  int found = 0;
  for (const std::string& who :
       {std::string("parent"), std::to_string(a.Id()), std::to_string(b.Id())})
    for (int i = 0; i < kEach; ++i) {
      DWORD v = 0, size = 4;
      std::string name = who + "-" + std::to_string(i);
      if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v),
                           &size) == ERROR_SUCCESS &&
          v == (DWORD)i)
        ++found;
    }
  EXPECT_EQ(found, 3 * kEach);
  RegCloseKey(key);
}
