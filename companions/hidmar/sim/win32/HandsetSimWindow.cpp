#include "companions/hidmar/sim/win32/HandsetSimWindow.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "companions/hidmar/sim/SimHandset.h"
#include "companions/hidmar/sim/SimProtocol.h"
#include "companions/hidmar/sim/win32/PipeChannel.h"
#include "platform/win32/Text.h"

namespace hidmar_sim {

namespace {

constexpr wchar_t kClassName[] = L"TelioxHandsetSimulator";
constexpr wchar_t kTitle[] = L"Handset simulator";
constexpr UINT kLinesArrived = WM_APP + 1;
constexpr UINT kDisconnected = WM_APP + 2;
constexpr int kKeyIdBase = 100;
enum : int {
  kIdPlugA = 200,
  kIdPlugB,
  kIdUnplug,
  kIdDropAck,
  kIdRepeat,
  kIdAckDelay,
  kIdSetAckDelay,
  kIdVersionReply,
  kIdOutList,
  kIdInList,
};
constexpr int kListLimit = 200;
// A run of one repeated report rewrites its line's count at most this often (of the lines'
// own times); the run's final count is written when it ends.
constexpr std::uint64_t kRunRewriteMs = 1000;
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 580;

// Where the painted part of the window goes; the lists below paint themselves.
constexpr RECT kPaintedPart = {0, 0, 640, 142};
constexpr RECT kStatePanel = {10, 30, 630, 140};
constexpr RECT kPluggedBadge = {20, 40, 150, 68};
constexpr RECT kRingerBadge = {20, 76, 150, 104};

std::wstring Wide(const std::string& text) { return win32::Utf8ToWide(text); }

std::string Hex2(unsigned value) {
  char text[8];
  wsprintfA(text, "%02X", value);
  return text;
}

std::string Seconds(std::uint64_t ms) {
  char text[32];
  wsprintfA(text, "%lu.%03lu", static_cast<unsigned long>(ms / 1000), static_cast<unsigned long>(ms % 1000));
  return text;
}

class SimulatorWindow {
 public:
  SimulatorWindow(HINSTANCE instance, std::string pipeName) : instance_(instance), pipeName_(std::move(pipeName)) {}

  int Run(int show) {
    if (!Create()) return 1;
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    linker_ = std::thread([this] { LinkLoop(); });
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (!IsDialogMessageW(hwnd_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    stopping_ = true;
    SetEvent(wake_.get());
    linker_.join();
    return 0;
  }

 private:
  // --- the link -------------------------------------------------------------------------------

  // Connects, waits until the connection ends, connects again: a program may come and go.
  void LinkLoop() {
    while (!stopping_) {
      win32::UniqueHandle pipe = PipeChannel::Connect(pipeName_, 500);
      if (!pipe) continue;
      ResetEvent(wake_.get());
      if (stopping_) break;  // the window closed while we connected
      auto channel = std::make_unique<PipeChannel>(
          pipe.release(),
          [this](PipeChannel&, std::string line) {
            {
              std::lock_guard lock(inboxMutex_);
              inbox_.push_back(std::move(line));
            }
            PostMessageW(hwnd_, kLinesArrived, 0, 0);
          },
          [this] { SetEvent(wake_.get()); });
      channel->Start();
      {
        std::lock_guard lock(channelMutex_);
        channel_ = std::move(channel);
      }
      WaitForSingleObject(wake_.get(), INFINITE);
      {
        std::lock_guard lock(channelMutex_);
        channel = std::move(channel_);
      }
      channel.reset();
      if (!stopping_) PostMessageW(hwnd_, kDisconnected, 0, 0);
    }
  }

  void Send(const std::string& command) {
    const std::string before = answer_;
    {
      std::lock_guard lock(channelMutex_);
      if (channel_ && !channel_->Closed()) {
        channel_->Send(command);
        answer_.clear();
      } else {
        answer_ = "Not connected: \"" + command + "\" was not sent";
      }
    }
    if (answer_ != before) InvalidateRect(hwnd_, &kPaintedPart, TRUE);
  }

  // --- the window -----------------------------------------------------------------------------

  bool Create() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &SimulatorWindow::Proc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return false;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    hwnd_ = CreateWindowExW(0, kClassName, kTitle, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    return hwnd_ != nullptr;
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      auto* self = static_cast<SimulatorWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<SimulatorWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->OnMessage(msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
      case WM_CREATE:
        CreateControls();
        return 0;
      case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
      case WM_PAINT:
        Paint();
        return 0;
      case kLinesArrived:
        TakeLines();
        return 0;
      case kDisconnected:
        connectedTo_.clear();
        state_.reset();
        InvalidateRect(hwnd_, &kPaintedPart, TRUE);
        return 0;
      case WM_DESTROY:
        DeleteObject(boldFont_);
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
  }

  HWND Control(const wchar_t* cls, const std::string& text, DWORD style, int x, int y, int w, int h, int id) {
    HWND control =
        CreateWindowExW(cls == std::wstring(L"LISTBOX") || cls == std::wstring(L"EDIT") ? WS_EX_CLIENTEDGE : 0, cls,
                        Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  }

  HWND Button(const std::string& text, int x, int y, int w, int id) {
    return Control(L"BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, x, y, w, 26, id);
  }

  void CreateControls() {
    font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW bold{};
    GetObjectW(font_, sizeof bold, &bold);
    bold.lfWeight = FW_BOLD;
    boldFont_ = CreateFontIndirectW(&bold);

    Button("Plug 0x1402", 10, 148, 100, kIdPlugA);
    Button("Plug 0x1403", 114, 148, 100, kIdPlugB);
    Button("Unplug", 218, 148, 100, kIdUnplug);
    Button("Drop next ack", 414, 148, 106, kIdDropAck);
    Button("Repeat last report", 524, 148, 106, kIdRepeat);

    Control(L"STATIC", "Keys", 0, 10, 184, 200, 16, -1);
    // Function keys in two rows, then the keypad with '+' beside it.
    const auto& keys = HandsetKeys();
    const std::uint8_t rows[2][6] = {{0x1C, 0x1D, 0x1E, 0x23, 0x24, 0x2F}, {0x20, 0x1F, 0x32, 0x33, 0xC2, 0xC3}};
    const std::uint8_t pad[4][4] = {
        {0xB1, 0xB2, 0xB3, 0xC1}, {0xB4, 0xB5, 0xB6, 0}, {0xB7, 0xB8, 0xB9, 0}, {0xBA, 0xB0, 0xBB, 0}};
    auto keyButton = [&](std::uint8_t code, int x, int y, int w) {
      for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].code == code) Button(keys[i].label, x, y, w, kKeyIdBase + static_cast<int>(i));
      }
    };
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 6; ++c) keyButton(rows[r][c], 10 + c * 104, 202 + r * 30, 100);
    }
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) {
        if (pad[r][c]) keyButton(pad[r][c], 10 + c * 54, 266 + r * 30, 50);
      }
    }

