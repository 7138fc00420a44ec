// The settings key class against every available registry: the same expectations hold for the
// in-memory hive and, under Wine, for the real registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/SettingsKey.h"
#include "sim/MemoryRegistry.h"
#include "tests/unit/TestRegistries.h"

using namespace platform;

namespace {

class SettingsKeyTest : public ::testing::TestWithParam<TestRegistry> {
 protected:
  void SetUp() override {
    registry_ = GetParam().make();
    path_ = ScratchKeyPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
    GetParam().removeTree(*registry_, path_);
  }
  void TearDown() override { GetParam().removeTree(*registry_, path_); }

  void SetRaw(const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
    RegKey key = 0;
    ASSERT_EQ(kErrorSuccess, registry_->CreateKey(kHkeyCurrentUser, path_.c_str(), RegAccess::All, &key));
    ASSERT_EQ(kErrorSuccess, registry_->SetValue(key, name, type, static_cast<const std::uint8_t*>(data), size));
    registry_->CloseKey(key);
  }

  std::unique_ptr<Registry> registry_;
  std::string path_;
};

TEST_P(SettingsKeyTest, DwordsReadBackAndMistypedValuesGiveTheDefault) {
  CSettingsKey key(*registry_);
  ASSERT_TRUE(key.Create(kHkeyCurrentUser, path_.c_str()));
  EXPECT_EQ(0, key.WriteDword("RINGTYPE", 3));
  EXPECT_EQ(3u, key.ReadDword("RINGTYPE", 0));
  EXPECT_EQ(1u, key.ReadDword("KEYTONE", 1));  // absent
  key.Close();

  SetRaw("RINGMODE", kRegSz, "2", 2);
  const std::uint8_t two[2] = {2, 0};
  SetRaw("SHORT", kRegBinary, two, sizeof two);
  const std::uint8_t eight[8] = {2, 0, 0, 0, 0, 0, 0, 0};
  SetRaw("LONG", kRegBinary, eight, sizeof eight);
  const std::uint8_t four[4] = {2, 0, 0, 0};
  SetRaw("BIN4", kRegBinary, four, sizeof four);

  ASSERT_TRUE(key.OpenRead(kHkeyCurrentUser, path_.c_str()));
  EXPECT_EQ(1u, key.ReadDword("RINGMODE", 1));
  EXPECT_EQ(7u, key.ReadDword("SHORT", 7));
  EXPECT_EQ(7u, key.ReadDword("LONG", 7));
  EXPECT_EQ(7u, key.ReadDword("BIN4", 7));  // four bytes, but not a DWORD
  EXPECT_EQ(3u, key.ReadDword("RINGTYPE", 0));
  // Opened for reading only: writes are refused and nothing changes.
  EXPECT_NE(0, key.WriteDword("RINGTYPE", 5));
  EXPECT_EQ(3u, key.ReadDword("RINGTYPE", 0));
}

TEST_P(SettingsKeyTest, FlagsAreZeroOneOrTheDefault) {
  const std::uint32_t zero = 0, seven = 7;
  SetRaw("ZERO", kRegDword, &zero, 4);
  SetRaw("SEVEN", kRegDword, &seven, 4);
  SetRaw("TEXT", kRegSz, "1", 2);
  CSettingsKey key(*registry_);
  ASSERT_TRUE(key.Open(kHkeyCurrentUser, path_.c_str()));
  EXPECT_EQ(0u, key.ReadFlag("ZERO", 5));
  EXPECT_EQ(1u, key.ReadFlag("SEVEN", 5));
  EXPECT_EQ(5u, key.ReadFlag("TEXT", 5));
  EXPECT_EQ(5u, key.ReadFlag("MISSING", 5));
}

TEST_P(SettingsKeyTest, StringsNeverOverrunAndAreAlwaysTerminated) {
  CSettingsKey key(*registry_);
  ASSERT_TRUE(key.Create(kHkeyCurrentUser, path_.c_str()));
  EXPECT_EQ(0, key.WriteString("DEFAULT_DEVICE_OUT", "Speakers (USB)"));
  SetRaw("BARE", kRegSz, "abcd", 4);  // no terminator stored
  const std::uint32_t number = 9;
  SetRaw("NUMBER", kRegDword, &number, 4);

  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(14, key.ReadString("DEFAULT_DEVICE_OUT", "def", buffer, sizeof buffer));
  EXPECT_STREQ("Speakers (USB)", buffer);

  // Longer than the buffer: the default, never a partial value.
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(3, key.ReadString("DEFAULT_DEVICE_OUT", "def", small, sizeof small));
  EXPECT_STREQ("def", small);

  // Stored without a terminator: read and terminated when there is room for it...
  EXPECT_EQ(4, key.ReadString("BARE", "def", buffer, sizeof buffer));
  EXPECT_STREQ("abcd", buffer);
  // ...and taken as too long when there is not.
  char four[4];
  EXPECT_EQ(2, key.ReadString("BARE", "de", four, sizeof four));
  EXPECT_STREQ("de", four);

  // Other types and missing values give the default, cut to fit.
  EXPECT_EQ(7, key.ReadString("NUMBER", "Unknown", buffer, sizeof buffer));
  EXPECT_STREQ("Unknown", buffer);
  EXPECT_EQ(3, key.ReadString("MISSING", "Unknown", four, sizeof four));
  EXPECT_STREQ("Unk", four);
  EXPECT_EQ(0, key.ReadString("MISSING", nullptr, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);

  // No room at all: nothing is written.
  buffer[0] = 'x';
  EXPECT_EQ(0, key.ReadString("DEFAULT_DEVICE_OUT", "def", buffer, 0));
  EXPECT_EQ(0, key.ReadString("DEFAULT_DEVICE_OUT", "def", buffer, -5));
  EXPECT_EQ('x', buffer[0]);
  EXPECT_EQ(0, key.ReadString("DEFAULT_DEVICE_OUT", "def", buffer, 1));
  EXPECT_EQ('\0', buffer[0]);
}

TEST_P(SettingsKeyTest, DeleteAndClosedKeys) {
  CSettingsKey key(*registry_);
  EXPECT_EQ(4u, key.ReadDword("LANGUAGE", 4));  // nothing open yet
  EXPECT_NE(0, key.WriteDword("LANGUAGE", 1));
  EXPECT_FALSE(key.Open(kHkeyCurrentUser, path_.c_str()));  // not there yet
  ASSERT_TRUE(key.Create(kHkeyCurrentUser, path_.c_str()));
  EXPECT_EQ(0, key.WriteDword("Teliox", 42));
  EXPECT_EQ(0, key.DeleteValue("Teliox"));
  EXPECT_NE(0, key.DeleteValue("Teliox"));
  EXPECT_EQ(8u, key.ReadDword("Teliox", 8));
  EXPECT_TRUE(key.Close());
  EXPECT_TRUE(key.Close());
  EXPECT_EQ(8u, key.ReadDword("Teliox", 8));
}

TEST_P(SettingsKeyTest, NullPathMeansTheRootAndClosingLeavesItUsable) {
  {
    CSettingsKey root(*registry_);
    ASSERT_TRUE(root.Open(kHkeyCurrentUser, nullptr));
    EXPECT_TRUE(root.IsOpen());
    EXPECT_TRUE(root.Close());
  }
  CSettingsKey key(*registry_);
  ASSERT_TRUE(key.Create(kHkeyCurrentUser, path_.c_str()));
  EXPECT_EQ(0, key.WriteDword("LANGUAGE", 2));
  EXPECT_EQ(2u, key.ReadDword("LANGUAGE", 0));
}

std::string RegistryName(const ::testing::TestParamInfo<TestRegistry>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(All, SettingsKeyTest, ::testing::ValuesIn(TestRegistries()), RegistryName);

// Checks that need to see every call the key class makes.
class CountingRegistry : public sim::MemoryRegistry {
 public:
  std::int32_t CloseKey(RegKey key) override {
    if (IsPredefinedKey(key)) ++rootCloses;
    return MemoryRegistry::CloseKey(key);
  }
  int rootCloses = 0;
};

TEST(SettingsKeyHandles, RootsAreNeverClosedAndPathHandlesNeverLeak) {
  CountingRegistry registry;
  {
    CSettingsKey key(registry);
    ASSERT_TRUE(key.Open(kHkeyLocalMachine, nullptr));
    key.Close();
    ASSERT_TRUE(key.Create(kHkeyCurrentUser, "SOFTWARE\\VORLANE\\TELIOX\\Teliox"));
    ASSERT_TRUE(key.Create(kHkeyCurrentUser, "SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER"));  // closes the first
    EXPECT_EQ(1u, registry.OpenHandleCount());
    ASSERT_TRUE(key.OpenRead(kHkeyCurrentUser, nullptr));
    EXPECT_EQ(0u, registry.OpenHandleCount());
    ASSERT_TRUE(key.Open(kHkeyCurrentUser, "SOFTWARE\\VORLANE\\TELIOX\\Teliox"));
  }  // the destructor closes
  EXPECT_EQ(0u, registry.OpenHandleCount());
  EXPECT_EQ(0, registry.rootCloses);
}

TEST(SettingsKeyHandles, PathIsKeptUpTo259Characters) {
  sim::MemoryRegistry registry;
  CSettingsKey key(registry);
  const std::string longPath = "SOFTWARE\\" + std::string(300, 'k');
  key.Create(kHkeyCurrentUser, longPath.c_str());
  EXPECT_EQ(longPath.substr(0, 259), key.Path());
}

TEST(SettingsKeyHandles, UnwritableRegistryGivesDefaultsAndSkipsWrites) {
  sim::MemoryRegistry registry;
  registry.SetReadOnly(true);
  CSettingsKey key(registry);
  EXPECT_FALSE(key.Create(kHkeyCurrentUser, "SOFTWARE\\VORLANE\\TELIOX\\Teliox"));
  EXPECT_EQ(0u, key.ReadDword("LANGUAGE", 0));
  EXPECT_NE(0, key.WriteDword("LANGUAGE", 2));
  EXPECT_FALSE(registry.KeyExists("HKCU\\SOFTWARE\\VORLANE\\TELIOX\\Teliox"));
}

}  // namespace
