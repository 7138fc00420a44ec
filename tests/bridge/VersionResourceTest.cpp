// The version resource reader and the About box's texts, on the block the resource compiler built
// into Teliox.exe (fixtures/teliox-version.bin) and on blocks made from small scripts, whole and
// damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/about/AboutDlg.h"
#include "bridge/about/VersionBlockReader.h"
#include "bridge/about/VersionResource.h"
#include "sim/programs/SimVersionResource.h"
#include "sim/ui/ResourceScript.h"

namespace bridge {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSourceDir = TELIOX_SOURCE_DIR;

Bytes ReadFixture() {
  std::ifstream file(kSourceDir + "/tests/bridge/fixtures/teliox-version.bin", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// Files with version blocks; the running program is "Teliox.exe".
class BlockFiles final : public platform::VersionResources {
 public:
  std::map<std::string, Bytes> files;
  std::uint16_t language = 0x0409;

  std::string ModuleFileName(platform::ModuleHandle module) override {
    return module == platform::kProgramResources ? "Teliox.exe" : "";
  }
  std::unique_ptr<platform::VersionBlock> Read(const std::string& path) override {
    const auto it = files.find(path);
    if (it == files.end()) return nullptr;
    return std::make_unique<VersionBlockReader>(it->second);
  }
  std::uint16_t UserDefaultLangId() override { return language; }
};

Bytes Compile(const std::string& script) {
  const auto parsed = sim::ParseResourceScript(script, "x.rc", [](const std::string&) { return std::nullopt; });
  EXPECT_TRUE(parsed.Ok()) << parsed.error;
  if (!parsed.Ok() || !parsed.script->version) return {};
  return sim::CompileVersionInfo(*parsed.script->version);
}

// A script with FILEVERSION `version`, one string table per translation entry (its CompanyName
// says which), and `translation` as the list, e.g. "0x409, 1200, 0x404, 950".
std::string Script(const std::vector<std::string>& tables, const std::string& translation,
                   const std::string& version = "1,2,3,4") {
  std::string script = "1 VERSIONINFO\nFILEVERSION " + version + "\nPRODUCTVERSION 5,6,7,8\nBEGIN\n";
  script += "BLOCK \"StringFileInfo\"\nBEGIN\n";
  for (const auto& table : tables) {
    script += "BLOCK \"" + table + "\"\nBEGIN\nVALUE \"CompanyName\", \"table " + table +
              "\"\nVALUE \"FileVersion\", \"text\"\nEND\n";
  }
  script += "END\n";
  if (!translation.empty()) {
    script += "BLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Translation\", " + translation + "\nEND\n";
  }
  return script + "END\n";
}

// Where the node with this key starts: its header is right before the key's UTF-16 units.
std::size_t NodeOffset(const Bytes& block, const std::string& key) {
  Bytes units;
  for (const char c : key) {
    units.push_back(static_cast<std::uint8_t>(c));
    units.push_back(0);
  }
  units.push_back(0);
  units.push_back(0);
  const auto it = std::search(block.begin(), block.end(), units.begin(), units.end());
  EXPECT_NE(it, block.end()) << key;
  return static_cast<std::size_t>(it - block.begin()) - 6;
}

void SetWord(Bytes& block, std::size_t offset, std::uint16_t value) {
  block[offset] = static_cast<std::uint8_t>(value & 0xFF);
  block[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t WordAt(const Bytes& block, std::size_t offset) {
  return static_cast<std::uint16_t>(block[offset] | block[offset + 1] << 8);
}

TEST(VersionResource, ReadsTheProgramsOwnBlockAsTheResourceCompilerBuiltIt) {
  BlockFiles files;
  files.files["Teliox.exe"] = ReadFixture();
  ASSERT_FALSE(files.files["Teliox.exe"].empty());
  CVersionResource version(files);
  ASSERT_TRUE(version.ReadFromModule());

  FixedFileInfo fixed;
  fixed.signature = 0xFEEF04BD;
  fixed.structVersion = 0x00010000;
  fixed.fileVersionMS = 0x00010001;
  fixed.fileVersionLS = 0x00000004;
  fixed.productVersionMS = 0x00010001;
  fixed.fileFlagsMask = 0x3F;
  fixed.fileOS = 0x40004;
  fixed.fileType = 1;
  EXPECT_EQ(fixed, version.FixedInfo());
  EXPECT_EQ(1, version.FileVersionPart(3));
  EXPECT_EQ(1, version.FileVersionPart(2));
  EXPECT_EQ(0, version.FileVersionPart(1));
  EXPECT_EQ(4, version.FileVersionPart(0));
  EXPECT_EQ(0, version.FileVersionPart(4));
  EXPECT_EQ(0, version.FileVersionPart(-1));

  // The program's one translation is Traditional Chinese; an English user gets it as the first.
  EXPECT_EQ("Vorlane", version.CompanyName());
  EXPECT_EQ("Teliox 話機橋接程式", version.FileDescription());
  EXPECT_EQ("1.1.0.4", version.FileVersion());
  EXPECT_EQ("Teliox", version.InternalName());
  EXPECT_EQ("Copyright (C) 2026 Vorlane", version.LegalCopyright());
  EXPECT_EQ("Teliox.exe", version.OriginalFileName());
  EXPECT_EQ("Teliox", version.ProductName());
  EXPECT_EQ("1.1", version.ProductVersion());
  EXPECT_EQ("USB 話機與 Tarvo 軟體電話之間的橋接", version.Comments());
  EXPECT_EQ("Teliox is a trademark of Vorlane", version.LegalTrademarks());
  EXPECT_EQ("", version.PrivateBuild());
  EXPECT_EQ("", version.SpecialBuild());

  EXPECT_EQ(std::optional<std::string>("1.1.0.4"), CAboutDlg::SoftwareText(files));
}

// The scenario runner gives the simulated program the block compiled from the same script; it must
// be the resource compiler's, byte for byte. (After a change of the script's VERSIONINFO, extract
// the fixture again: fixtures/README.md.)
TEST(VersionResource, TheSimulationCompilesTheProgramsScriptToTheSameBytes) {
  const auto script = sim::LoadResourceScript(kSourceDir + "/resources/bridge/bridge.rc");
  ASSERT_TRUE(script.Ok()) << script.error;
  ASSERT_TRUE(script.script->version.has_value());
  EXPECT_EQ(ReadFixture(), sim::CompileVersionInfo(*script.script->version));
}

// What the simulation could not lay out as the resource compiler does is refused, not guessed.
TEST(VersionResource, TheSimulationRefusesValuesItCannotCompileAlike) {
  const auto parse = [](const std::string& value) {
    return sim::ParseResourceScript("1 VERSIONINFO\nBEGIN\nVALUE \"X\", " + value + "\nEND\n", "x.rc",
                                    [](const std::string&) { return std::nullopt; })
        .error;
  };
  EXPECT_EQ("x.rc:3: a VALUE mixes texts and numbers", parse("\"a\", 1"));
  EXPECT_EQ("x.rc:3: version value out of range", parse("0x10000"));
  EXPECT_EQ("", parse("0xFFFF, 0"));
}

TEST(VersionResource, ChoosesTheTranslationThatSuitsTheUsersLanguage) {
  struct Case {
    std::vector<std::string> tables;
    std::string translation;
    std::uint16_t user;
    std::string chosen;
  };
  const Case cases[] = {
      // Only English, for a Traditional Chinese user.
      {{"040904B0"}, "0x409, 1200", 0x0404, "040904B0"},
      // The whole id first, even after an entry of the same primary language.
      {{"080404B0", "040404B0"}, "0x804, 1200, 0x404, 1200", 0x0404, "040404B0"},
      // Then the primary language (the low byte): Hong Kong Chinese for a Taiwanese user.
      {{"040904B0", "0C0404B0"}, "0x409, 1200, 0xC04, 1200", 0x0404, "0C0404B0"},
      // Then neutral before English.
      {{"040904B0", "000004B0"}, "0x409, 1200, 0, 1200", 0x0411, "000004B0"},
      // Then the first English entry.
      {{"040704B0", "080904B0", "040904B0"}, "0x407, 1200, 0x809, 1200, 0x409, 1200", 0x0411, "080904B0"},
      // Then the first entry.
      {{"040C04B0", "040704B0"}, "0x40C, 1200, 0x407, 1200", 0x0411, "040C04B0"},
      // The code page is part of the table's name.
      {{"040404B0", "040403B6"}, "0x404, 950", 0x0404, "040403B6"},
  };
  for (const auto& c : cases) {
    BlockFiles files;
    files.language = c.user;
    files.files["Teliox.exe"] = Compile(Script(c.tables, c.translation));
    CVersionResource version(files);
    ASSERT_TRUE(version.ReadFromModule()) << c.translation;
    EXPECT_EQ("table " + c.chosen, version.CompanyName()) << c.translation << " for " << c.user;
    EXPECT_EQ("text", version.FileVersion());
  }
}

TEST(VersionResource, WithoutAUsableTranslationOnlyTheFixedInformationIsRead) {
  for (const auto& translation : {std::string(), std::string("0x407, 1200")}) {
    BlockFiles files;
    files.files["Teliox.exe"] = Compile(Script({"040904B0"}, translation));
    CVersionResource version(files);
    EXPECT_TRUE(version.ReadFromModule());
    EXPECT_EQ(0x00030004u, version.FixedInfo().fileVersionLS);
    EXPECT_EQ(6, version.ProductVersionPart(2));
    EXPECT_EQ(7, version.ProductVersionPart(1));
    EXPECT_EQ("", version.CompanyName()) << translation;
  }
}

TEST(VersionResource, AFailedReadLeavesNothingOfAnEarlierOne) {
  BlockFiles files;
  files.files["Teliox.exe"] = ReadFixture();
  CVersionResource version(files);
  ASSERT_TRUE(version.ReadFromFile("Teliox.exe"));
  EXPECT_FALSE(version.ReadFromFile("Other.exe"));
  EXPECT_EQ(FixedFileInfo{}, version.FixedInfo());
  EXPECT_EQ("", version.CompanyName());
  // A module without a file name reads nothing either.
  EXPECT_FALSE(version.ReadFromModule(0x10000));
  BlockFiles none;
  EXPECT_EQ(std::nullopt, CAboutDlg::SoftwareText(none));
}

TEST(VersionResource, TheFileDateIsTheHighAndLowHalvesTogether) {
  Bytes block = ReadFixture();
  ASSERT_GE(block.size(), 0x5Cu);
  // The fixed record starts at 0x28; its last two fields are the date's high and low halves.
  const std::uint8_t date[] = {0x2A, 0x91, 0xD5, 0x01, 0x00, 0x80, 0x3E, 0xD5};
  std::memcpy(block.data() + 0x28 + 44, date, sizeof date);
  BlockFiles files;
  files.files["Teliox.exe"] = block;
  CVersionResource version(files);
  ASSERT_TRUE(version.ReadFromModule());
  EXPECT_EQ(0x01D5912AD53E8000u, version.FileDate());
}

TEST(VersionBlockReader, KeysCompareWithoutRegardToCaseAndPathsMayEndInABackslash) {
  VersionBlockReader block(ReadFixture());
  EXPECT_EQ("Vorlane", block.QueryText("\\stringfileinfo\\040404b0\\COMPANYNAME").value_or("-"));
  EXPECT_EQ("Teliox.exe", block.QueryText("\\StringFileInfo\\040404B0\\OriginalFilename").value_or("-"));
  EXPECT_EQ(52u, block.QueryBytes("\\").value_or(Bytes{}).size());
  EXPECT_EQ((Bytes{0x04, 0x04, 0xB0, 0x04}), block.QueryBytes("\\VarFileInfo\\Translation\\").value_or(Bytes{}));
  EXPECT_FALSE(block.QueryText("\\StringFileInfo\\040404B0\\Company").has_value());
  EXPECT_FALSE(block.QueryText("\\StringFileInfo\\040904B0\\CompanyName").has_value());
}

TEST(VersionBlockReader, ATruncatedBlockAnswersNothingAndIsNeverReadPastItsEnd) {
  const Bytes whole = ReadFixture();
  for (std::size_t size = 0; size < whole.size(); ++size) {
    VersionBlockReader block(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_FALSE(block.QueryBytes("\\").has_value()) << size;
    EXPECT_FALSE(block.QueryText("\\StringFileInfo\\040404B0\\SpecialBuild").has_value()) << size;
  }
  // The system hands out a buffer larger than the block: what follows it is not read.
  Bytes larger = whole;
  larger.resize(whole.size() + 100, 0xCC);
  EXPECT_EQ("", VersionBlockReader(larger).QueryText("\\StringFileInfo\\040404B0\\SpecialBuild").value_or("-"));
}

TEST(VersionBlockReader, ANodeThatRunsPastItsParentEndsTheSearchThereOnly) {
  for (const std::uint16_t length : {std::uint16_t{0}, std::uint16_t{3}, std::uint16_t{0xFFFF}}) {
    Bytes bytes = ReadFixture();
    SetWord(bytes, NodeOffset(bytes, "FileVersion"), length);
    VersionBlockReader block(bytes);
    EXPECT_EQ("Vorlane", block.QueryText("\\StringFileInfo\\040404B0\\CompanyName").value_or("-")) << length;
    EXPECT_FALSE(block.QueryText("\\StringFileInfo\\040404B0\\FileVersion").has_value()) << length;
    EXPECT_FALSE(block.QueryText("\\StringFileInfo\\040404B0\\ProductName").has_value()) << length;
    // The translation list is the next block's, which the string table does not reach.
    EXPECT_TRUE(block.QueryBytes("\\VarFileInfo\\Translation").has_value()) << length;
  }
}

TEST(VersionBlockReader, KeysWithoutTerminatorAndBinaryValuesPastTheirNodeAreNotThere) {
  Bytes bytes = ReadFixture();
  // InternalName's node cut to four characters of its key.
  SetWord(bytes, NodeOffset(bytes, "InternalName"), 6 + 8);
  // The translation list claims more bytes than its node holds.
  SetWord(bytes, NodeOffset(bytes, "Translation") + 2, 0x100);
  VersionBlockReader block(bytes);
  EXPECT_FALSE(block.QueryText("\\StringFileInfo\\040404B0\\InternalName").has_value());
  EXPECT_FALSE(block.QueryBytes("\\VarFileInfo\\Translation").has_value());

  BlockFiles files;
  files.files["Teliox.exe"] = bytes;
  CVersionResource version(files);
  EXPECT_TRUE(version.ReadFromModule());
  EXPECT_EQ(4, version.FileVersionPart(0));
  EXPECT_EQ("", version.CompanyName()) << "no translation to read texts under";
}

TEST(VersionBlockReader, OddLengthsAndTextsCountedInBytesStillReadTheirText) {
  Bytes bytes = ReadFixture();
  const std::size_t company = NodeOffset(bytes, "CompanyName");
  const std::size_t description = NodeOffset(bytes, "FileDescription");
  // One byte short of its terminator: the next node still starts on the next 32-bit boundary.
  SetWord(bytes, company, static_cast<std::uint16_t>(WordAt(bytes, company) - 1));
  // Some compilers count a text's length in bytes, twice what the node holds.
  SetWord(bytes, description + 2, static_cast<std::uint16_t>(WordAt(bytes, description + 2) * 2));
  VersionBlockReader block(bytes);
  EXPECT_EQ("Vorlane", block.QueryText("\\StringFileInfo\\040404B0\\CompanyName").value_or("-"));
  EXPECT_EQ("Teliox 話機橋接程式", block.QueryText("\\StringFileInfo\\040404B0\\FileDescription").value_or("-"));
  EXPECT_EQ("1.1.0.4", block.QueryText("\\StringFileInfo\\040404B0\\FileVersion").value_or("-"));
}

TEST(VersionBlockReader, TextsReadAsUtf8WithBrokenSurrogatesReplaced) {
  const std::uint8_t units[] = {0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 0x42, 0x00, 0x00, 0x00, 0x43, 0x00};
  EXPECT_EQ(
      "A\xF0\x9F\x98\x80\xEF\xBF\xBD"
      "B",
      Utf16LeToUtf8(units, sizeof units));
  EXPECT_EQ("A", Utf16LeToUtf8(units, 3)) << "half a unit at the end is not read";
}

TEST(AboutBox, ShowsTheFirmwareBytesAsTwoDigitsEach) {
  struct Case {
    CAboutDlg::Firmware firmware;
    const char* text;
  };
  const Case cases[] = {
      {{true, 9, 99}, "0.9.9.9"},    {{true, 10, 0}, "1.0.0.0"},  {{true, 12, 5}, "1.2.0.5"},
      {{true, 99, 99}, "9.9.9.9"},   {{true, 100, 1}, "0.1.1.1"}, {{true, 1, 100}, "0.1.1.1"},
      {{true, 255, 255}, "0.1.1.1"}, {{false, 9, 99}, "x.x.x.x"}, {{false, 255, 255}, "x.x.x.x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, CAboutDlg::FirmwareText(c.firmware))
        << int{c.firmware.handsetOpen} << " " << int{c.firmware.major} << " " << int{c.firmware.minor};
  }
}

TEST(AboutBox, TheSoftwareVersionReadsFromTheHighestPartDown) {
  BlockFiles files;
  files.files["Teliox.exe"] = Compile(Script({"040904B0"}, "0x409, 1200", "1, 3, 0, 65535"));
  EXPECT_EQ(std::optional<std::string>("1.3.0.65535"), CAboutDlg::SoftwareText(files));
}

}  // namespace
}  // namespace bridge