    Control(L"STATIC", "Acknowledgement delay (ms)", 0, 260, 272, 160, 16, -1);
    Control(L"EDIT", "5", ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP, 424, 268, 60, 22, kIdAckDelay);
    Button("Set", 490, 266, 60, kIdSetAckDelay);
    Control(L"STATIC", "Version requests", 0, 260, 306, 160, 16, -1);
    HWND combo =
        Control(L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, 424, 302, 126, 120, kIdVersionReply);
    for (const wchar_t* item : {L"normal", L"silent", L"ack"}) {
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);

    Control(L"STATIC", "Written by the program (newest first)", 0, 10, 392, 300, 16, -1);
    Control(L"STATIC", "Sent to the program (newest first)", 0, 325, 392, 300, 16, -1);
    outList_ = Control(L"LISTBOX", "", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 10, 410, 305, 160, kIdOutList);
    inList_ = Control(L"LISTBOX", "", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 325, 410, 305, 160, kIdInList);
    out_.list = outList_;
    in_.list = inList_;
  }

  void OnCommand(int id, int code) {
    const auto& keys = HandsetKeys();
    if (id >= kKeyIdBase && id < kKeyIdBase + static_cast<int>(keys.size())) {
      Send(std::string("key ") + keys[static_cast<std::size_t>(id - kKeyIdBase)].name);
      return;
    }
    switch (id) {
      case kIdPlugA:
        Send("plug 0x1402 1 4");
        break;
      case kIdPlugB:
        Send("plug 0x1403 1 4");
        break;
      case kIdUnplug:
        Send("unplug");
        break;
      case kIdDropAck:
        Send("drop-acks " + std::to_string((state_ ? state_->drops : 0) + 1));
        break;
      case kIdRepeat:
        Send("repeat");
        break;
      case kIdSetAckDelay: {
        const UINT ms = GetDlgItemInt(hwnd_, kIdAckDelay, nullptr, FALSE);
        Send("ack-delay " + std::to_string(ms));
        break;
      }
      case kIdVersionReply:
        if (code == CBN_SELCHANGE) {
          const auto pick = SendDlgItemMessageW(hwnd_, kIdVersionReply, CB_GETCURSEL, 0, 0);
          const char* modes[] = {"normal", "silent", "ack"};
          if (pick >= 0 && pick < 3) Send(std::string("version-reply ") + modes[pick]);
        }
        break;
      default:
        break;
    }
  }

