#include "sim/ui/ResourceLexer.h"

#include <cctype>
#include <limits>
#include <unordered_map>

namespace sim::rc {

namespace {

// The names the system headers give the resource compiler.
struct Builtin {
  const char* name;
  std::int64_t value;
};
constexpr Builtin kBuiltins[] = {
    // Window styles.
    {"WS_OVERLAPPED", 0},
    {"WS_TILED", 0},
    {"WS_POPUP", 0x80000000},
    {"WS_CHILD", 0x40000000},
    {"WS_CHILDWINDOW", 0x40000000},
    {"WS_MINIMIZE", 0x20000000},
    {"WS_ICONIC", 0x20000000},
    {"WS_VISIBLE", 0x10000000},
    {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000},
    {"WS_CLIPCHILDREN", 0x02000000},
    {"WS_MAXIMIZE", 0x01000000},
    {"WS_CAPTION", 0x00C00000},
    {"WS_BORDER", 0x00800000},
    {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000},
    {"WS_HSCROLL", 0x00100000},
    {"WS_SYSMENU", 0x00080000},
    {"WS_THICKFRAME", 0x00040000},
    {"WS_SIZEBOX", 0x00040000},
    {"WS_GROUP", 0x00020000},
    {"WS_TABSTOP", 0x00010000},
    {"WS_MINIMIZEBOX", 0x00020000},
    {"WS_MAXIMIZEBOX", 0x00010000},
    {"WS_OVERLAPPEDWINDOW", 0x00CF0000},
    {"WS_TILEDWINDOW", 0x00CF0000},
    {"WS_POPUPWINDOW", 0x80880000},
    // Extended window styles.
    {"WS_EX_DLGMODALFRAME", 0x1},
    {"WS_EX_NOPARENTNOTIFY", 0x4},
    {"WS_EX_TOPMOST", 0x8},
    {"WS_EX_ACCEPTFILES", 0x10},
    {"WS_EX_TRANSPARENT", 0x20},
    {"WS_EX_MDICHILD", 0x40},
    {"WS_EX_TOOLWINDOW", 0x80},
    {"WS_EX_WINDOWEDGE", 0x100},
    {"WS_EX_CLIENTEDGE", 0x200},
    {"WS_EX_CONTEXTHELP", 0x400},
    {"WS_EX_RIGHT", 0x1000},
    {"WS_EX_LEFT", 0},
    {"WS_EX_RTLREADING", 0x2000},
    {"WS_EX_LTRREADING", 0},
    {"WS_EX_LEFTSCROLLBAR", 0x4000},
    {"WS_EX_RIGHTSCROLLBAR", 0},
    {"WS_EX_CONTROLPARENT", 0x10000},
    {"WS_EX_STATICEDGE", 0x20000},
    {"WS_EX_APPWINDOW", 0x40000},
    {"WS_EX_OVERLAPPEDWINDOW", 0x300},
    {"WS_EX_PALETTEWINDOW", 0x188},
    {"WS_EX_LAYERED", 0x80000},
    {"WS_EX_NOINHERITLAYOUT", 0x100000},
    {"WS_EX_LAYOUTRTL", 0x400000},
    {"WS_EX_COMPOSITED", 0x2000000},
    {"WS_EX_NOACTIVATE", 0x8000000},
    // Dialog styles.
    {"DS_ABSALIGN", 0x1},
    {"DS_SYSMODAL", 0x2},
    {"DS_3DLOOK", 0x4},
    {"DS_FIXEDSYS", 0x8},
    {"DS_NOFAILCREATE", 0x10},
    {"DS_LOCALEDIT", 0x20},
    {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80},
    {"DS_NOIDLEMSG", 0x100},
    {"DS_SETFOREGROUND", 0x200},
    {"DS_CONTROL", 0x400},
    {"DS_CENTER", 0x800},
    {"DS_CENTERMOUSE", 0x1000},
    {"DS_CONTEXTHELP", 0x2000},
    {"DS_SHELLFONT", 0x48},
    // Buttons.
    {"BS_PUSHBUTTON", 0x0},
    {"BS_DEFPUSHBUTTON", 0x1},
    {"BS_CHECKBOX", 0x2},
    {"BS_AUTOCHECKBOX", 0x3},
    {"BS_RADIOBUTTON", 0x4},
    {"BS_3STATE", 0x5},
    {"BS_AUTO3STATE", 0x6},
    {"BS_GROUPBOX", 0x7},
    {"BS_USERBUTTON", 0x8},
    {"BS_AUTORADIOBUTTON", 0x9},
    {"BS_PUSHBOX", 0xA},
    {"BS_OWNERDRAW", 0xB},
    {"BS_TYPEMASK", 0xF},
    {"BS_LEFTTEXT", 0x20},
    {"BS_RIGHTBUTTON", 0x20},
    {"BS_TEXT", 0},
    {"BS_ICON", 0x40},
    {"BS_BITMAP", 0x80},
    {"BS_LEFT", 0x100},
    {"BS_RIGHT", 0x200},
    {"BS_CENTER", 0x300},
    {"BS_TOP", 0x400},
    {"BS_BOTTOM", 0x800},
    {"BS_VCENTER", 0xC00},
    {"BS_PUSHLIKE", 0x1000},
    {"BS_MULTILINE", 0x2000},
    {"BS_NOTIFY", 0x4000},
    {"BS_FLAT", 0x8000},
    // Statics.
    {"SS_LEFT", 0x0},
    {"SS_CENTER", 0x1},
    {"SS_RIGHT", 0x2},
    {"SS_ICON", 0x3},
    {"SS_BLACKRECT", 0x4},
    {"SS_GRAYRECT", 0x5},
    {"SS_WHITERECT", 0x6},
    {"SS_BLACKFRAME", 0x7},
    {"SS_GRAYFRAME", 0x8},
    {"SS_WHITEFRAME", 0x9},
    {"SS_USERITEM", 0xA},
    {"SS_SIMPLE", 0xB},
    {"SS_LEFTNOWORDWRAP", 0xC},
    {"SS_OWNERDRAW", 0xD},
    {"SS_BITMAP", 0xE},
    {"SS_ENHMETAFILE", 0xF},
    {"SS_ETCHEDHORZ", 0x10},
    {"SS_ETCHEDVERT", 0x11},
    {"SS_ETCHEDFRAME", 0x12},
    {"SS_TYPEMASK", 0x1F},
    {"SS_REALSIZECONTROL", 0x40},
    {"SS_NOPREFIX", 0x80},
    {"SS_NOTIFY", 0x100},
    {"SS_CENTERIMAGE", 0x200},
    {"SS_RIGHTJUST", 0x400},
    {"SS_REALSIZEIMAGE", 0x800},
    {"SS_SUNKEN", 0x1000},
    {"SS_EDITCONTROL", 0x2000},
    {"SS_ENDELLIPSIS", 0x4000},
    {"SS_PATHELLIPSIS", 0x8000},
    {"SS_WORDELLIPSIS", 0xC000},
    // Edits.
    {"ES_LEFT", 0x0},
    {"ES_CENTER", 0x1},
    {"ES_RIGHT", 0x2},
    {"ES_MULTILINE", 0x4},
    {"ES_UPPERCASE", 0x8},
    {"ES_LOWERCASE", 0x10},
    {"ES_PASSWORD", 0x20},
    {"ES_AUTOVSCROLL", 0x40},
    {"ES_AUTOHSCROLL", 0x80},
    {"ES_NOHIDESEL", 0x100},
    {"ES_OEMCONVERT", 0x400},
    {"ES_READONLY", 0x800},
    {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000},
    // List boxes.
    {"LBS_NOTIFY", 0x1},
    {"LBS_SORT", 0x2},
    {"LBS_NOREDRAW", 0x4},
    {"LBS_MULTIPLESEL", 0x8},
    {"LBS_OWNERDRAWFIXED", 0x10},
    {"LBS_OWNERDRAWVARIABLE", 0x20},
    {"LBS_HASSTRINGS", 0x40},
    {"LBS_USETABSTOPS", 0x80},
    {"LBS_NOINTEGRALHEIGHT", 0x100},
    {"LBS_MULTICOLUMN", 0x200},
    {"LBS_WANTKEYBOARDINPUT", 0x400},
    {"LBS_EXTENDEDSEL", 0x800},
    {"LBS_DISABLENOSCROLL", 0x1000},
    {"LBS_NODATA", 0x2000},
    {"LBS_NOSEL", 0x4000},
    {"LBS_COMBOBOX", 0x8000},
    {"LBS_STANDARD", 0xA00003},
    // Combo boxes.
    {"CBS_SIMPLE", 0x1},
    {"CBS_DROPDOWN", 0x2},
    {"CBS_DROPDOWNLIST", 0x3},
    {"CBS_OWNERDRAWFIXED", 0x10},
    {"CBS_OWNERDRAWVARIABLE", 0x20},
    {"CBS_AUTOHSCROLL", 0x40},
    {"CBS_OEMCONVERT", 0x80},
    {"CBS_SORT", 0x100},
    {"CBS_HASSTRINGS", 0x200},
    {"CBS_NOINTEGRALHEIGHT", 0x400},
    {"CBS_DISABLENOSCROLL", 0x800},
    {"CBS_UPPERCASE", 0x2000},
    {"CBS_LOWERCASE", 0x4000},
    // Track bars.
    {"TBS_AUTOTICKS", 0x1},
    {"TBS_VERT", 0x2},
    {"TBS_HORZ", 0x0},
    {"TBS_TOP", 0x4},
    {"TBS_BOTTOM", 0x0},
    {"TBS_LEFT", 0x4},
    {"TBS_RIGHT", 0x0},
    {"TBS_BOTH", 0x8},
    {"TBS_NOTICKS", 0x10},
    {"TBS_ENABLESELRANGE", 0x20},
    {"TBS_FIXEDLENGTH", 0x40},
    {"TBS_NOTHUMB", 0x80},
    {"TBS_TOOLTIPS", 0x100},
    {"TBS_REVERSED", 0x200},
    {"TBS_DOWNISLEFT", 0x400},
    // List views.
    {"LVS_ICON", 0x0},
    {"LVS_REPORT", 0x1},
    {"LVS_SMALLICON", 0x2},
    {"LVS_LIST", 0x3},
    {"LVS_TYPEMASK", 0x3},
    {"LVS_SINGLESEL", 0x4},
    {"LVS_SHOWSELALWAYS", 0x8},
    {"LVS_SORTASCENDING", 0x10},
    {"LVS_SORTDESCENDING", 0x20},
    {"LVS_SHAREIMAGELISTS", 0x40},
    {"LVS_NOLABELWRAP", 0x80},
    {"LVS_AUTOARRANGE", 0x100},
    {"LVS_EDITLABELS", 0x200},
    {"LVS_OWNERDRAWFIXED", 0x400},
    {"LVS_ALIGNTOP", 0x0},
    {"LVS_ALIGNLEFT", 0x800},
    {"LVS_OWNERDATA", 0x1000},
    {"LVS_NOSCROLL", 0x2000},
    {"LVS_NOCOLUMNHEADER", 0x4000},
    {"LVS_NOSORTHEADER", 0x8000},
    // Dialog and message box ids.
    {"IDOK", 1},
    {"IDCANCEL", 2},
    {"IDABORT", 3},
    {"IDRETRY", 4},
    {"IDIGNORE", 5},
    {"IDYES", 6},
    {"IDNO", 7},
    {"IDCLOSE", 8},
    {"IDHELP", 9},
    {"IDC_STATIC", -1},
    // Languages.
    {"LANG_NEUTRAL", 0x00},
    {"LANG_CHINESE", 0x04},
    {"LANG_GERMAN", 0x07},
    {"LANG_ENGLISH", 0x09},
    {"LANG_FRENCH", 0x0C},
    {"LANG_JAPANESE", 0x11},
    {"LANG_DUTCH", 0x13},
    {"SUBLANG_NEUTRAL", 0},
    {"SUBLANG_DEFAULT", 1},
    {"SUBLANG_SYS_DEFAULT", 2},
    {"SUBLANG_CHINESE_TRADITIONAL", 1},
    {"SUBLANG_CHINESE_SIMPLIFIED", 2},
    {"SUBLANG_ENGLISH_US", 1},
    {"SUBLANG_ENGLISH_UK", 2},
    {"SUBLANG_FRENCH", 1},
    {"SUBLANG_DUTCH", 1},
    {"SUBLANG_GERMAN", 1},
    {"SUBLANG_JAPANESE_JAPAN", 1},
    // Version information.
    {"VS_FFI_FILEFLAGSMASK", 0x3F},
    {"VS_FF_DEBUG", 0x1},
    {"VS_FF_PRERELEASE", 0x2},
    {"VS_FF_PATCHED", 0x4},
    {"VS_FF_PRIVATEBUILD", 0x8},
    {"VS_FF_INFOINFERRED", 0x10},
    {"VS_FF_SPECIALBUILD", 0x20},
    {"VOS_UNKNOWN", 0},
    {"VOS__WINDOWS32", 0x4},
    {"VOS_NT", 0x40000},
    {"VOS_NT_WINDOWS32", 0x40004},
    {"VFT_UNKNOWN", 0},
    {"VFT_APP", 1},
    {"VFT_DLL", 2},
    {"VFT_DRV", 3},
    {"VFT_FONT", 4},
    {"VFT_STATIC_LIB", 7},
    {"VFT2_UNKNOWN", 0},
    // Resource types.
    {"RT_MANIFEST", 24},
    {"CREATEPROCESS_MANIFEST_RESOURCE_ID", 1},
    {"ISOLATIONAWARE_MANIFEST_RESOURCE_ID", 2},
};

// Class names commctrl.h and the resource compiler know by macro or keyword.
struct ClassAlias {
  const char* name;
  const char* className;
};
constexpr ClassAlias kClassAliases[] = {
    {"BUTTON", "Button"},
    {"STATIC", "Static"},
    {"EDIT", "Edit"},
    {"LISTBOX", "ListBox"},
    {"COMBOBOX", "ComboBox"},
    {"TRACKBAR_CLASS", "msctls_trackbar32"},
    {"TRACKBAR_CLASSA", "msctls_trackbar32"},
    {"WC_LISTVIEW", "SysListView32"},
    {"WC_LISTVIEWA", "SysListView32"},
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
  }

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    bool lineStart = true;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n') {
        ++line_;
        ++at_;
        lineStart = true;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++at_;
        continue;
      }
      if (c == '/' && Peek(1) == '/') {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
        continue;
      }
      if (c == '/' && Peek(1) == '*') {
        const int opened = line_;
        at_ += 2;
        while (at_ < text_.size() && !(text_[at_] == '*' && Peek(1) == '/')) {
          if (text_[at_] == '\n') ++line_;
          ++at_;
        }
        if (at_ >= text_.size()) throw Failure{opened, "unterminated comment"};
        at_ += 2;
        continue;
      }
      if (c == '#' && lineStart) {
        tokens.push_back(Directive());
        continue;
      }
      lineStart = false;
      if (c == '"' || ((c == 'L' || c == 'l') && Peek(1) == '"')) {
        if (c != '"') ++at_;
        tokens.push_back(String());
      } else if (IsIdentStart(c)) {
        Token token{Tok::kIdent, line_, {}, 0};
        const std::size_t from = at_;
        while (at_ < text_.size() && IsIdentChar(text_[at_])) ++at_;
        token.text = std::string(text_.substr(from, at_ - from));
        tokens.push_back(std::move(token));
      } else if (std::isdigit(static_cast<unsigned char>(c))) {
        Token token{Tok::kNumber, line_, {}, 0};
        const std::size_t from = at_;
        if (!ScanNumber(text_, at_, token.number)) {
          std::size_t end = from;
          while (end < text_.size() && IsIdentChar(text_[end])) ++end;
          throw Failure{line_, "bad number \"" + std::string(text_.substr(from, end - from)) + "\""};
        }
        tokens.push_back(std::move(token));
      } else if (std::string_view(",|(){}+-~&").find(c) != std::string_view::npos) {
        tokens.push_back(Token{Tok::kPunct, line_, std::string(1, c), 0});
        ++at_;
      } else {
        throw Failure{line_, "unexpected character '" + std::string(1, c) + "'"};
      }
    }
    tokens.push_back(Token{Tok::kEnd, line_, {}, 0});
    return tokens;
  }

 private:
  char Peek(std::size_t ahead) const { return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0'; }

  Token Directive() {
    Token token{Tok::kDirective, line_, {}, 0};
    ++at_;  // '#'
    const std::size_t from = at_;
    while (at_ < text_.size() && text_[at_] != '\n') ++at_;
    std::string line(text_.substr(from, at_ - from));
    if (const auto comment = line.find("//"); comment != std::string::npos) line.resize(comment);
    token.text = std::move(line);
    return token;
  }

  // `""` is a quote; \n \t \r \\ \" are escapes, \0 ends nothing and is dropped; any other
  // backslash stays as written.
  Token String() {
    Token token{Tok::kString, line_, {}, 0};
    ++at_;  // opening quote
    for (;;) {
      if (at_ >= text_.size() || text_[at_] == '\n') throw Failure{token.line, "unterminated text"};
      const char c = text_[at_++];
      if (c == '"') {
        if (at_ < text_.size() && text_[at_] == '"') {
          token.text += '"';
          ++at_;
          continue;
        }
        return token;
      }
      if (c == '\\' && at_ < text_.size()) {
        const char e = text_[at_];
        const char* replacement = nullptr;
        switch (e) {
          case 'n':
            replacement = "\n";
            break;
          case 't':
            replacement = "\t";
            break;
          case 'r':
            replacement = "\r";
            break;
          case '\\':
            replacement = "\\";
            break;
          case '"':
            replacement = "\"";
            break;
          case '0':
            replacement = "";
            break;
          default:
            break;
        }
        if (replacement) {
          token.text += replacement;
          ++at_;
          continue;
        }
      }
      token.text += c;
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  int line_ = 1;
};

}  // namespace

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool ScanNumber(std::string_view text, std::size_t& at, std::int64_t& value) {
  std::uint64_t n = 0;
  const bool hex = text.size() > at + 1 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X');
  std::size_t i = hex ? at + 2 : at;
  const std::size_t digitsFrom = i;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    const std::uint64_t base = hex ? 16 : 10;
    if (n > (std::numeric_limits<std::uint64_t>::max() - static_cast<std::uint64_t>(digit)) / base) return false;
    n = n * base + static_cast<std::uint64_t>(digit);
  }
  if (i == digitsFrom) return false;
  while (i < text.size() && (text[i] == 'L' || text[i] == 'l' || text[i] == 'U' || text[i] == 'u')) ++i;
  if (i < text.size() && IsIdentChar(text[i])) return false;
  // Values are 32-bit in resources; keep the bit pattern of anything wider than that.
  if (n > 0xFFFFFFFFull) return false;
  value = static_cast<std::int64_t>(n);
  at = i;
  return true;
}

std::vector<Token> Tokenize(std::string_view text) { return Lexer(text).Run(); }

std::optional<std::int64_t> BuiltinName(std::string_view name) {
  static const std::unordered_map<std::string_view, std::int64_t> builtins = [] {
    std::unordered_map<std::string_view, std::int64_t> table;
    for (const auto& builtin : kBuiltins) table.emplace(builtin.name, builtin.value);
    return table;
  }();
  const auto it = builtins.find(name);
  return it == builtins.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
}

const char* ClassAlias(std::string_view upperName) {
  for (const auto& alias : kClassAliases) {
    if (upperName == alias.name) return alias.className;
  }
  return nullptr;
}

}  // namespace sim::rc
