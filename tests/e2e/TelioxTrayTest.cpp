// Teliox.exe in the sim-demo folder between the handset simulator and the softphone simulator:
// its tray icon and tip follow the handset and the client (147 both, 146 handset only, 129
// client only, 148 neither); the client is detached when the handset goes and attached again
// when it comes back; a client that ends shows as offline, and one started again is attached
// again without Teliox.exe doing anything.
//
// The tray is observed as a user sees it, in Wine's stand-alone tray window: the tip is the text
// of the tooltip that shows while the cursor rests on the icon, and the icon is the picture on
// the screen, matched against the four tray icons drawn from Teliox.exe's own resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "companions/tarvoapi/sim/SimControl.h"
#include "companions/tarvoapi/sim/win32/ControlPipe.h"
#include "resources/bridge/resource.h"
#include "tests/e2e/ProgramTestSupport.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\VORLANE\\TELIOX\\Teliox";
constexpr char kClientWindowClass[] = "tTvMainForm.UnicodeClass";
// The library's notifications to Teliox.exe's main window.
constexpr UINT kClientAttached = 0x478;
constexpr UINT kClientDetached = 0x480;
// Wine's tray without a desktop: a top-level window with one child window per icon.
constexpr wchar_t kTrayClass[] = L"__winex11_standalone_tray";
constexpr wchar_t kTrayIconClass[] = L"__winex11_tray_icon";
constexpr int kIconSize = 16;
// The monitor probes every ~5.1 s and alternates between the two handset models, so a handset
// is found within two passes; then come the version handshake, the ring tone and the attach.
constexpr DWORD kHandsetChangeMs = 25000;
constexpr DWORD kTrayChangeMs = 15000;

// The tips as the program writes them, in the built-in Traditional Chinese and in English.
struct Tips {
  const wchar_t* both;
  const wchar_t* handsetOnly;
  const wchar_t* clientOnly;
  const wchar_t* none;
};
constexpr Tips kChineseTips{L"Teliox: \u9023\u7dda\nTarvo: \u9023\u7dda", L"Teliox: \u9023\u7dda\nTarvo: \u96e2\u7dda",
                            L"Teliox: \u96e2\u7dda\nTarvo: \u9023\u7dda", L"Teliox: \u96e2\u7dda\nTarvo: \u96e2\u7dda"};
constexpr Tips kEnglishTips{L"Teliox: Online\nTarvo: Online", L"Teliox: Online\nTarvo: Offline",
                            L"Teliox: Offline\nTarvo: Online", L"Teliox: Offline\nTarvo: Offline"};

std::string Printable(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) {
    if (c == L'\n') {
      out += "\\n";
    } else if (c >= 0x20 && c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      char code[12];
      std::snprintf(code, sizeof code, "<%04X>", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

// A rectangle of the screen as 32-bit pixels, top row first.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<DWORD> bits;
};

// Draws into a 32-bit bitmap of the given size and returns what it holds.
template <typename Paint>
Pixels DrawPixels(int width, int height, Paint paint) {
  Pixels pixels{width, height, std::vector<DWORD>(static_cast<std::size_t>(width) * height)};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    paint(memory);
    GdiFlush();
    std::copy_n(static_cast<const DWORD*>(bits), pixels.bits.size(), pixels.bits.begin());
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  return pixels;
}

Pixels CaptureScreen(const RECT& area) {
  return DrawPixels(area.right - area.left, area.bottom - area.top, [&](HDC memory) {
    HDC screen = GetDC(nullptr);
    BitBlt(memory, 0, 0, area.right - area.left, area.bottom - area.top, screen, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
  });
}

// An icon's own 32-bit picture, with its alpha channel.
Pixels IconPicture(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return {};
  Pixels picture{kIconSize, kIconSize, std::vector<DWORD>(kIconSize * kIconSize)};
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = kIconSize;
  format.bmiHeader.biHeight = -kIconSize;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  if (!info.hbmColor ||
      GetDIBits(screen, info.hbmColor, 0, kIconSize, picture.bits.data(), &format, DIB_RGB_COLORS) != kIconSize) {
    picture = {};
  }
  ReleaseDC(nullptr, screen);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return picture;
}

// The opaque pixels of `picture` that differ from the screen where the tray draws it, centred.
// Only opaque ones: the tray draws a changed icon over the old one, which shows through the
// translucent edges.
int Mismatches(const Pixels& picture, const Pixels& shown, int* opaque) {
  const int left = (shown.width - picture.width) / 2;
  const int top = (shown.height - picture.height) / 2;
  int differing = 0;
  *opaque = 0;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const DWORD want = picture.bits[static_cast<std::size_t>(y) * picture.width + x];
      if ((want >> 24) != 0xFF) continue;
      ++*opaque;
      const DWORD have = shown.bits[static_cast<std::size_t>(y + top) * shown.width + x + left];
      for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((want >> shift) & 0xFF) - static_cast<int>((have >> shift) & 0xFF)) > 24) {
          ++differing;
          break;
        }
      }
    }
  }
  return differing;
}