  // One line for a run of the same report: the program repeats its status report every 100 ms
  // or so, and the handset acknowledges each, so a list of single lines would hide the rest.
  struct ReportRun {
    HWND list = nullptr;
    std::string bytes;  // the report on the newest line; empty: no run
    int repeats = 0;
    std::string text;        // what the newest line should say
    std::uint64_t time = 0;  // of the newest repeat
    bool stale = false;
    std::uint64_t shownAt = 0;
  };

  void AddReport(ReportRun& run, std::uint64_t time, const std::string& bytes, bool& listChanged) {
    if (!run.bytes.empty() && bytes == run.bytes && SendMessageW(run.list, LB_GETCOUNT, 0, 0) > 0) {
      ++run.repeats;
      run.time = time;
      run.text = Seconds(time) + "   " + bytes + "   (" + std::to_string(run.repeats + 1) + " times)";
      run.stale = true;
      // Rewriting the line for every repeat redraws the list ten times a second at rest.
      if (time - run.shownAt < kRunRewriteMs) return;
      RewriteNewest(run);
      listChanged = true;
      return;
    }
    EndRun(run, listChanged);
    run.bytes = bytes;
    run.repeats = 0;
    run.shownAt = time;
    AddToList(run.list, Seconds(time) + "   " + bytes);
    listChanged = true;
  }

  // The run's line gets its final count; the next line starts afresh.
  void EndRun(ReportRun& run, bool& listChanged) {
    if (run.stale) {
      RewriteNewest(run);
      listChanged = true;
    }
    run.bytes.clear();
  }

  void RewriteNewest(ReportRun& run) {
    SendMessageW(run.list, LB_DELETESTRING, 0, 0);
    AddToList(run.list, run.text);
    run.stale = false;
    run.shownAt = run.time;
  }

  void TakeLines() {
    std::deque<std::string> lines;
    {
      std::lock_guard lock(inboxMutex_);
      lines.swap(inbox_);
    }
    // Compared afterwards: the painted part is drawn again only when what it shows changed.
    const std::string before = Painted();
    bool outChanged = false;
    bool inChanged = false;
    // A batch redraws each list once at the end rather than once a line.
    const bool batch = lines.size() > 1;
    if (batch) SetListsRedraw(FALSE);
    for (const auto& line : lines) {
      const auto event = ParseEvent(line);
      if (!event) continue;
      switch (event->kind) {
        case Event::Kind::kHello:
          connectedTo_ = event->text;
          out_ = ReportRun();
          out_.list = outList_;
          in_ = ReportRun();
          in_.list = inList_;
          ClearList(outList_);
          ClearList(inList_);
          outChanged = inChanged = true;
          break;
        case Event::Kind::kState:
          if (!state_ || state_->ackDelay != event->state.ackDelay) {
            SetDlgItemInt(hwnd_, kIdAckDelay, static_cast<UINT>(event->state.ackDelay), FALSE);
          }
          if (!state_ || state_->versionReply != event->state.versionReply) {
            SendDlgItemMessageW(hwnd_, kIdVersionReply, CB_SETCURSEL, static_cast<WPARAM>(event->state.versionReply),
                                0);
          }
          state_ = event->state;
          break;
        case Event::Kind::kOut:
          AddReport(out_, event->time, line.substr(line.find(' ', 4) + 1), outChanged);
          break;
        case Event::Kind::kIn:
          AddReport(in_, event->time, line.substr(line.find(' ', 3) + 1), inChanged);
          break;
        case Event::Kind::kLib:
          EndRun(out_, outChanged);
          AddToList(outList_, Seconds(event->time) + "   library: " + event->text);
          outChanged = true;
          break;
        case Event::Kind::kReply:
          if (!event->ok) answer_ = "Refused: " + event->text;
          break;
      }
    }
    if (batch) {
      SetListsRedraw(TRUE);
      if (outChanged) InvalidateRect(outList_, nullptr, TRUE);
      if (inChanged) InvalidateRect(inList_, nullptr, TRUE);
    }
    if (Painted() != before) InvalidateRect(hwnd_, &kPaintedPart, TRUE);
  }

  void SetListsRedraw(BOOL on) {
    SendMessageW(outList_, WM_SETREDRAW, on, 0);
    SendMessageW(inList_, WM_SETREDRAW, on, 0);
  }

  // Everything the painted part shows.
  std::string Painted() const {
    return connectedTo_ + '\n' + answer_ + '\n' + (state_ ? FormatState(*state_) : std::string("-"));
  }

