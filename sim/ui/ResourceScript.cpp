#include "sim/ui/ResourceScript.h"

#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>

#include "sim/ui/ResourceLexer.h"

namespace sim {

namespace {

using rc::Failure;
using rc::IsIdentChar;
using rc::IsIdentStart;
using rc::ScanNumber;
using rc::Tok;
using rc::Token;
using rc::Upper;

constexpr std::uint32_t kWsChild = 0x40000000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kWsBorder = 0x00800000;
constexpr std::uint32_t kDefaultDialogStyle = 0x80880000;  // WS_POPUP | WS_BORDER | WS_SYSMENU
constexpr std::uint32_t kDsSetFont = 0x40;
constexpr int kMaxDepth = 32;

std::string DirectoryOf(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string Trim(std::string_view text) {
  std::size_t from = 0, to = text.size();
  while (from < to && std::isspace(static_cast<unsigned char>(text[from]))) ++from;
  while (to > from && std::isspace(static_cast<unsigned char>(text[to - 1]))) --to;
  return std::string(text.substr(from, to - from));
}

// "define NAME value": the name, and the value if there is one; a value may be a number,
// negative, or in parentheses.
bool ParseDefine(std::string_view body, std::string& name, std::optional<std::int64_t>& value) {
  std::size_t i = 0;
  while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i]))) ++i;
  const std::size_t from = i;
  if (i >= body.size() || !IsIdentStart(body[i])) return false;
  while (i < body.size() && IsIdentChar(body[i])) ++i;
  name = std::string(body.substr(from, i - from));
  std::string rest = Trim(body.substr(i));
  value.reset();
  if (rest.empty()) return true;
  if (rest.size() >= 2 && rest.front() == '(' && rest.back() == ')') rest = Trim(rest.substr(1, rest.size() - 2));
  bool negative = false;
  if (!rest.empty() && rest.front() == '-') {
    negative = true;
    rest = Trim(rest.substr(1));
  }
  std::size_t at = 0;
  std::int64_t number = 0;
  if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest[0])) || !ScanNumber(rest, at, number) ||
      at != rest.size()) {
    return false;
  }
  value = negative ? -number : number;
  return true;
}

// The directive's first word and what follows it.
std::pair<std::string, std::string> SplitDirective(std::string_view line) {
  std::string trimmed = Trim(line);
  std::size_t i = 0;
  while (i < trimmed.size() && IsIdentChar(trimmed[i])) ++i;
  return {trimmed.substr(0, i), trimmed.substr(i)};
}

// ---- the parser ----

class Parser {
 public:
  Parser(std::vector<Token> tokens, std::string fileName, const IncludeReader& readInclude,
         const std::vector<std::string>& includeDirs, ResourceScript& out)
      : tokens_(std::move(tokens)),
        fileName_(std::move(fileName)),
        readInclude_(readInclude),
        includeDirs_(includeDirs),
        out_(out) {}

  void Run() {
    while (Cur().type != Tok::kEnd) Statement();
  }

 private:
  const Token& Cur() const { return tokens_[pos_]; }
  const Token& Next() {
    const Token& token = tokens_[pos_];
    if (token.type != Tok::kEnd) ++pos_;
    return token;
  }
  [[noreturn]] void Fail(const std::string& message) const { throw Failure{Cur().line, message}; }
  [[noreturn]] void Unexpected(const char* wanted) const {
    const Token& token = Cur();
    std::string seen;
    switch (token.type) {
      case Tok::kEnd:
        seen = "the end of the file";
        break;
      case Tok::kString:
        seen = "text \"" + token.text + "\"";
        break;
      case Tok::kNumber:
        seen = std::to_string(token.number);
        break;
      case Tok::kDirective:
        seen = "#" + token.text;
        break;
      default:
        seen = "\"" + token.text + "\"";
        break;
    }
    Fail(std::string("expected ") + wanted + ", found " + seen);
  }

