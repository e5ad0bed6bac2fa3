/* The registry: values of each type, sizes, access rights, keys, and two writers at once. */

#include <tuple>

#include "tests/unit/platform/file_helpers.h"

namespace {

// A key of the test's own under HKEY_CURRENT_USER (under Wine the prefix's real one), then gone.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    path_ = "Software\\PondwickTests\\" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
  }
  void TearDown() override {
    for (const std::string& key : {path_ + "\\Sub", path_, std::string("Software\\PondwickTests")})
      RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  }
  HKEY Create(REGSAM access, DWORD* disposition = nullptr, const std::string& sub = "") {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path_ + sub).c_str(), 0, nullptr, 0, access,
                              nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
  LONG Open(const std::string& path, REGSAM access, HKEY* key) {
    return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, access, key);
  }
  static LONG Set(HKEY key, const char* name, DWORD type, const std::string& data) {
    return RegSetValueExA(key, name, 0, type, (const BYTE*)data.data(), (DWORD)data.size());
  }
  // RegQueryValueExA into `room` bytes; *data is that buffer cut or padded to the size answered.
  static LONG Query(HKEY key, const char* name, std::string* data, DWORD* type = nullptr,
                    DWORD room = 256) {
    data->assign(room, '\0');
    DWORD size = room;
    LONG result = RegQueryValueExA(key, name, nullptr, type, (BYTE*)&(*data)[0], &size);
    data->resize(size);
    return result;
  }
  TestMachine machine;
  std::string path_;
};

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

}  // namespace

TEST_F(RegistryTest, ValuesOfEachTypeSizesKeysAndThreeWriters) {
  DWORD disposition = 0;
  HKEY key = Create(KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  const std::string sz = std::string("C:\\Program Files\\Pond \"wick\"", 29) + '\0';
  const std::tuple<const char*, DWORD, std::string> cases[] = {
      {"Folder", REG_SZ, sz},
      {"", REG_SZ, std::string("default", 8)},
      {"Code", REG_DWORD, Dword(0x80070005)},
      {"List", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
      {"Bytes", REG_BINARY, std::string("\x00\x01\xFF\n\r", 5)},
      {"Empty", REG_BINARY, ""}};
  for (const auto& [name, type, bytes] : cases)
    ASSERT_EQ(Set(key, name, type, bytes), ERROR_SUCCESS) << name;
  RegCloseKey(key);

  HKEY read = nullptr;
  ASSERT_EQ(Open(path_, KEY_QUERY_VALUE, &read), ERROR_SUCCESS);
  std::string data;
  for (const auto& [name, type, bytes] : cases) {
    DWORD got = 0;
    ASSERT_EQ(Query(read, name, &data, &got), ERROR_SUCCESS) << name;
    EXPECT_EQ(got, type) << name;
    EXPECT_EQ(data, bytes) << name;
  }
  // Names without regard to case; sizes asked for without a buffer or with too small a one.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(read, "FOLDER", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sz.size());
  EXPECT_EQ(Query(read, "Folder", &data, nullptr, 4), ERROR_MORE_DATA);
  EXPECT_EQ(data.size(), sz.size()) << "the size needed";
  EXPECT_EQ(Query(read, "Missing", &data, nullptr, 4), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Set(read, "x", REG_DWORD, Dword(1)), ERROR_ACCESS_DENIED) << "opened to read only";
  RegCloseKey(read);
  key = Create(KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegDeleteValueA(key, "Folder"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Folder"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  // Keys are found without regard to case, and a key with a subkey stays.
  HKEY found = nullptr;
  EXPECT_EQ(Open(path_ + "\\Sub", KEY_READ, &found), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Create(KEY_ALL_ACCESS, nullptr, "\\Sub"));
  std::string upper = path_;
  for (char& c : upper) c = (char)toupper((unsigned char)c);
  ASSERT_EQ(Open(upper + "\\SUB", KEY_READ, &found), ERROR_SUCCESS);
  RegCloseKey(found);
  EXPECT_NE(RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str()), ERROR_SUCCESS);

  // Two other processes and this one writing at once lose nothing.
  const int kEach = 40;
  ChildProcess a, b;
  std::string args = " values " + path_ + " " + std::to_string(kEach);
  ASSERT_TRUE(a.Start("\"" + ChildProgram() + "\"" + args));
  ASSERT_TRUE(b.Start("\"" + ChildProgram() + "\"" + args));
  key = Create(KEY_SET_VALUE | KEY_QUERY_VALUE);
  for (int i = 0; i < kEach; ++i)
    ASSERT_EQ(Set(key, ("parent-" + std::to_string(i)).c_str(), REG_DWORD, Dword(i)),
              ERROR_SUCCESS);
  EXPECT_EQ(a.Wait(), 0u);
  EXPECT_EQ(b.Wait(), 0u);
  int seen = 0;
  for (const std::string& who :
       {std::string("parent"), std::to_string(a.Id()), std::to_string(b.Id())})
    for (int i = 0; i < kEach; ++i)
      seen += Query(key, (who + "-" + std::to_string(i)).c_str(), &data) == ERROR_SUCCESS &&
              data == Dword(i);
  EXPECT_EQ(seen, 3 * kEach);
  RegCloseKey(key);
}
