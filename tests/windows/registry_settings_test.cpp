// The registry store: read the user's value, else the machine's; create and
// write under the user's hive; every failure said.
#include "app/win32/settings/registry_settings.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include <windows.h>

namespace stbup {
namespace {

class RegistrySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test of each process its own key: ctest runs them side by side.
    std::random_device seed;
    sub_key = "SOFTWARE\\stbup-test\\K" + std::to_string(::GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
              std::to_string(seed());
    path = "\\" + sub_key;
  }
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, sub_key.c_str());
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, sub_key.c_str());
  }
  // Puts a value straight into a hive, as an installer or an older version would.
  void Plant(HKEY hive, const std::string& name, const std::string& text, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(
        ::RegCreateKeyExA(hive, sub_key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(
        ::RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1)),
        ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  std::string UserValue(const std::string& name) {
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueA(HKEY_CURRENT_USER, sub_key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                       buffer, &size) != ERROR_SUCCESS) {
      return "<missing>";
    }
    return buffer;
  }

  std::string sub_key;
  std::string path;
  RegistrySettings settings;
};

TEST_F(RegistrySettingsTest, AMissingKeyOpensOnlyWhenCreatedAndThenUnderTheUser) {
  EXPECT_FALSE(settings.OpenKey(path, false));
  ASSERT_TRUE(settings.OpenKey(path, true));
  settings.WriteString("ComPort", "COM1");
  settings.CloseKey();
  EXPECT_EQ(UserValue("ComPort"), "COM1");
  HKEY machine = nullptr;
  EXPECT_NE(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub_key.c_str(), 0, KEY_READ, &machine),
            ERROR_SUCCESS);
}

TEST_F(RegistrySettingsTest, TheMachineValueIsTheDefaultAndTheUsersOwnWins) {
  Plant(HKEY_LOCAL_MACHINE, "FileName", "C:\\images\\box.bin");
  Plant(HKEY_LOCAL_MACHINE, "PortIndex", "2");
  ASSERT_TRUE(settings.OpenKey(path, false));  // opens on the machine's key alone
  EXPECT_EQ(settings.ReadString("FileName"), "C:\\images\\box.bin");
  EXPECT_EQ(settings.ReadString("ComPort"), "");  // missing anywhere: empty

  // Saving goes to the user's hive and is what is read from then on.
  settings.WriteString("PortIndex", "4");
  settings.CloseKey();
  EXPECT_EQ(UserValue("PortIndex"), "4");
  ASSERT_TRUE(settings.OpenKey(path, false));
  EXPECT_EQ(settings.ReadString("PortIndex"), "4");
  EXPECT_EQ(settings.ReadString("FileName"), "C:\\images\\box.bin");
}

TEST_F(RegistrySettingsTest, AValueThatIsNotTextIsRefusedByName) {
  Plant(HKEY_CURRENT_USER, "PortIndex", "abcd", REG_BINARY);
  ASSERT_TRUE(settings.OpenKey(path, false));
  try {
    settings.ReadString("PortIndex");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'PortIndex'");
  }
}

TEST_F(RegistrySettingsTest, WritingWithoutAnOpenKeyFailsAloud) {
  try {
    settings.WriteString("FileName", "x");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to set data for 'FileName'");
  }
}

}  // namespace
}  // namespace stbup
