// The registry port's answers, checked against every registry available: the in-memory hive must
// answer exactly as the real one does under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/unit/TestRegistries.h"

using namespace platform;

namespace {

class RegistryConformance : public ::testing::TestWithParam<TestRegistry> {
 protected:
  void SetUp() override {
    registry_ = GetParam().make();
    path_ = ScratchKeyPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
    GetParam().removeTree(*registry_, path_);
  }
  void TearDown() override { GetParam().removeTree(*registry_, path_); }

  RegKey CreateScratch(RegAccess access = RegAccess::All) {
    RegKey key = 0;
    EXPECT_EQ(kErrorSuccess, registry_->CreateKey(kHkeyCurrentUser, path_.c_str(), access, &key));
    return key;
  }
  void SetDword(RegKey key, const char* name, std::uint32_t value) {
    ASSERT_EQ(kErrorSuccess, registry_->SetValue(key, name, kRegDword, reinterpret_cast<std::uint8_t*>(&value), 4));
  }

  std::unique_ptr<Registry> registry_;
  std::string path_;
};

TEST_P(RegistryConformance, KeysAreCreatedWithTheirParentsAndOpenedOnlyWhenPresent) {
  RegKey key = 0;
  EXPECT_EQ(kErrorFileNotFound, registry_->OpenKey(kHkeyCurrentUser, path_.c_str(), RegAccess::Read, &key));
  const std::string deep = path_ + "\\A\\B";
  ASSERT_EQ(kErrorSuccess, registry_->CreateKey(kHkeyCurrentUser, deep.c_str(), RegAccess::All, &key));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(key));
  // Names are not case sensitive.
  std::string upper = path_ + "\\a\\b";
  EXPECT_EQ(kErrorSuccess, registry_->OpenKey(kHkeyCurrentUser, upper.c_str(), RegAccess::Read, &key));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(key));
  // A sub-key opens relative to an open key.
  RegKey parent = CreateScratch();
  RegKey child = 0;
  EXPECT_EQ(kErrorSuccess, registry_->OpenKey(parent, "A", RegAccess::All, &child));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(child));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(parent));
}