// What the tray shows for Teliox.exe at one look.
struct TrayLook {
  std::wstring tip;
  int icon = 0;  // which of the four tray icons shows, 0 when none does
  std::string distances;
};

// Teliox.exe's icon in Wine's stand-alone tray, told from other programs' icons by its tip. The
// cursor is moved for each look and put back where it was at the end.
class WineTray {
 public:
  explicit WineTray(const std::string& telioxPath) {
    GetCursorPos(&cursorBefore_);
    module_ = LoadLibraryExA(telioxPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    for (std::size_t i = 0; i < kIcons.size(); ++i) {
      const HICON icon = module_ ? static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(kIcons[i]), IMAGE_ICON,
                                                                 kIconSize, kIconSize, LR_DEFAULTCOLOR))
                                 : nullptr;
      pictures_[i] = IconPicture(icon);
      if (icon) DestroyIcon(icon);
    }
  }
  ~WineTray() {
    if (module_) FreeLibrary(module_);
    SetCursorPos(cursorBefore_.x, cursorBefore_.y);
  }
  WineTray(const WineTray&) = delete;
  WineTray& operator=(const WineTray&) = delete;

  bool IconsLoaded() const {
    for (const auto& picture : pictures_) {
      if (picture.bits.empty()) return false;
    }
    return true;
  }

  // Waits until the tray shows `icon` with `tip`; false with what it saw last in `seen`.
  bool WaitFor(int icon, const std::wstring& tip, DWORD timeoutMs, std::string& seen) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    seen = "nothing";
    do {
      if (const auto look = Look()) {
        seen = "icon " + std::to_string(look->icon) + " tip \"" + Printable(look->tip) +
               "\" (differing opaque pixels " + look->distances + ")";
        // The screen read is this program's X display; a tray shown on another one never matches.
        if (look->icon == 0) seen += "; no icon matched (is the tray on this program's display?)";
        if (look->icon == icon && look->tip == tip) return true;
      } else {
        seen = problem_;
      }
      e2e::PumpUntil([] { return false; }, 100);
    } while (GetTickCount64() < deadline);
    return false;
  }

 private:
  static constexpr std::array<int, 4> kIcons = {IDI_TRAY_BOTH, IDI_TRAY_HANDSET_ONLY, IDI_TRAY_CLIENT_ONLY,
                                                IDI_TRAY_NONE};

  struct TipSearch {
    DWORD process;
    HWND found;
  };
  static BOOL CALLBACK VisitTip(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TipSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (owner == search->process && IsWindowVisible(window) && std::wstring(cls) == L"tooltips_class32") {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }
  // The tray's tooltip that shows now, if any.
  static HWND ShownTip(DWORD trayProcess) {
    TipSearch search{trayProcess, nullptr};
    EnumWindows(VisitTip, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  std::optional<TrayLook> Look() {
    const HWND tray = FindWindowW(kTrayClass, nullptr);
    if (!tray || !IsWindowVisible(tray)) {
      problem_ = "no stand-alone tray window shown (a desktop or a host tray takes the icons?)";
      return std::nullopt;
    }
    DWORD trayProcess = 0;
    GetWindowThreadProcessId(tray, &trayProcess);
    std::vector<HWND> icons;
    if (IsWindow(known_) && GetParent(known_) == tray) icons.push_back(known_);
    for (HWND icon = FindWindowExW(tray, nullptr, kTrayIconClass, nullptr); icon;
         icon = FindWindowExW(tray, icon, kTrayIconClass, nullptr)) {
      if (icon != known_) icons.push_back(icon);
    }
    problem_ = std::to_string(icons.size()) + " icons in the tray, none with Teliox's tip:";
    for (const HWND icon : icons) {
      std::string why;
      if (auto look = LookAt(tray, trayProcess, icon, why)) {
        known_ = icon;
        return look;
      }
      problem_ += " [" + why + "]";
    }
    return std::nullopt;
  }

  // Off the icon onto the tray's caption while the tip shows: the tip goes, and the next hover
  // shows it anew. A tip that went by itself while the cursor stayed would not come back.
  static void MoveOff(HWND tray, DWORD trayProcess) {
    RECT frame{};
    GetWindowRect(tray, &frame);
    SetCursorPos((frame.left + frame.right) / 2, frame.top + 6);
    e2e::PumpUntil([&] { return ShownTip(trayProcess) == nullptr; }, 1000);
  }

  std::optional<TrayLook> LookAt(HWND tray, DWORD trayProcess, HWND icon, std::string& why) {
    RECT area{};
    why = "gone";
    if (!GetWindowRect(icon, &area)) return std::nullopt;
    const POINT centre{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
    // Another window over the tray would take the cursor and hide the picture.
    if (WindowFromPoint(centre) != icon) {
      SetWindowPos(tray, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      if (!e2e::PumpUntil([&] { return WindowFromPoint(centre) == icon; }, 1000)) {
        why = "covered by another window";
        return std::nullopt;
      }
    }
    MoveOff(tray, trayProcess);
    const Pixels shown = CaptureScreen(area);

    // A second move within the icon if the first one went unnoticed.
    HWND tip = nullptr;
    const auto hover = [&](int dx) {
      SetCursorPos(centre.x + dx, centre.y + dx);
      return e2e::PumpUntil([&] { return (tip = ShownTip(trayProcess)) != nullptr; }, 1200);
    };
    if (!hover(0) && !hover(1)) {
      why = "no tooltip while the cursor rests on it";
      return std::nullopt;
    }
    wchar_t text[128] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(tip, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                             &length)) {
      why = "the tooltip did not answer";
      return std::nullopt;
    }
    MoveOff(tray, trayProcess);
    TrayLook look;
    look.tip.assign(text, std::min<std::size_t>(length, std::size(text) - 1));
    if (look.tip.rfind(L"Teliox", 0) != 0) {
      why = "tip \"" + Printable(look.tip) + "\"";
      return std::nullopt;
    }
    Identify(shown, look);
    return look;
  }

  // The icon whose opaque pixels all show, within a few stray ones; 0 when none does.
  void Identify(const Pixels& shown, TrayLook& look) const {
    if (shown.width < kIconSize || shown.height < kIconSize) return;
    int best = -1;
    for (std::size_t i = 0; i < kIcons.size(); ++i) {
      int opaque = 0;
      const int differing = Mismatches(pictures_[i], shown, &opaque);
      look.distances +=
          (i ? " " : "") + std::to_string(kIcons[i]) + ":" + std::to_string(differing) + "/" + std::to_string(opaque);
      if (opaque > 0 && differing * 50 <= opaque && (best < 0 || differing < best)) {
        best = differing;
        look.icon = kIcons[i];
      }
    }
  }

  POINT cursorBefore_{};
  HMODULE module_ = nullptr;
  std::array<Pixels, 4> pictures_{};
  HWND known_ = nullptr;
  std::string problem_;
};

// The two simulators and Teliox.exe between them, on pipes of this test's own.
class TelioxTray : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string id = std::to_string(GetCurrentProcessId());
    handsetPipe_ = "\\\\.\\pipe\\teliox-e2e-tray-" + id;
    clientPipe_ = "\\\\.\\pipe\\teliox-e2e-tray-client-" + id;
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", handsetPipe_.c_str());
    SetEnvironmentVariableA("HIDMAR_SIM_START", nullptr);  // a plugged-in handset
    ASSERT_TRUE(StartClient()) << "the softphone simulator did not come up";
  }

  void TearDown() override {
    // In order, so its icon leaves the tray with it; by force only when it does not end.
    if (teliox_.Running()) {
      const ULONGLONG closeAt = GetTickCount64();
      if (main_) PostMessageA(main_, RegisterWindowMessageA("PX_CloseApplication"), 0xA0, 0);
      EXPECT_EQ(0u, teliox_.WaitExit(15000)) << "Teliox.exe did not end on its close message";
      std::printf("Teliox.exe ended %llu ms after its close message\n", GetTickCount64() - closeAt);
    }
    teliox_.Kill();
    EndClient();
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", nullptr);
  }

  // The client starts first, and the control connection opens before Teliox.exe starts: a
  // connection sees only what happens after it opened.
  bool StartClient() {
    if (!softphone_.Start("\"" + e2e::SimDemoFolder() + "\\softphone-sim.exe\" --pipe " + clientPipe_)) return false;
    client_ = std::make_unique<softphone_sim::ControlClient>();
    return client_->Connect(clientPipe_, 15000);
  }

  // As a user ends it: its window closes. Its control connection goes first.
  DWORD EndClient() {
    client_.reset();
    if (const HWND window = e2e::TopWindowOf(softphone_.Id(), kClientWindowClass)) {
      PostMessageA(window, WM_CLOSE, 0, 0);
    }
    const DWORD code = softphone_.WaitExit(10000);
    softphone_.Kill();
    return code;
  }

  void StartTeliox(DWORD language) {
    ASSERT_TRUE(e2e::WriteDword(kSettingsKey, "LANGUAGE", language));
    ASSERT_TRUE(teliox_.Start("\"" + TelioxPath() + "\"")) << TelioxPath();
    startedAt_ = GetTickCount64();
    ASSERT_TRUE(e2e::PumpUntil([&] { return (main_ = e2e::MainDialogOf(teliox_.Id())) != nullptr; }, 15000))
        << "no main window of Teliox.exe";
    ASSERT_TRUE(tray_.IconsLoaded()) << "the tray icons could not be loaded from " << TelioxPath();
  }

  // Teliox.exe answers the attach with "PROTOCOL 2" once it counts the client as attached.
  bool ClientAttached(DWORD timeoutMs) { return client_->Wait("cmd PROTOCOL 2", timeoutMs).has_value(); }

  // The first attach comes after the handset's handshake and ring tone upload.
  bool FirstAttach() {
    if (!ClientAttached(30000)) return false;
    std::printf("Teliox.exe start to the client attached: %llu ms\n", GetTickCount64() - startedAt_);
    return true;
  }

  bool TrayShows(int icon, const wchar_t* tip, std::string& seen) {
    const ULONGLONG from = GetTickCount64();
    const bool shown = tray_.WaitFor(icon, tip, kTrayChangeMs, seen);
    std::printf("tray icon %d seen after %llu ms\n", icon, GetTickCount64() - from);
    return shown;
  }

  // The handset simulator's command line, run to its end: 0 when every step succeeded.
  int Handset(const std::string& steps) {
    return e2e::RunToEnd("\"" + e2e::SimDemoFolder() + "\\handset-sim.exe\" --pipe " + handsetPipe_ + " " + steps, 15000);
  }

  static std::string TelioxPath() { return e2e::SimDemoFolder() + "\\Teliox.exe"; }

  e2e::RegistrySnapshot registry_{e2e::kVendorKey};  // restored after every program has ended
  std::string handsetPipe_;
  std::string clientPipe_;
  e2e::StartedProgram softphone_;
  std::unique_ptr<softphone_sim::ControlClient> client_;
  e2e::StartedProgram teliox_;
  HWND main_ = nullptr;
  ULONGLONG startedAt_ = 0;
  WineTray tray_{TelioxPath()};
};

// In the built-in Traditional Chinese. The client-only state never arises by itself: the
// handset's removal detaches the client first, and the client is asked for only once a handset
// is open. The library's attach notification, posted while no handset is there, shows it.
TEST_F(TelioxTray, IconAndTipFollowTheHandsetAndTheClientIsDetachedWhileItIsGone) {
  StartTeliox(2);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(FirstAttach()) << "the client library never attached";
  std::string seen;
  EXPECT_TRUE(TrayShows(IDI_TRAY_BOTH, kChineseTips.both, seen)) << seen;

  const ULONGLONG unpluggedAt = GetTickCount64();
  ASSERT_EQ(0, Handset("--unplug"));
  EXPECT_TRUE(client_->Wait("lib detach", kHandsetChangeMs)) << "the client was not detached from";
  std::printf("unplugged to the client's detach: %llu ms\n", GetTickCount64() - unpluggedAt);
  EXPECT_TRUE(TrayShows(IDI_TRAY_NONE, kChineseTips.none, seen)) << seen;
  const auto state = client_->Command("state");
  EXPECT_TRUE(state && state->find(" attached=0") != std::string::npos) << state.value_or("no answer");

  ASSERT_TRUE(PostMessageA(main_, kClientAttached, 0, 0));
  EXPECT_TRUE(TrayShows(IDI_TRAY_CLIENT_ONLY, kChineseTips.clientOnly, seen)) << seen;
  ASSERT_TRUE(PostMessageA(main_, kClientDetached, 0, 0));
  EXPECT_TRUE(TrayShows(IDI_TRAY_NONE, kChineseTips.none, seen)) << seen;

  const ULONGLONG pluggedAt = GetTickCount64();
  ASSERT_EQ(0, Handset("--plug"));
  EXPECT_TRUE(client_->Wait("lib attach", kHandsetChangeMs)) << "the client was not attached again";
  EXPECT_TRUE(ClientAttached(10000)) << "no PROTOCOL 2 after the attach";
  std::printf("plugged in to attached again: %llu ms\n", GetTickCount64() - pluggedAt);
  EXPECT_TRUE(TrayShows(IDI_TRAY_BOTH, kChineseTips.both, seen)) << seen;
}

// In English. The client library keeps looking for a client while Teliox.exe wants one.
TEST_F(TelioxTray, AClientThatEndsShowsOfflineAndIsAttachedAgainWhenItStartsAgain) {
  StartTeliox(1);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(FirstAttach()) << "the client library never attached";
  std::string seen;
  EXPECT_TRUE(TrayShows(IDI_TRAY_BOTH, kEnglishTips.both, seen)) << seen;

  EXPECT_EQ(0u, EndClient()) << "the softphone simulator did not end on closing its window";
  EXPECT_TRUE(TrayShows(IDI_TRAY_HANDSET_ONLY, kEnglishTips.handsetOnly, seen)) << seen;
  EXPECT_TRUE(teliox_.Running());

  const ULONGLONG startedAt = GetTickCount64();
  ASSERT_TRUE(StartClient()) << "the softphone simulator did not come up again";
  std::optional<std::string> state;
  EXPECT_TRUE(e2e::PumpUntil(
      [&] {
        state = client_->Command("state");
        return state && state->find(" attached=1") != std::string::npos;
      },
      15000))
      << state.value_or("no answer");
  std::printf("client started again to attached: %llu ms\n", GetTickCount64() - startedAt);
  EXPECT_TRUE(TrayShows(IDI_TRAY_BOTH, kEnglishTips.both, seen)) << seen;
}

}  // namespace
