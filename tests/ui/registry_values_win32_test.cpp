// The dialog's registry values read back from the real registry (Windows build, under Wine):
// values written as the panel, the preview window or another program write them, of every
// size around the reader's buffer, and the presets path at the lengths a real folder has.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "ui/registry_values_win32.h"

namespace ov {
namespace {

// A key of its own, empty at the start of every test and removed after it.
constexpr const char* kTestKey = "SOFTWARE\\PelidornTests\\RegistryValues";

class RegistryValues : public ::testing::Test {
protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(key.OpenForReading(kTestKey));
  }
  void TearDown() override {
    key.Close();
    if (raw) RegCloseKey(raw);
    RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
  }
  void Put(const char* name, DWORD type, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(RegSetValueExA(raw, name, 0, type, bytes.empty() ? nullptr : bytes.data(), DWORD(bytes.size())),
              ERROR_SUCCESS);
  }
  // As the panel writes the presets path: its length + 1 bytes, the terminator included.
  void PutString(const char* name, const std::string& s) {
    ASSERT_EQ(RegSetValueExA(raw, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()), DWORD(s.size() + 1)),
              ERROR_SUCCESS);
  }
  HKEY raw = nullptr;
  pel::platform::RegistryKey key;
};

// A window value read into a variable that holds its default: an empty value leaves the
// default, a shorter one reads zero-extended, a longer one or none is not read.
TEST_F(RegistryValues, DwordsOfEverySizeAroundTheirBuffer) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<uint8_t> bytes;
    bool read;
    int32_t value;
  } cases[] = {
      {"0 bytes", REG_DWORD, {}, true, 400},
      {"0 bytes, binary", REG_BINARY, {}, true, 400},
      {"1 byte", REG_BINARY, {0x80}, true, 0x80},
      {"2 bytes", REG_BINARY, {0x34, 0x12}, true, 0x1234},
      {"4 bytes", REG_DWORD, {0xEC, 0xFF, 0xFF, 0xFF}, true, -20},
      {"4 bytes, binary", REG_BINARY, {0x2C, 0x01, 0, 0}, true, 300},
      {"5 bytes", REG_BINARY, {1, 0, 0, 0, 0}, false, 400},
      {"8 bytes", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false, 400},
  };
  for (const Case& c : cases) {
    Put(c.what, c.type, c.bytes);
    int32_t value = 400;  // the preview window's default width
    EXPECT_EQ(ui::ReadDword(key, c.what, value), c.read) << c.what;
    EXPECT_EQ(value, c.value) << c.what;
  }
  int32_t value = 400;
  EXPECT_FALSE(ui::ReadDword(key, "absent", value));
  EXPECT_EQ(value, 400);
}

// The live-preview byte starts at 1 (live): an empty value keeps it, one byte sets it, two
// bytes are not read.
TEST_F(RegistryValues, LivePreviewByte) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool read;
    uint8_t value;
  } cases[] = {
      {"empty", {}, true, 1},
      {"fixed", {0}, true, 0},
      {"five", {5}, true, 5},
      {"two bytes", {0, 0}, false, 1},
  };
  for (const Case& c : cases) {
    Put(c.what, REG_BINARY, c.bytes);
    uint8_t live = 1;
    EXPECT_EQ(ui::ReadByte(key, c.what, live), c.read) << c.what;
    EXPECT_EQ(live, c.value) << c.what;
  }
}

// The presets path is read whole up to 255 characters (256 bytes with its terminator), also
// when its UTF-16 form would not fit the buffer; a longer one is not read.
TEST_F(RegistryValues, PresetPathUpToItsBuffer) {
  for (size_t length : {size_t(0), size_t(1), size_t(127), size_t(128), size_t(200), size_t(255)}) {
    std::string path = "C:\\presets\\";
    path += std::string(length > path.size() ? length - path.size() : 0, 'p');
    path.resize(length);
    PutString("Preset Path", path);
    std::string read = "old";
    EXPECT_TRUE(ui::ReadPath(key, "Preset Path", read)) << length;
    EXPECT_EQ(read, path) << length;
  }
  for (size_t length : {size_t(256), size_t(300)}) {
    PutString("Preset Path", std::string(length, 'q'));
    std::string read = "old";
    EXPECT_FALSE(ui::ReadPath(key, "Preset Path", read)) << length;
    EXPECT_EQ(read, "old") << length;
  }
  // Stored without its terminator (as another program may): read up to its end.
  Put("Preset Path", REG_SZ, std::vector<uint8_t>(200, 'r'));
  std::string read;
  EXPECT_TRUE(ui::ReadPath(key, "Preset Path", read));
  EXPECT_EQ(read, std::string(200, 'r'));
}

// The raw read: one query into the caller's buffer; data that does not fit is refused, the
// rest comes back with its type and its own size.
TEST_F(RegistryValues, RawReadFitsOrFails) {
  Put("four", REG_BINARY, {1, 2, 3, 4});
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(key.Read("four", type, bytes, 8));
  EXPECT_EQ(type, uint32_t(REG_BINARY));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
  ASSERT_TRUE(key.Read("four", type, bytes, 4));
  EXPECT_EQ(bytes.size(), 4u);
  bytes = {9};
  EXPECT_FALSE(key.Read("four", type, bytes, 3));
  EXPECT_EQ(bytes, std::vector<uint8_t>{9});
  Put("none", REG_BINARY, {});
  ASSERT_TRUE(key.Read("none", type, bytes, 4));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(key.Read("absent", type, bytes, 4));
}

}  // namespace
}  // namespace ov