  bool IsKeyword(const char* keyword) const { return Cur().type == Tok::kIdent && Upper(Cur().text) == keyword; }
  bool IsPunct(char c) const { return Cur().type == Tok::kPunct && Cur().text[0] == c; }
  bool Accept(char c) {
    if (!IsPunct(c)) return false;
    Next();
    return true;
  }
  void Expect(char c) {
    if (!Accept(c)) Unexpected((std::string("'") + c + "'").c_str());
  }
  void Comma() { Expect(','); }
  bool AtBegin() const { return IsKeyword("BEGIN") || IsPunct('{'); }
  bool AtEndOfBlock() const { return IsKeyword("END") || IsPunct('}'); }
  void Begin() {
    if (!AtBegin()) Unexpected("BEGIN");
    Next();
  }
  void EndOfBlock() {
    if (!AtEndOfBlock()) Unexpected("END");
    Next();
  }
  std::string Text() {
    if (Cur().type != Tok::kString) Unexpected("a quoted text");
    return Next().text;
  }

  std::optional<std::int64_t> Lookup(const std::string& name) const {
    if (const auto it = out_.symbols.find(name); it != out_.symbols.end()) return it->second;
    return rc::BuiltinName(name);
  }

  // number | name | ( expr ) | -primary | ~primary
  std::int64_t Primary(int depth = 0) {
    if (depth > kMaxDepth) Fail("expression nested too deeply");
    if (Cur().type == Tok::kNumber) return Next().number;
    if (Cur().type == Tok::kIdent) {
      const std::string name = Cur().text;
      const auto value = Lookup(name);
      if (!value) Fail("unknown name \"" + name + "\"");
      Next();
      return *value;
    }
    if (Accept('(')) {
      const std::int64_t value = Expression(depth + 1);
      Expect(')');
      return value;
    }
    if (Accept('-')) return -Primary(depth + 1);
    if (Accept('~')) return ~Primary(depth + 1);
    Unexpected("a number");
  }

  // Numbers with + - | & between them, left to right (ids and coordinates).
  std::int64_t Expression(int depth = 0) {
    std::int64_t value = Primary(depth);
    for (;;) {
      if (Accept('+')) {
        value += Primary(depth);
      } else if (Accept('-')) {
        value -= Primary(depth);
      } else if (Accept('|')) {
        value |= Primary(depth);
      } else if (Accept('&')) {
        value &= Primary(depth);
      } else {
        return value;
      }
    }
  }

