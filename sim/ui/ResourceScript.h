// Resource scripts (.rc) read for the simulated user interface: the strings, menus, dialog
// templates, icon and bitmap ids and version information of a program or a language library,
// taken from the same sources the resource compiler builds into the real files.
//
// The subset understood: `#include "x.h"` (a header that may hold only
// `#define NAME number` lines, comments and include guards), `#include <...>` (ignored: the
// system names are built in), `#define NAME number`, `#pragma code_page(65001)`,
// `LANGUAGE a, b`; `NAME MENU` with POPUP, MENUITEM and MENUITEM SEPARATOR; STRINGTABLE;
// `NAME DIALOGEX x, y, w, h` (and DIALOG) with STYLE, EXSTYLE, CAPTION, FONT and the controls
// LTEXT RTEXT CTEXT PUSHBUTTON DEFPUSHBUTTON GROUPBOX CHECKBOX AUTOCHECKBOX RADIOBUTTON
// AUTORADIOBUTTON LISTBOX COMBOBOX EDITTEXT ICON CONTROL; `NAME ICON "file"`, `NAME BITMAP "file"`,
// `NAME VERSIONINFO`. Other resource types (`NAME TYPE "file"` or a BEGIN/END block) are skipped.
// Blocks take BEGIN/END or braces; keywords ignore case; styles are `|`-joined names or numbers
// with `NOT X` clearing bits, as the resource compiler reads them. Texts stay UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

struct MenuItem {
  std::string text;
  int id = 0;  // the command; 0 for pop-ups and separators
  bool popup = false;
  bool separator = false;
  bool grayed = false;  // GRAYED, INACTIVE or DISABLED
  bool checked = false;
  std::vector<MenuItem> items;  // a pop-up's items
};

struct MenuTemplate {
  int id = 0;
  std::vector<MenuItem> items;
};

enum class ControlKind { kButton, kCheck, kRadio, kStatic, kEdit, kCombo, kList, kListView, kSlider, kGroup };
// "button", "check", ... as snapshots print them.
const char* ControlKindName(ControlKind kind);

// Window styles the simulation reads.
inline constexpr std::uint32_t kWsVisible = 0x10000000;
inline constexpr std::uint32_t kWsDisabled = 0x08000000;
inline constexpr std::uint32_t kWsGroup = 0x00020000;

struct ControlTemplate {
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::string className;  // "Button", "Static", "msctls_trackbar32", ...
  std::string text;
  std::uint32_t style = 0;  // WS_CHILD | WS_VISIBLE and the keyword's defaults included
  std::uint32_t exStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;
  bool visible = true;
  bool disabled = false;
  bool defaultButton = false;  // DEFPUSHBUTTON or BS_DEFPUSHBUTTON
  bool autoButton = false;     // a check box or radio button that changes its own state when clicked
};

struct DialogTemplate {
  int id = 0;
  bool extended = true;  // DIALOGEX
  int x = 0, y = 0, width = 0, height = 0;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::string caption;
  int fontSize = 0;  // 0: no FONT line
  std::string fontName;
  bool visible = false;                   // WS_VISIBLE
  std::vector<ControlTemplate> controls;  // in template order
};

// A BLOCK or VALUE of a VERSIONINFO resource.
struct VersionEntry {
  std::string key;
  bool block = false;
  bool text = false;                   // a VALUE of quoted texts (joined), else one of numbers
  std::string value;                   // UTF-8
  std::vector<std::uint16_t> words;    // a VALUE's numbers, a word each
  std::vector<VersionEntry> children;  // a BLOCK's entries, in script order
};

struct VersionResource {
  std::array<std::uint16_t, 4> fileVersion{};
  std::array<std::uint16_t, 4> productVersion{};
  std::uint32_t fileFlagsMask = 0;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOS = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileSubtype = 0;
  std::vector<VersionEntry> blocks;                         // the top-level BLOCKs, in script order
  std::string stringBlock;                                  // the StringFileInfo block's name, e.g. "040404b0"
  std::vector<std::pair<std::string, std::string>> values;  // in script order
  std::optional<std::string> Value(std::string_view key) const;
};

struct ResourceScript {
  std::string fileName;
  std::optional<std::pair<int, int>> language;  // the first LANGUAGE statement
  std::map<int, std::string> strings;
  std::map<int, MenuTemplate> menus;
  std::map<int, DialogTemplate> dialogs;
  std::map<int, std::string> icons;    // id -> file
  std::map<int, std::string> bitmaps;  // id -> file
  std::optional<VersionResource> version;
  std::map<std::string, std::int64_t> symbols;  // every #define seen, the header's included
};

struct ResourceParseResult {
  std::shared_ptr<const ResourceScript> script;  // null on error
  std::string error;                             // "<file>:<line>: <message>"
  bool Ok() const { return script != nullptr; }
};

// Reads a file by path; nullopt when it cannot be read.
using IncludeReader = std::function<std::optional<std::string>(const std::string& path)>;

// `fileName` names the script in error messages. An `#include "x"` is looked for next to the
// script first, then in each of `includeDirs` (folder paths, with or without a trailing slash),
// as the resource compiler's -I does.
ResourceParseResult ParseResourceScript(std::string_view text, const std::string& fileName,
                                        const IncludeReader& readInclude,
                                        const std::vector<std::string>& includeDirs = {});
// Reads the script and its includes from disk.
ResourceParseResult LoadResourceScript(const std::string& path, const std::vector<std::string>& includeDirs = {});

}  // namespace sim