TEST_P(RegistryConformance, QueryReportsSizesAndBufferTooSmall) {
  RegKey key = CreateScratch();
  SetDword(key, "N", 0x11223344);
  std::uint32_t type = 0, size = 0;
  ASSERT_EQ(kErrorSuccess, registry_->QueryValue(key, "N", &type, nullptr, &size));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(4u, size);
  std::uint8_t small[2] = {};
  size = sizeof small;
  EXPECT_EQ(kErrorMoreData, registry_->QueryValue(key, "N", &type, small, &size));
  EXPECT_EQ(4u, size);
  std::uint8_t data[8] = {};
  size = sizeof data;
  ASSERT_EQ(kErrorSuccess, registry_->QueryValue(key, "n", &type, data, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0x44, data[0]);
  EXPECT_EQ(0x11, data[3]);
  EXPECT_EQ(kErrorFileNotFound, registry_->QueryValue(key, "missing", &type, data, &size));
  registry_->CloseKey(key);
}

TEST_P(RegistryConformance, StringsKeepTheirBytes) {
  RegKey key = CreateScratch();
  const char text[] = "Out: handset";
  ASSERT_EQ(kErrorSuccess,
            registry_->SetValue(key, "S", kRegSz, reinterpret_cast<const std::uint8_t*>(text), sizeof text));
  char buffer[64] = {};
  std::uint32_t type = 0, size = sizeof buffer;
  ASSERT_EQ(kErrorSuccess, registry_->QueryValue(key, "S", &type, reinterpret_cast<std::uint8_t*>(buffer), &size));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(sizeof text, size);
  EXPECT_STREQ(text, buffer);
  registry_->CloseKey(key);
}

TEST_P(RegistryConformance, ReadOnlyKeysRefuseWrites) {
  RegKey writable = CreateScratch();
  SetDword(writable, "N", 1);
  registry_->CloseKey(writable);
  RegKey key = 0;
  ASSERT_EQ(kErrorSuccess, registry_->OpenKey(kHkeyCurrentUser, path_.c_str(), RegAccess::Read, &key));
  std::uint32_t value = 2;
  EXPECT_EQ(kErrorAccessDenied, registry_->SetValue(key, "N", kRegDword, reinterpret_cast<std::uint8_t*>(&value), 4));
  EXPECT_EQ(kErrorAccessDenied, registry_->DeleteValue(key, "N"));
  std::uint32_t size = 4;
  EXPECT_EQ(kErrorSuccess, registry_->QueryValue(key, "N", nullptr, reinterpret_cast<std::uint8_t*>(&value), &size));
  EXPECT_EQ(1u, value);
  registry_->CloseKey(key);
}

TEST_P(RegistryConformance, DeleteRemovesOnlyTheNamedValue) {
  RegKey key = CreateScratch();
  SetDword(key, "Teliox", 10);
  SetDword(key, "Other", 20);
  EXPECT_EQ(kErrorSuccess, registry_->DeleteValue(key, "Teliox"));
  EXPECT_EQ(kErrorFileNotFound, registry_->DeleteValue(key, "Teliox"));
  std::uint32_t size = 0;
  EXPECT_EQ(kErrorFileNotFound, registry_->QueryValue(key, "Teliox", nullptr, nullptr, &size));
  EXPECT_EQ(kErrorSuccess, registry_->QueryValue(key, "Other", nullptr, nullptr, &size));
  registry_->CloseKey(key);
}

TEST_P(RegistryConformance, EnumerationHonoursBufferSizesAndEnds) {
  RegKey key = CreateScratch();
  SetDword(key, "Teliox", 1234);
  SetDword(key, "Another", 99);
  const std::uint8_t wide[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(kErrorSuccess, registry_->SetValue(key, "Wide", kRegBinary, wide, sizeof wide));

  std::set<std::string> names;
  std::uint32_t index = 0;
  int moreData = 0;
  for (;; ++index) {
    char name[512];
    std::uint32_t nameSize = sizeof name, type = 0, data = 0, dataSize = sizeof data;
    const auto status =
        registry_->EnumValue(key, index, name, &nameSize, &type, reinterpret_cast<std::uint8_t*>(&data), &dataSize);
    if (status == kErrorNoMoreItems) break;
    if (status == kErrorMoreData) {
      ++moreData;  // the 8-byte value does not fit a 4-byte buffer
      EXPECT_EQ(8u, dataSize);
      continue;
    }
    ASSERT_EQ(kErrorSuccess, status);
    EXPECT_EQ(kRegDword, type);
    EXPECT_EQ(std::strlen(name), nameSize);
    names.insert(name);
    ASSERT_LT(index, 10u);
  }
  EXPECT_EQ(3u, index);
  EXPECT_EQ(1, moreData);
  EXPECT_EQ((std::set<std::string>{"Another", "Teliox"}), names);

  // A name buffer without room for the terminator does not fit: "Teliox" and "Another" need 7
  // and 8 characters, "Wide" needs 5.
  int tooLong = 0;
  for (std::uint32_t i = 0; i < 3; ++i) {
    char shortName[6];
    std::uint32_t nameSize = sizeof shortName, dataSize = 16;
    std::uint8_t data[16];
    if (registry_->EnumValue(key, i, shortName, &nameSize, nullptr, data, &dataSize) == kErrorMoreData) ++tooLong;
  }
  EXPECT_EQ(2, tooLong);
  registry_->CloseKey(key);
}

std::string RegistryName(const ::testing::TestParamInfo<TestRegistry>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(All, RegistryConformance, ::testing::ValuesIn(TestRegistries()), RegistryName);

}  // namespace