  int Int() {
    const std::int64_t value = Expression();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
      Fail("number out of range");
    }
    return static_cast<int>(value);
  }

  // Styles as the resource compiler reads them: starting from the defaults, each term ORs its
  // bits in, and NOT clears them.
  std::uint32_t Style(std::uint32_t value) {
    do {
      if (IsKeyword("NOT")) {
        Next();
        value &= ~static_cast<std::uint32_t>(Primary());
      } else {
        value |= static_cast<std::uint32_t>(Primary());
      }
    } while (Accept('|'));
    return value;
  }

  // A resource's name: a number or a defined name.
  int ResourceId() {
    if (Cur().type == Tok::kNumber) return static_cast<int>(Next().number);
    if (Cur().type == Tok::kIdent) {
      const std::string name = Cur().text;
      const auto value = Lookup(name);
      if (!value) Fail("unknown name \"" + name + "\"");
      Next();
      return static_cast<int>(*value);
    }
    Unexpected("a resource name");
  }

  void SkipMemoryOptions() {
    static constexpr const char* kOptions[] = {"DISCARDABLE", "PRELOAD", "LOADONCALL", "MOVEABLE", "FIXED",
                                               "PURE",        "IMPURE",  "SHARED",     "NONSHARED"};
    for (;;) {
      bool found = false;
      for (const char* option : kOptions) found = found || IsKeyword(option);
      if (!found) return;
      Next();
    }
  }

  void Language() {
    Next();  // LANGUAGE
    const int primary = Int();
    Comma();
    const int sub = Int();
    if (!out_.language) out_.language = std::make_pair(primary, sub);
  }

  // Statements a resource may carry before its BEGIN; true when one was taken.
  bool CommonOption() {
    if (IsKeyword("LANGUAGE")) {
      Language();
      return true;
    }
    if (IsKeyword("CHARACTERISTICS") || IsKeyword("VERSION")) {
      Next();
      Expression();
      return true;
    }
    return false;
  }

  void Statement() {
    const Token& token = Cur();
    if (token.type == Tok::kDirective) {
      Directive(token);
      Next();
      return;
    }
    if (IsKeyword("LANGUAGE")) {
      Language();
      return;
    }
    if (IsKeyword("STRINGTABLE")) {
      StringTable();
      return;
    }
    if (token.type != Tok::kIdent && token.type != Tok::kNumber) Unexpected("a resource");
    // A resource: its name, then its type.
    const std::size_t namePos = pos_;
    Next();
    if (IsKeyword("MENU")) {
      pos_ = namePos;
      Menu();
    } else if (IsKeyword("DIALOGEX") || IsKeyword("DIALOG")) {
      pos_ = namePos;
      Dialog();
    } else if (IsKeyword("ICON") || IsKeyword("BITMAP")) {
      pos_ = namePos;
      const int id = ResourceId();
      const bool icon = IsKeyword("ICON");
      Next();
      SkipMemoryOptions();
      const std::string file = Text();
      (icon ? out_.icons : out_.bitmaps)[id] = file;
    } else if (IsKeyword("VERSIONINFO")) {
      pos_ = namePos;
      ResourceId();
      Next();
      VersionInfo();
    } else if (Cur().type == Tok::kIdent || Cur().type == Tok::kNumber) {
      // A resource of another type (a manifest, raw data): a file, or a block of data.
      Next();
      SkipMemoryOptions();
      if (Cur().type == Tok::kString) {
        Next();
      } else if (AtBegin()) {
        SkipBlock();
      } else {
        Unexpected("a file name or BEGIN");
      }
    } else {
      Unexpected("a resource type");
    }
  }

  void SkipBlock() {
    int depth = 0;
    do {
      if (Cur().type == Tok::kEnd) Unexpected("END");
      if (AtBegin()) ++depth;
      if (AtEndOfBlock()) --depth;
      Next();
    } while (depth > 0);
  }

  void Directive(const Token& token) {
    const auto [word, rest] = SplitDirective(token.text);
    if (word == "include") {
      const std::string target = Trim(rest);
      if (target.size() >= 2 && target.front() == '<' && target.back() == '>') return;  // system names are built in
      if (target.size() < 2 || target.front() != '"' || target.back() != '"') {
        Fail("bad #include \"" + Trim(token.text) + "\"");
      }
      Header(target.substr(1, target.size() - 2));
    } else if (word == "pragma") {
      // code_page(65001) and the like: the text is read as UTF-8 whatever it says.
    } else if (word == "define") {
      std::string name;
      std::optional<std::int64_t> value;
      if (!ParseDefine(rest, name, value)) Fail("bad #define \"" + Trim(token.text) + "\"");
      if (value) out_.symbols[name] = *value;
    } else {
      Fail("unsupported directive \"#" + Trim(token.text) + "\"");
    }
  }

  // A header next to the script: #define lines, comments, include guards and #pragma once.
  void Header(const std::string& name) {
    std::vector<std::string> candidates{DirectoryOf(fileName_) + name};
    for (std::string dir : includeDirs_) {
      if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
      candidates.push_back(dir + name);
    }
    std::optional<std::string> text;
    std::string path;
    for (const auto& candidate : candidates) {
      if (readInclude_) text = readInclude_(candidate);
      if (text) {
        path = candidate;
        break;
      }
    }
    if (!text) Fail("cannot read \"" + name + "\"");
    std::string body = *text;
    // Comments out, line feeds kept so lines keep their numbers.
    std::string clean;
    clean.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '/' && i + 1 < body.size() && body[i + 1] == '/') {
        while (i < body.size() && body[i] != '\n') ++i;
        if (i < body.size()) clean += '\n';
      } else if (body[i] == '/' && i + 1 < body.size() && body[i + 1] == '*') {
        i += 2;
        while (i < body.size() && !(body[i] == '*' && i + 1 < body.size() && body[i + 1] == '/')) {
          if (body[i] == '\n') clean += '\n';
          ++i;
        }
        ++i;
      } else {
        clean += body[i];
      }
    }
    std::istringstream lines(clean);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
      ++number;
      const std::string trimmed = Trim(line);
      if (trimmed.empty() || trimmed == "\xEF\xBB\xBF") continue;
      const std::string_view start =
          trimmed.substr(0, 3) == "\xEF\xBB\xBF" ? std::string_view(trimmed).substr(3) : std::string_view(trimmed);
      auto fail = [&](const std::string& message) {
        throw Failure{-1, path + ":" + std::to_string(number) + ": " + message};
      };
      if (start.empty() || start[0] != '#') fail("only #define lines belong here");
      const auto [word, rest] = SplitDirective(start.substr(1));
      if (word == "define") {
        std::string symbol;
        std::optional<std::int64_t> value;
        if (!ParseDefine(rest, symbol, value)) fail("bad #define \"" + Trim(start) + "\"");
        if (value) out_.symbols[symbol] = *value;
      } else if (word != "pragma" && word != "ifndef" && word != "ifdef" && word != "endif" && word != "if" &&
                 word != "else") {
        fail("unsupported directive \"" + Trim(start) + "\"");
      }
    }
  }

  void StringTable() {
    Next();  // STRINGTABLE
    SkipMemoryOptions();
    while (CommonOption()) {
    }
    Begin();
    while (!AtEndOfBlock()) {
      if (Cur().type == Tok::kEnd) Unexpected("END");
      const int line = Cur().line;
      const int id = Int();
      Accept(',');
      std::string text = Text();
      if (!out_.strings.emplace(id, std::move(text)).second) {
        throw Failure{line, "string " + std::to_string(id) + " defined twice"};
      }
    }
    EndOfBlock();
  }

  void Menu() {
    const int line = Cur().line;
    MenuTemplate menu;
    menu.id = ResourceId();
    Next();  // MENU
    SkipMemoryOptions();
    while (CommonOption()) {
    }
    Begin();
    MenuItems(menu.items, 0);
    if (!out_.menus.emplace(menu.id, std::move(menu)).second) throw Failure{line, "menu defined twice"};
  }

  // MENUITEM and POPUP options: commas or blanks between them.
  void MenuOptions(MenuItem& item) {
    for (;;) {
      Accept(',');
      if (IsKeyword("GRAYED") || IsKeyword("INACTIVE") || IsKeyword("DISABLED")) {
        item.grayed = true;
      } else if (IsKeyword("CHECKED")) {
        item.checked = true;
      } else if (!(IsKeyword("MENUBARBREAK") || IsKeyword("MENUBREAK") || IsKeyword("HELP"))) {
        return;
      }
      Next();
    }
  }

  // Items up to and including the END of the block.
  void MenuItems(std::vector<MenuItem>& items, int depth) {
    if (depth > kMaxDepth) Fail("menu nested too deeply");
    while (!AtEndOfBlock()) {
      MenuItem item;
      if (IsKeyword("MENUITEM")) {
        Next();
        if (IsKeyword("SEPARATOR")) {
          Next();
          item.separator = true;
        } else {
          item.text = Text();
          Comma();
          item.id = Int();
          MenuOptions(item);
        }
      } else if (IsKeyword("POPUP")) {
        Next();
        item.popup = true;
        item.text = Text();
        MenuOptions(item);
        Begin();
        MenuItems(item.items, depth + 1);
      } else {
        Unexpected("MENUITEM, POPUP or END");
      }
      items.push_back(std::move(item));
    }
    EndOfBlock();
  }

  void Dialog() {
    const int line = Cur().line;
    DialogTemplate dialog;
    dialog.id = ResourceId();
    dialog.extended = IsKeyword("DIALOGEX");
    Next();
    SkipMemoryOptions();
    dialog.x = Int();
    Comma();
    dialog.y = Int();
    Comma();
    dialog.width = Int();
    Comma();
    dialog.height = Int();
    if (dialog.extended && Accept(',')) Expression();  // help id
    dialog.style = kDefaultDialogStyle;
    for (;;) {
      if (IsKeyword("STYLE")) {
        Next();
        dialog.style = Style(0);
      } else if (IsKeyword("EXSTYLE")) {
        Next();
        dialog.exStyle = Style(0);
      } else if (IsKeyword("CAPTION")) {
        Next();
        dialog.caption = Text();
      } else if (IsKeyword("FONT")) {
        Next();
        dialog.fontSize = Int();
        Comma();
        dialog.fontName = Text();
        while (Accept(',')) Expression();  // weight, italic, character set
      } else if (IsKeyword("MENU")) {
        Next();
        ResourceId();
      } else if (IsKeyword("CLASS")) {
        Next();
        Text();
      } else if (!CommonOption()) {
        break;
      }
    }
    if (dialog.fontSize != 0) dialog.style |= kDsSetFont;
    dialog.visible = (dialog.style & kWsVisible) != 0;
    Begin();
    while (!AtEndOfBlock()) {
      if (Cur().type == Tok::kEnd) Unexpected("END");
      dialog.controls.push_back(Control(dialog.extended));
    }
    EndOfBlock();
    if (!out_.dialogs.emplace(dialog.id, std::move(dialog)).second) throw Failure{line, "dialog defined twice"};
  }

  // The control statements with their class and default style.
  struct ControlKeyword {
    const char* keyword;
    const char* className;
    std::uint32_t style;
    bool textFirst;
  };

  static const ControlKeyword* FindControlKeyword(const std::string& upper) {
    static constexpr ControlKeyword kKeywords[] = {
        {"LTEXT", "Static", 0x0 | kWsGroup, true},
        {"RTEXT", "Static", 0x2 | kWsGroup, true},
        {"CTEXT", "Static", 0x1 | kWsGroup, true},
        {"PUSHBUTTON", "Button", 0x0 | kWsTabStop, true},
        {"DEFPUSHBUTTON", "Button", 0x1 | kWsTabStop, true},
        {"GROUPBOX", "Button", 0x7, true},
        {"CHECKBOX", "Button", 0x2 | kWsTabStop, true},
        {"AUTOCHECKBOX", "Button", 0x3 | kWsTabStop, true},
        {"STATE3", "Button", 0x5 | kWsTabStop, true},
        {"AUTO3STATE", "Button", 0x6 | kWsTabStop, true},
        {"RADIOBUTTON", "Button", 0x4 | kWsTabStop, true},
        {"AUTORADIOBUTTON", "Button", 0x9, true},
        {"LISTBOX", "ListBox", 0x1 | kWsBorder, false},
        {"COMBOBOX", "ComboBox", 0x1 | kWsTabStop, false},
        {"EDITTEXT", "Edit", 0x0 | kWsBorder | kWsTabStop, false},
    };
    for (const auto& keyword : kKeywords) {
      if (upper == keyword.keyword) return &keyword;
    }
    return nullptr;
  }

  // The text of a CONTROL or ICON statement: a quoted text, or a resource named by number or name.
  std::string ControlText() {
    if (Cur().type == Tok::kString) return Next().text;
    if (Cur().type == Tok::kNumber) return std::to_string(Next().number);
    if (Cur().type == Tok::kIdent) return Next().text;
    Unexpected("a text");
  }

  void Rectangle(ControlTemplate& control) {
    control.x = Int();
    Comma();
    control.y = Int();
    Comma();
    control.width = Int();
    Comma();
    control.height = Int();
  }

  void TrailingStyles(ControlTemplate& control, bool extended, bool withStyle) {
    if (withStyle && Accept(',')) control.style = Style(control.style);
    if (Accept(',')) control.exStyle = Style(0);
    if (extended && Accept(',')) Expression();  // help id
  }

  ControlTemplate Control(bool extended) {
    if (Cur().type != Tok::kIdent) Unexpected("a control");
    const int line = Cur().line;
    const std::string keyword = Upper(Cur().text);
    ControlTemplate control;
    if (const ControlKeyword* known = FindControlKeyword(keyword)) {
      Next();
      control.className = known->className;
      control.style = kWsChild | kWsVisible | known->style;
      if (known->textFirst) {
        control.text = Text();
        Comma();
      }
      control.id = Int();
      Comma();
      Rectangle(control);
      TrailingStyles(control, extended, true);
    } else if (keyword == "ICON") {
      Next();
      control.className = "Static";
      control.style = kWsChild | kWsVisible | 0x3;  // SS_ICON
      control.text = ControlText();
      Comma();
      control.id = Int();
      Comma();
      control.x = Int();
      Comma();
      control.y = Int();
      if (Accept(',')) {
        control.width = Int();
        Comma();
        control.height = Int();
        TrailingStyles(control, extended, true);
      }
    } else if (keyword == "CONTROL") {
      Next();
      control.text = ControlText();
      Comma();
      control.id = Int();
      Comma();
      if (Cur().type == Tok::kString) {
        control.className = Next().text;
      } else if (Cur().type == Tok::kIdent) {
        const char* className = rc::ClassAlias(Upper(Cur().text));
        if (!className) Fail("unknown control class \"" + Cur().text + "\"");
        control.className = className;
        Next();
      } else {
        Unexpected("a window class");
      }
      Comma();
      control.style = Style(kWsChild | kWsVisible);
      Comma();
      Rectangle(control);
      TrailingStyles(control, extended, false);
    } else {
      Fail("unknown control \"" + Cur().text + "\"");
    }
    Classify(control, line);
    return control;
  }

  static void Classify(ControlTemplate& control, int line) {
    const std::string className = Upper(control.className);
    if (className == "BUTTON") {
      switch (control.style & 0xF) {
        case 0x2:
        case 0x5:
          control.kind = ControlKind::kCheck;
          break;
        case 0x3:
        case 0x6:
          control.kind = ControlKind::kCheck;
          control.autoButton = true;
          break;
        case 0x4:
          control.kind = ControlKind::kRadio;
          break;
        case 0x9:
          control.kind = ControlKind::kRadio;
          control.autoButton = true;
          break;
        case 0x7:
          control.kind = ControlKind::kGroup;
          break;
        case 0x1:
          control.kind = ControlKind::kButton;
          control.defaultButton = true;
          break;
        default:
          control.kind = ControlKind::kButton;
          break;
      }
    } else if (className == "STATIC") {
      control.kind = ControlKind::kStatic;
    } else if (className == "EDIT") {
      control.kind = ControlKind::kEdit;
    } else if (className == "LISTBOX") {
      control.kind = ControlKind::kList;
    } else if (className == "COMBOBOX") {
      control.kind = ControlKind::kCombo;
    } else if (className == "MSCTLS_TRACKBAR32") {
      control.kind = ControlKind::kSlider;
    } else if (className == "SYSLISTVIEW32") {
      control.kind = ControlKind::kListView;
    } else {
      throw Failure{line, "unknown control class \"" + control.className + "\""};
    }
    control.visible = (control.style & kWsVisible) != 0;
    control.disabled = (control.style & kWsDisabled) != 0;
  }

  std::array<std::uint16_t, 4> VersionNumbers() {
    std::array<std::uint16_t, 4> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const std::int64_t value = Expression();
      if (value < 0 || value > 0xFFFF) Fail("version part out of range");
      parts[i] = static_cast<std::uint16_t>(value);
      if (!Accept(',')) break;
    }
    return parts;
  }

  void VersionInfo() {
    const int line = Cur().line;
    if (out_.version) throw Failure{line, "VERSIONINFO defined twice"};
    VersionResource version;
    for (;;) {
      if (IsKeyword("FILEVERSION")) {
        Next();
        version.fileVersion = VersionNumbers();
      } else if (IsKeyword("PRODUCTVERSION")) {
        Next();
        version.productVersion = VersionNumbers();
      } else if (IsKeyword("FILEFLAGSMASK") || IsKeyword("FILEFLAGS") || IsKeyword("FILEOS") || IsKeyword("FILETYPE") ||
                 IsKeyword("FILESUBTYPE")) {
        std::uint32_t* const field = IsKeyword("FILEFLAGSMASK") ? &version.fileFlagsMask
                                     : IsKeyword("FILEFLAGS")   ? &version.fileFlags
                                     : IsKeyword("FILEOS")      ? &version.fileOS
                                     : IsKeyword("FILETYPE")    ? &version.fileType
                                                                : &version.fileSubtype;
        Next();
        const std::int64_t value = Expression();
        if (value < 0 || value > 0xFFFFFFFF) Fail("number out of range");
        *field = static_cast<std::uint32_t>(value);
      } else if (!CommonOption()) {
        break;
      }
    }
    Begin();
    version.blocks = VersionBlock(version, "", 0);
    out_.version = std::move(version);
  }

  // BLOCK and VALUE statements up to and including the block's END. The texts of the blocks
  // inside "StringFileInfo" are also kept by name.
  std::vector<VersionEntry> VersionBlock(VersionResource& version, const std::string& parent, int depth) {
    if (depth > kMaxDepth) Fail("block nested too deeply");
    std::vector<VersionEntry> entries;
    while (!AtEndOfBlock()) {
      VersionEntry entry;
      if (IsKeyword("BLOCK")) {
        Next();
        entry.key = Text();
        entry.block = true;
        Begin();
        if (parent == "StringFileInfo" && version.stringBlock.empty()) version.stringBlock = entry.key;
        entry.children = VersionBlock(version, depth == 0 ? entry.key : parent + "/" + entry.key, depth + 1);
      } else if (IsKeyword("VALUE")) {
        const int line = Cur().line;
        Next();
        entry.key = Text();
        while (Accept(',')) {
          if (Cur().type == Tok::kString) {
            entry.value += Next().text;
            entry.text = true;
          } else {
            const std::int64_t number = Expression();
            if (number < 0 || number > 0xFFFF) throw Failure{line, "version value out of range"};
            entry.words.push_back(static_cast<std::uint16_t>(number));
          }
        }
        if (entry.text && !entry.words.empty()) throw Failure{line, "a VALUE mixes texts and numbers"};
        if (entry.text && parent.rfind("StringFileInfo/", 0) == 0) version.values.emplace_back(entry.key, entry.value);
      } else {
        Unexpected("BLOCK, VALUE or END");
      }
      entries.push_back(std::move(entry));
    }
    EndOfBlock();
    return entries;
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  std::string fileName_;
  const IncludeReader& readInclude_;
  const std::vector<std::string>& includeDirs_;
  ResourceScript& out_;
};

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kButton:
      return "button";
    case ControlKind::kCheck:
      return "check";
    case ControlKind::kRadio:
      return "radio";
    case ControlKind::kStatic:
      return "static";
    case ControlKind::kEdit:
      return "edit";
    case ControlKind::kCombo:
      return "combo";
    case ControlKind::kList:
      return "list";
    case ControlKind::kListView:
      return "listview";
    case ControlKind::kSlider:
      return "slider";
    case ControlKind::kGroup:
      return "group";
  }
  return "?";
}

std::optional<std::string> VersionResource::Value(std::string_view key) const {
  for (const auto& [name, value] : values) {
    if (name == key) return value;
  }
  return std::nullopt;
}

ResourceParseResult ParseResourceScript(std::string_view text, const std::string& fileName,
                                        const IncludeReader& readInclude, const std::vector<std::string>& includeDirs) {
  ResourceParseResult result;
  auto script = std::make_shared<ResourceScript>();
  script->fileName = fileName;
  try {
    Parser parser(rc::Tokenize(text), fileName, readInclude, includeDirs, *script);
    parser.Run();
  } catch (const Failure& failure) {
    // A failure in an included header carries its own place.
    result.error =
        failure.line < 0 ? failure.message : fileName + ":" + std::to_string(failure.line) + ": " + failure.message;
    return result;
  }
  result.script = std::move(script);
  return result;
}

ResourceParseResult LoadResourceScript(const std::string& path, const std::vector<std::string>& includeDirs) {
  const auto text = ReadFile(path);
  if (!text) {
    ResourceParseResult result;
    result.error = path + ": cannot read the file";
    return result;
  }
  return ParseResourceScript(
      *text, path, [](const std::string& include) { return ReadFile(include); }, includeDirs);
}

}  // namespace sim
