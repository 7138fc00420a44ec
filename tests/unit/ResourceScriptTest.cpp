// Resource scripts as the simulated user interface reads them: the subset the programs' .rc
// files are written in, bad scripts refused with their file and line, and the programs' own
// scripts.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "sim/ui/ResourceScript.h"

using namespace sim;

namespace {

const std::string kSourceDir = TELIOX_SOURCE_DIR;
const std::string kFixtures = kSourceDir + "/tests/unit/fixtures/resources/";

std::optional<std::string> ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Parses `text` as "x.rc", with "resource.h" next to it holding `header`.
ResourceParseResult Parse(const std::string& text, const std::string& header = "#define ID_ONE 1\n") {
  return ParseResourceScript(text, "x.rc", [header](const std::string& path) -> std::optional<std::string> {
    if (path == "resource.h") return header;
    return std::nullopt;
  });
}

const ControlTemplate& ControlOf(const DialogTemplate& dialog, int id) {
  for (const auto& control : dialog.controls) {
    if (control.id == id) return control;
  }
  ADD_FAILURE() << "no control " << id;
  static const ControlTemplate none;
  return none;
}

TEST(ResourceScript, ReadsEveryKindOfResourceOfTheSubset) {
  const auto result = LoadResourceScript(kFixtures + "sample.rc");
  ASSERT_TRUE(result.Ok()) << result.error;
  const ResourceScript& script = *result.script;

  EXPECT_EQ(std::make_pair(0x09, 1), script.language.value_or(std::make_pair(0, 0)));
  EXPECT_EQ("app.ico", script.icons.at(128));
  EXPECT_EQ("status.bmp", script.bitmaps.at(162));
  EXPECT_EQ(0x8001, script.symbols.at("ID_RING"));

  // Strings, with the optional comma, doubled quotes, escapes and UTF-8.
  EXPECT_EQ("Online", script.strings.at(4));
  EXPECT_EQ("Offline", script.strings.at(5));
  EXPECT_EQ("Say \"hi\"\tto\\all\nnow", script.strings.at(6));
  EXPECT_EQ("Ünïcödé 連線", script.strings.at(0x10));

  // The menu: one pop-up holding a pop-up, a separator and items with their options.
  const auto& menu = script.menus.at(152);
  ASSERT_EQ(1u, menu.items.size());
  const MenuItem& tray = menu.items[0];
  EXPECT_TRUE(tray.popup);
  EXPECT_EQ("Tray", tray.text);
  ASSERT_EQ(4u, tray.items.size());
  EXPECT_TRUE(tray.items[0].popup);
  EXPECT_EQ("&Settings", tray.items[0].text);
  ASSERT_EQ(2u, tray.items[0].items.size());
  EXPECT_EQ(0x8001, tray.items[0].items[0].id);
  EXPECT_FALSE(tray.items[0].items[0].grayed);
  EXPECT_TRUE(tray.items[0].items[1].grayed);
  EXPECT_TRUE(tray.items[1].separator);
  EXPECT_TRUE(tray.items[2].checked);
  EXPECT_TRUE(tray.items[2].grayed);
  EXPECT_EQ("E&xit\tAlt+F4", tray.items[3].text);
  EXPECT_EQ(32777, tray.items[3].id);

  // The dialog: its frame, and every control with kind, text and resolved style.
  const DialogTemplate& dialog = script.dialogs.at(145);
  EXPECT_EQ("Settings \"A\"", dialog.caption);
  EXPECT_EQ(0x90C800C0u, dialog.style);
  EXPECT_EQ(0x80u, dialog.exStyle);
  EXPECT_TRUE(dialog.visible);
  EXPECT_EQ(9, dialog.fontSize);
  EXPECT_EQ("MS Shell Dlg", dialog.fontName);
  EXPECT_EQ(15u, dialog.controls.size());
  EXPECT_EQ(-1, dialog.controls[0].id);
  EXPECT_EQ(ControlKind::kStatic, dialog.controls[0].kind);

  const auto& right = ControlOf(dialog, 1001);
  EXPECT_FALSE(right.visible);
  EXPECT_EQ(0x40020002u, right.style);  // WS_CHILD | WS_GROUP | SS_RIGHT, WS_VISIBLE taken away
  EXPECT_TRUE(ControlOf(dialog, 1002).disabled);
  EXPECT_EQ(ControlKind::kButton, ControlOf(dialog, 1002).kind);
  EXPECT_TRUE(ControlOf(dialog, 1).defaultButton);
  EXPECT_EQ("OK", ControlOf(dialog, 1).text);
  EXPECT_EQ(ControlKind::kGroup, ControlOf(dialog, 1003).kind);
  EXPECT_EQ(ControlKind::kCheck, ControlOf(dialog, 1004).kind);
  EXPECT_TRUE(ControlOf(dialog, 1004).autoButton);
  EXPECT_EQ(ControlKind::kRadio, ControlOf(dialog, 1005).kind);
  EXPECT_NE(0u, ControlOf(dialog, 1005).style & kWsGroup);
  EXPECT_EQ(ControlKind::kRadio, ControlOf(dialog, 1006).kind);
  EXPECT_TRUE(ControlOf(dialog, 1006).autoButton);
  EXPECT_EQ(ControlKind::kCheck, ControlOf(dialog, 1007).kind);
  EXPECT_FALSE(ControlOf(dialog, 1007).autoButton);
  const auto& slider = ControlOf(dialog, 1010);
  EXPECT_EQ(ControlKind::kSlider, slider.kind);
  EXPECT_EQ(0x50010003u, slider.style);
  EXPECT_EQ(0x20000u, slider.exStyle);
  EXPECT_EQ(ControlKind::kListView, ControlOf(dialog, 1011).kind);
  EXPECT_EQ(ControlKind::kEdit, ControlOf(dialog, 1012).kind);
  EXPECT_FALSE(ControlOf(dialog, 1012).visible);
  EXPECT_EQ(ControlKind::kList, ControlOf(dialog, 1020).kind);
  EXPECT_EQ(0x50800003u, ControlOf(dialog, 1020).style);  // LBS_NOTIFY | WS_BORDER by default, LBS_SORT
  const auto& combo = ControlOf(dialog, 1021);
  EXPECT_EQ(ControlKind::kCombo, combo.kind);
  EXPECT_EQ(97, combo.y);
  EXPECT_EQ(ControlKind::kEdit, ControlOf(dialog, 1022).kind);

  ASSERT_TRUE(script.version.has_value());
  const VersionResource& version = *script.version;
  EXPECT_EQ((std::array<std::uint16_t, 4>{1, 2, 3, 4}), version.fileVersion);
  EXPECT_EQ((std::array<std::uint16_t, 4>{1, 2, 0, 0}), version.productVersion);
  EXPECT_EQ("040904b0", version.stringBlock);
  EXPECT_EQ("Vorlane", version.Value("CompanyName").value_or(""));
  EXPECT_EQ("1.2.3.4", version.Value("FileVersion").value_or(""));
  EXPECT_FALSE(version.Value("Translation").has_value());
}

TEST(ResourceScript, IncludesAreLookedForNextToTheScriptThenInTheIncludeFolders) {
  std::map<std::string, std::string> files = {{"lib/x.rc", "#include \"ids.h\"\nSTRINGTABLE { ID_A \"a\" }\n"},
                                              {"shared/ids.h", "#define ID_A 7\n"}};
  auto reader = [&](const std::string& path) -> std::optional<std::string> {
    const auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  auto result = ParseResourceScript(files["lib/x.rc"], "lib/x.rc", reader, {"shared"});
  ASSERT_TRUE(result.Ok()) << result.error;
  EXPECT_EQ("a", result.script->strings.at(7));

  files["lib/ids.h"] = "#define ID_A 8\n";  // the script's own folder comes first
  result = ParseResourceScript(files["lib/x.rc"], "lib/x.rc", reader, {"shared/"});
  ASSERT_TRUE(result.Ok()) << result.error;
  EXPECT_EQ("a", result.script->strings.at(8));

  result = ParseResourceScript(files["lib/x.rc"], "lib/x.rc", reader);
  EXPECT_TRUE(result.Ok());
  files.erase("lib/ids.h");
  result = ParseResourceScript(files["lib/x.rc"], "lib/x.rc", reader);
  EXPECT_EQ("lib/x.rc:1: cannot read \"ids.h\"", result.error);
}

TEST(ResourceScript, RefusesMalformedScriptsNamingFileAndLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"STRINGTABLE\nBEGIN\n  1, \"open\nEND\n", "x.rc:3: unterminated text"},
      {"1 MENU\nBEGIN\n  MENUITEM \"a\", ID_NOPE\nEND\n", "x.rc:3: unknown name \"ID_NOPE\""},
      {"1 DIALOGEX 0, 0, 1, 1\nBEGIN\n  CONTROL \"\", 5, \"Fancy\", 0, 0, 0, 1, 1\nEND\n",
       "x.rc:3: unknown control class \"Fancy\""},
      {"1 DIALOGEX 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\", 5, 0, 0\nEND\n", "x.rc:4: expected ',', found \"END\""},
      {"1 DIALOGEX 0, 0, 1, 1\nBEGIN\n  SPINNER 5, 0, 0, 1, 1\nEND\n", "x.rc:3: unknown control \"SPINNER\""},
      {"1 MENU\nBEGIN\n  POPUP \"a\"\n  BEGIN\n", "x.rc:5: expected MENUITEM, POPUP or END, found the end of the file"},
      {"/* never closed\n\n", "x.rc:1: unterminated comment"},
      {"STRINGTABLE { 1 \"a\"\n 1 \"b\" }", "x.rc:2: string 1 defined twice"},
      {"#include \"missing.h\"\n", "x.rc:1: cannot read \"missing.h\""},
      {"#if 1\n", "x.rc:1: unsupported directive \"#if 1\""},
      {"STRINGTABLE { 12abc \"a\" }", "x.rc:1: bad number \"12abc\""},
      {"STRINGTABLE { 0x1FFFFFFFF \"a\" }", "x.rc:1: bad number \"0x1FFFFFFFF\""},
      {"1 VERSIONINFO FILEVERSION 70000, 0, 0, 0\nBEGIN\nEND\n", "x.rc:1: version part out of range"},
      {"1 MENU\nBEGIN\n  MENUITEM \"a\" 1\nEND\n", "x.rc:3: expected ',', found 1"},
      {"STRINGTABLE\nBEGIN\n  1, \"a\" @\nEND\n", "x.rc:3: unexpected character '@'"},
      {"1 ICON\n", "x.rc:2: expected a quoted text, found the end of the file"},
      {"\"stray\"\n", "x.rc:1: expected a resource, found text \"stray\""},
  };
  for (const auto& c : cases) {
    const auto result = Parse(c.text);
    EXPECT_FALSE(result.Ok()) << c.text;
    EXPECT_EQ(c.error, result.error) << c.text;
  }
  // A header holds only #define lines; its own place is named.
  const auto header = Parse("#include \"resource.h\"\n", "#define A 1\nint a;\n");
  EXPECT_EQ("resource.h:2: only #define lines belong here", header.error);
  EXPECT_EQ("resource.h:1: bad #define \"#define B (C + 1)\"",
            Parse("#include \"resource.h\"\n", "#define B (C + 1)\n").error);
}