  void AddToList(HWND list, const std::string& text) {
    SendMessageW(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
    const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count > kListLimit) SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(count - 1), 0);
  }

  static void ClearList(HWND list) { SendMessageW(list, LB_RESETCONTENT, 0, 0); }

  // --- painting -------------------------------------------------------------------------------

  void Text(HDC dc, const std::string& text, int x, int y, COLORREF color = RGB(0, 0, 0)) {
    SetTextColor(dc, color);
    const std::wstring wide = Wide(text);
    TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
  }

  void Badge(HDC dc, const RECT& rect, const std::string& text, COLORREF fill) {
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
    RECT inner = rect;
    SetTextColor(dc, RGB(255, 255, 255));
    HGDIOBJ old = SelectObject(dc, boldFont_);
    const std::wstring wide = Wide(text);
    DrawTextW(dc, wide.c_str(), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
  }

  void RingerBadge(HDC dc, const HandsetState& s) {
    // An unplugged handset has no power: the model keeps what it had until the next plug-in,
    // but none of it shows.
    if (!s.plugged) {
      Badge(dc, kRingerBadge, "NO POWER", RGB(160, 160, 160));
      return;
    }
    switch (s.ringer) {
      case sim::HandsetModel::Ringer::kRinging:
        Badge(dc, kRingerBadge, "RINGING", RGB(200, 0, 0));
        break;
      case sim::HandsetModel::Ringer::kSilentRinging:
        Badge(dc, kRingerBadge, "SILENT RING", RGB(220, 120, 0));
        break;
      case sim::HandsetModel::Ringer::kQuiet:
        Badge(dc, kRingerBadge, "QUIET", RGB(128, 128, 128));
        break;
    }
  }

  void Lamp(HDC dc, int x, int y, bool on, COLORREF lit, const std::string& label) {
    HBRUSH brush = CreateSolidBrush(on ? lit : RGB(200, 200, 200));
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Ellipse(dc, x, y, x + 18, y + 18);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
    Text(dc, label + (on ? " on" : " off"), x + 24, y + 2);
  }

  void Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    Text(dc,
         connectedTo_.empty() ? "Waiting for a program with the sim Hidmar.dll on " + pipeName_
                              : "Connected to " + connectedTo_,
         10, 8);
    if (!answer_.empty()) Text(dc, answer_, 360, 8, RGB(180, 0, 0));
    DrawEdge(dc, const_cast<RECT*>(&kStatePanel), EDGE_ETCHED, BF_RECT);
    if (!state_) {
      Badge(dc, kPluggedBadge, "NO LIBRARY", RGB(128, 128, 128));
    } else {
      const HandsetState& s = *state_;
      Badge(dc, kPluggedBadge, s.plugged ? "PLUGGED IN" : "UNPLUGGED", s.plugged ? RGB(0, 128, 64) : RGB(96, 96, 96));
      char line[160];
      wsprintfA(line, "Product 0x%04X   firmware %u.%u", s.product, s.major, s.minor);
      Text(dc, line, 164, 42);
      if (s.opened && s.window == SimHandset::kDeviceWindow) {
        wsprintfA(line, "A HID device (11F1:%04X) for programs with the real Hidmar.dll", s.product);
        Text(dc, line, 164, 56);
      } else if (s.opened) {
        wsprintfA(line, "Opened by the program: window 0x%08lX, message 0x%04lX", static_cast<unsigned long>(s.window),
                  static_cast<unsigned long>(s.message));
        Text(dc, line, 164, 56);
      } else if (s.plugged) {
        Text(dc, "Not opened by the program", 164, 56);
      }
      RingerBadge(dc, s);
      Lamp(dc, 164, 82, s.plugged && s.indicator, RGB(0, 200, 0), "Indicator");
      Lamp(dc, 300, 82, s.plugged && s.activity, RGB(240, 180, 0), "Key activity");
      std::string tone = "Ring tone: ";
      if (s.tone) {
        for (std::size_t i = 0; i < s.tone->size(); ++i) tone += (i ? " " : "") + Hex2((*s.tone)[i]);
      } else {
        tone += "none";
      }
      tone += "   (" + std::to_string(s.uploads) + " uploads)";
      Text(dc, tone, 20, 114);
      std::string faults =
          "Acks dropped next: " + std::to_string(s.drops) + "   delay " + std::to_string(s.ackDelay) + " ms";
      Text(dc, faults, 440, 114);
    }
    SelectObject(dc, oldFont);
    EndPaint(hwnd_, &ps);
  }

  HINSTANCE instance_;
  const std::string pipeName_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HWND outList_ = nullptr;
  HWND inList_ = nullptr;

  std::string connectedTo_;
  ReportRun out_;
  ReportRun in_;
  std::optional<HandsetState> state_;
  std::string answer_;

  std::atomic<bool> stopping_{false};
  win32::UniqueHandle wake_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::mutex channelMutex_;
  std::unique_ptr<PipeChannel> channel_;
  std::mutex inboxMutex_;
  std::deque<std::string> inbox_;
  std::thread linker_;
};

}  // namespace

int RunSimulatorWindow(HINSTANCE instance, const std::string& pipeName, int show) {
  SimulatorWindow window(instance, pipeName);
  return window.Run(show);
}

}  // namespace hidmar_sim
