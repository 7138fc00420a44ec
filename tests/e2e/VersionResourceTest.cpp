// The version resource of the real Teliox.exe, read by the system (Win32VersionResources:
// GetFileVersionInfoW and VerQueryValueW) and by the portable reader from the same bytes: every
// fixed field and every text agree, and the bytes are the committed fixture the native tests and
// the scenario runner rely on.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bridge/about/AboutDlg.h"
#include "bridge/about/VersionBlockReader.h"
#include "bridge/about/VersionResource.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32VersionResource.h"
#include "tests/e2e/PortTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string TelioxPath() { return e2e::ProgramFolder() + "\\..\\..\\bridge\\Teliox.exe"; }

// The block as the file holds it: the system's buffer begins with it, wLength bytes long.
Bytes RawBlock(const std::string& path) {
  const std::wstring file = win32::Utf8ToWide(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size < 2) return {};
  Bytes buffer(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, buffer.data())) return {};
  const std::size_t length = buffer[0] | buffer[1] << 8;
  if (length > buffer.size()) return {};
  buffer.resize(length);
  return buffer;
}

// Teliox.exe as the running program, read by the system or by the portable reader from the bytes
// the system read; the user's language is the system's either way.
class TelioxAsProgram final : public platform::VersionResources {
 public:
  TelioxAsProgram(win32::Win32VersionResources& system, bool portable) : system_(system), portable_(portable) {}
  std::string ModuleFileName(platform::ModuleHandle module) override {
    return module == platform::kProgramResources ? TelioxPath() : system_.ModuleFileName(module);
  }
  std::unique_ptr<platform::VersionBlock> Read(const std::string& path) override {
    if (!portable_) return system_.Read(path);
    Bytes block = RawBlock(path);
    if (block.empty()) return nullptr;
    return std::make_unique<bridge::VersionBlockReader>(std::move(block));
  }
  std::uint16_t UserDefaultLangId() override { return system_.UserDefaultLangId(); }

 private:
  win32::Win32VersionResources& system_;
  bool portable_;
};

TEST(VersionResource, TheSystemAndThePortableReaderReadTeliox_exeAlike) {
  win32::Win32VersionResources os;
  TelioxAsProgram system(os, false);
  TelioxAsProgram portable(os, true);
  bridge::CVersionResource bySystem(system);
  bridge::CVersionResource byParser(portable);
  ASSERT_TRUE(bySystem.ReadFromModule()) << TelioxPath();
  ASSERT_TRUE(byParser.ReadFromModule());

  EXPECT_EQ(0xFEEF04BDu, bySystem.Signature());
  EXPECT_EQ(bySystem.FixedInfo(), byParser.FixedInfo());
  for (std::size_t i = 0; i < bridge::kVersionTextCount; ++i) {
    const auto text = static_cast<bridge::VersionText>(i);
    EXPECT_EQ(bySystem.Text(text), byParser.Text(text)) << bridge::VersionTextName(text);
  }
  // Chinese texts arrive whole, whatever the system's code page.
  EXPECT_EQ("Teliox 話機橋接程式", bySystem.FileDescription());
  // The About box's numbers are the ones the version text states.
  EXPECT_EQ(bySystem.FileVersion(), bridge::CAboutDlg::SoftwareText(system).value_or("-"));
  EXPECT_EQ(bySystem.FileVersion(), bridge::CAboutDlg::SoftwareText(portable).value_or("-"));
}

TEST(VersionResource, TheSystemAndThePortableReaderAnswerTheSameQueries) {
  win32::Win32VersionResources system;
  const auto bySystem = system.Read(TelioxPath());
  ASSERT_NE(nullptr, bySystem);
  bridge::VersionBlockReader byParser(RawBlock(TelioxPath()));
  for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo", "\\NoSuchBlock"}) {
    EXPECT_EQ(bySystem->QueryBytes(path), byParser.QueryBytes(path)) << path;
  }
  for (std::size_t i = 0; i < bridge::kVersionTextCount; ++i) {
    const std::string path =
        std::string("\\StringFileInfo\\040404B0\\") + bridge::VersionTextName(static_cast<bridge::VersionText>(i));
    EXPECT_EQ(bySystem->QueryText(path), byParser.QueryText(path)) << path;
  }
  // Names compare without regard to case on both sides.
  EXPECT_EQ(bySystem->QueryText("\\stringfileinfo\\040404b0\\companyname"),
            byParser.QueryText("\\stringfileinfo\\040404b0\\companyname"));
  EXPECT_EQ(bySystem->QueryText("\\StringFileInfo\\040404B0\\NoSuchName"), std::nullopt);
  EXPECT_EQ(byParser.QueryText("\\StringFileInfo\\040404B0\\NoSuchName"), std::nullopt);
}

TEST(VersionResource, TheFileHoldsTheCommittedFixture) {
  std::ifstream file(std::string(TELIOX_SOURCE_DIR) + "/tests/bridge/fixtures/teliox-version.bin", std::ios::binary);
  const Bytes fixture{std::istreambuf_iterator<char>(file), {}};
  ASSERT_FALSE(fixture.empty());
  EXPECT_EQ(fixture, RawBlock(TelioxPath())) << "extract the fixture again: tests/bridge/fixtures/README.md";
}

TEST(VersionResource, AProgramWithoutVersionResourceReadsNothing) {
  win32::Win32VersionResources system;
  const std::string self = system.ModuleFileName(platform::kProgramResources);
  EXPECT_NE(std::string::npos, self.find("version_resource_tests.exe")) << self;
  bridge::CVersionResource version(system);
  EXPECT_FALSE(version.ReadFromModule());
  EXPECT_FALSE(version.ReadFromFile(e2e::ProgramFolder() + "\\no-such-file.exe"));
  EXPECT_EQ(std::nullopt, bridge::CAboutDlg::SoftwareText(system));
}

}  // namespace