TEST(ResourceScript, SurvivesDeepNestingAndEveryTruncation) {
  std::string parens = "STRINGTABLE { ";
  for (int i = 0; i < 200; ++i) parens += "(";
  parens += "1";
  EXPECT_EQ("x.rc:1: expression nested too deeply", Parse(parens).error);

  std::string menu = "1 MENU\nBEGIN\n";
  for (int i = 0; i < 100; ++i) menu += "POPUP \"p\"\nBEGIN\n";
  EXPECT_NE(std::string::npos, Parse(menu).error.find("menu nested too deeply"));

  // Every prefix of a valid script either parses or is refused with a place: never a crash.
  const auto text = ReadText(kFixtures + "sample.rc");
  const auto header = ReadText(kFixtures + "resource.h");
  ASSERT_TRUE(text && header);
  for (std::size_t length = 0; length <= text->size(); ++length) {
    const auto result = Parse(text->substr(0, length), *header);
    if (!result.Ok()) {
      EXPECT_EQ(0u, result.error.find("x.rc:")) << result.error;
    }
  }
}

// The programs' own scripts, once they are there.
TEST(ResourceScript, TheBridgeAndItsEnglishLibraryParseWithTheSameIdentifiers) {
  const std::string bridgeDir = kSourceDir + "/resources/bridge/";
  const std::string builtinPath = bridgeDir + "bridge.rc";
  const std::string englishPath = kSourceDir + "/resources/lang/eng/T40ENG_VL.rc";
  if (!ReadText(builtinPath) || !ReadText(englishPath)) GTEST_SKIP() << "the bridge's resource scripts are not there";

  const auto builtin = LoadResourceScript(builtinPath);
  ASSERT_TRUE(builtin.Ok()) << builtin.error;
  const auto english = LoadResourceScript(englishPath, {bridgeDir});
  ASSERT_TRUE(english.Ok()) << english.error;

  // The tray menu, the main window and the version record the bridge relies on.
  EXPECT_TRUE(builtin.script->menus.count(152));
  EXPECT_TRUE(builtin.script->dialogs.count(102));
  EXPECT_TRUE(builtin.script->icons.count(148));
  ASSERT_TRUE(builtin.script->version.has_value());
  EXPECT_TRUE(builtin.script->version->Value("ProductName").has_value());

  // A language library carries every dialog with the same controls, and every menu command.
  for (const auto& [id, dialog] : builtin.script->dialogs) {
    const auto it = english.script->dialogs.find(id);
    ASSERT_NE(english.script->dialogs.end(), it) << "dialog " << id;
    std::multiset<int> ours, theirs;
    for (const auto& control : dialog.controls) ours.insert(control.id);
    for (const auto& control : it->second.controls) theirs.insert(control.id);
    ours.erase(-1);
    theirs.erase(-1);
    EXPECT_EQ(ours, theirs) << "dialog " << id;
  }
  std::function<void(const std::vector<MenuItem>&, std::set<int>&)> commands = [&](const auto& items, auto& out) {
    for (const auto& item : items) {
      if (item.popup) commands(item.items, out);
      if (!item.popup && !item.separator) out.insert(item.id);
    }
  };
  std::set<int> ourCommands, theirCommands;
  commands(builtin.script->menus.at(152).items, ourCommands);
  ASSERT_TRUE(english.script->menus.count(152));
  commands(english.script->menus.at(152).items, theirCommands);
  for (const int command : ourCommands) EXPECT_TRUE(theirCommands.count(command)) << "command " << command;
  for (const auto& [id, text] : builtin.script->strings)
    EXPECT_TRUE(english.script->strings.count(id)) << "string " << id;
}

}  // namespace
