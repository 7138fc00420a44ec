#include "companions/tarvoapi/sim/win32/SimWindow.h"

#include <commctrl.h>

#include <ctime>
#include <span>

#include "companions/tarvoapi/Protocol.h"

namespace softphone_sim {

namespace {

using MainWindow = SoftphoneSim::Model::MainWindow;

constexpr UINT kRefreshMessage = WM_APP + 10;
constexpr UINT kEventsMessage = WM_APP + 11;
constexpr UINT kMoveMessage = WM_APP + 12;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr std::size_t kMaxLogLines = 1000;

enum : int {
  kCalls = 100,
  kPartner,
  kIncoming,
  kAnswer,
  kHold,
  kHangUp,
  kPresence,
  kVoicemail,
  kMute,
  kDetach,
  kRunning,
  kAttachAnswer,
  kAllow,
  kDeny,
  kMessageWindow,
  kLog,
};

constexpr const char* kPresences[] = {"ONLINE", "AWAY", "DND", "NA", "INVISIBLE", "OFFLINE"};
constexpr const char* kAnswers[] = {"accept", "pending", "refuse"};
constexpr const wchar_t* kAnswerLabels[] = {L"Accept", L"Ask the user", L"Refuse"};

// Client texts (partners, device names) are ANSI, as the client's command language is.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

void SetText(HWND hwnd, const std::wstring& text) {
  if (WindowText(hwnd) != text) SetWindowTextW(hwnd, text.c_str());
}

// "2 new, 1 played, #3 (bob) playing": what the user's voicemails are doing.
std::wstring VoicemailSummary(const std::vector<SoftphoneSim::Model::Voicemail>& voicemails) {
  if (voicemails.empty()) return L"none";
  int unplayed = 0, played = 0;
  std::wstring playing;
  for (const auto& voicemail : voicemails) {
    if (voicemail.status == sim::kVoicemailUnplayed) ++unplayed;
    if (voicemail.status == sim::kVoicemailPlayed) ++played;
    if (voicemail.status == sim::kVoicemailPlaying) {
      playing += L", #" + std::to_wstring(voicemail.id) + L" (" + Wide(voicemail.partner) + L") playing";
    }
  }
  return std::to_wstring(voicemails.size()) + L": " + std::to_wstring(unplayed) + L" new, " + std::to_wstring(played) +
         L" played" + playing;
}

std::wstring HexWindow(std::uintptr_t value) {
  wchar_t text[16];
  wsprintfW(text, L"0x%08lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace

bool SimWindow::Create(HINSTANCE instance, int show) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &SimWindow::Proc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  const std::wstring className = Wide(tarvoapi::kClientWindowClass);
  windowClass.lpszClassName = className.c_str();
  if (!RegisterClassExW(&windowClass)) return false;

  RECT frame{0, 0, 980, 470};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  AdjustWindowRect(&frame, style, FALSE);
  hwnd_ = CreateWindowExW(0, className.c_str(), L"Tarvo (simulated client)", style, CW_USEDEFAULT, CW_USEDEFAULT,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  return true;
}

LRESULT CALLBACK SimWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<SimWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<SimWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  try {
    return self->OnMessage(msg, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

LRESULT SimWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      Refresh();
      return 0;
    case WM_COPYDATA: {
      // The library: wParam is its window, the message kind and body as the protocol has them.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data || (data->cbData > 0 && !data->lpData)) return 0;
      const std::span body(static_cast<const std::uint8_t*>(data->lpData), data->cbData);
      const LRESULT answer =
          sim_.FromLibrary(static_cast<std::uintptr_t>(wParam), static_cast<std::uint32_t>(data->dwData), body);
      Changed();
      return answer;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
      if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == kPresence) {
        const auto index = SendMessageW(presence_, CB_GETCURSEL, 0, 0);
        if (index >= 0 && index < static_cast<LRESULT>(std::size(kPresences))) {
          Do(std::string("presence ") + kPresences[index]);
        }
      }
      if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == kAttachAnswer) {
        const auto index = SendMessageW(answer_, CB_GETCURSEL, 0, 0);
        if (index >= 0 && index < static_cast<LRESULT>(std::size(kAnswers))) {
          Do(std::string("attach-answer ") + kAnswers[index]);
        }
      }
      return 0;
    case WM_ACTIVATE:
      // The user's own clicks move the window as well; the model follows.
      sim_.SetMainWindow(LOWORD(wParam) == WA_INACTIVE ? MainWindow::Background : MainWindow::Foreground);
      break;
    case kMoveMessage:
      if (static_cast<MainWindow>(wParam) == MainWindow::Foreground && GetForegroundWindow() != hwnd_) {
        ShowWindow(hwnd_, SW_RESTORE);
        SetForegroundWindow(hwnd_);
      } else if (static_cast<MainWindow>(wParam) == MainWindow::Background && GetForegroundWindow() == hwnd_) {
        ShowWindow(hwnd_, SW_MINIMIZE);
      }
      return 0;
    case kRefreshMessage:
      refreshPosted_ = false;
      Refresh();
      return 0;
    case kEventsMessage:
      ShowEvents();
      return 0;
    case WM_TIMER:
      if (wParam == kRefreshTimer) {
        // A library's process that ended said nothing: its window is simply gone.
        const auto library = sim_.Snapshot().library;
        if (library && !IsWindow(reinterpret_cast<HWND>(library))) sim_.LibraryGone(library);
        Refresh();
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd_, kRefreshTimer);
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (font_) DeleteObject(font_);
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

HWND SimWindow::Add(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y, int width, int height,
                    int id) {
  const DWORD exStyle = (wcscmp(windowClass, WC_LISTVIEWW) == 0 || wcscmp(windowClass, L"LISTBOX") == 0 ||
                         wcscmp(windowClass, L"EDIT") == 0)
                            ? WS_EX_CLIENTEDGE
                            : 0;
  HWND control = CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE)), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

void SimWindow::CreateControls() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);

  for (int i = 0; i < 3; ++i) status_[i] = Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 10, 10 + 20 * i, 600, 18, -1);

  Add(L"STATIC", L"Calls", SS_LEFT, 10, 76, 200, 16, -1);
  calls_ =
      Add(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP, 10, 94, 600, 220, kCalls);
  ListView_SetExtendedListViewStyle(calls_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  const struct {
    const wchar_t* title;
    int width;
  } columns[] = {{L"Id", 50}, {L"Status", 110}, {L"Partner", 236}, {L"Conference", 90}, {L"Direction", 90}};
  for (int i = 0; i < 5; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(columns[i].title);
    column.cx = columns[i].width;
    column.iSubItem = i;
    SendMessageW(calls_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }

  Add(L"STATIC", L"Partner", SS_LEFT, 10, 327, 60, 16, -1);
  partner_ = Add(L"EDIT", L"alice", ES_AUTOHSCROLL | WS_TABSTOP, 75, 323, 140, 24, kPartner);
  Add(L"BUTTON", L"Incoming call", BS_PUSHBUTTON | WS_TABSTOP, 220, 322, 110, 26, kIncoming);
  Add(L"BUTTON", L"Answer", BS_PUSHBUTTON | WS_TABSTOP, 335, 322, 80, 26, kAnswer);
  Add(L"BUTTON", L"Hold", BS_PUSHBUTTON | WS_TABSTOP, 420, 322, 80, 26, kHold);
  Add(L"BUTTON", L"Hang up", BS_PUSHBUTTON | WS_TABSTOP, 505, 322, 105, 26, kHangUp);

  Add(L"STATIC", L"Presence", SS_LEFT, 10, 361, 60, 16, -1);
  presence_ = Add(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 75, 357, 140, 200, kPresence);
  for (const char* presence : kPresences) {
    SendMessageW(presence_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(presence).c_str()));
  }
  SendMessageW(presence_, CB_SETCURSEL, 0, 0);
  mute_ = Add(L"BUTTON", L"Mute", BS_PUSHBUTTON | WS_TABSTOP, 220, 356, 110, 26, kMute);
  Add(L"BUTTON", L"Voicemail", BS_PUSHBUTTON | WS_TABSTOP, 335, 356, 80, 26, kVoicemail);
  Add(L"BUTTON", L"Detach", BS_PUSHBUTTON | WS_TABSTOP, 420, 356, 80, 26, kDetach);
  running_ = Add(L"BUTTON", L"Quit client", BS_PUSHBUTTON | WS_TABSTOP, 505, 356, 105, 26, kRunning);

  Add(L"STATIC", L"Attach", SS_LEFT, 10, 395, 60, 16, -1);
  answer_ = Add(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 75, 391, 140, 200, kAttachAnswer);
  for (const wchar_t* label : kAnswerLabels) SendMessageW(answer_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
  SendMessageW(answer_, CB_SETCURSEL, 0, 0);
  Add(L"BUTTON", L"Allow", BS_PUSHBUTTON | WS_TABSTOP, 220, 390, 110, 26, kAllow);
  Add(L"BUTTON", L"Deny", BS_PUSHBUTTON | WS_TABSTOP, 335, 390, 80, 26, kDeny);
  messageWindow_ =
      Add(L"BUTTON", L"Open message window", BS_PUSHBUTTON | WS_TABSTOP, 420, 390, 190, 26, kMessageWindow);

  result_ = Add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 10, 432, 600, 18, -1);

  Add(L"STATIC", L"Library messages (received and sent)", SS_LEFT, 625, 10, 345, 16, -1);
  log_ = Add(L"LISTBOX", L"", LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL | WS_HSCROLL, 625, 30, 345, 420, kLog);
  SendMessageW(log_, LB_SETHORIZONTALEXTENT, 900, 0);
}

void SimWindow::OnCommand(int id) {
  switch (id) {
    case kIncoming: {
      const std::string partner = Narrow(WindowText(partner_));
      Do("incoming " + (partner.empty() ? std::string("alice") : partner));
      break;
    }
    case kAnswer:
    case kHold:
    case kHangUp: {
      const int call = SelectedCall();
      if (call <= 0) {
        SetText(result_, L"Select a call first.");
        break;
      }
      const char* verb = id == kAnswer ? "answer " : id == kHold ? "hold " : "hangup ";
      Do(verb + std::to_string(call));
      break;
    }
    case kMute:
      Do(shownMuted_ ? "mute off" : "mute on");
      break;
    case kVoicemail: {
      // A new unplayed voicemail from the partner, numbered after the ones there are.
      const std::string partner = Narrow(WindowText(partner_));
      const auto state = sim_.Snapshot();
      Do("voicemail " + std::to_string(state.voicemails + 1) + " " +
         std::to_string(static_cast<long long>(time(nullptr))) + " 5 " + (partner.empty() ? "alice" : partner));
      break;
    }
    case kDetach:
      Do("detach");
      break;
    case kRunning:
      Do(shownRunning_ ? "stop" : "start");
      break;
    case kAllow:
      Do("allow");
      break;
    case kDeny:
      Do("deny");
      break;
    case kMessageWindow:
      Do(shownMessageWindow_ ? "message-window closed" : "message-window open");
      break;
    default:
      break;
  }
}

void SimWindow::Do(const std::string& command) {
  const std::string answer = sim_.Control(command);
  SetText(result_, Wide(command + ": " + answer));
  Refresh();
}

int SimWindow::SelectedCall() const {
  const int item = ListView_GetNextItem(calls_, -1, LVNI_SELECTED);
  if (item < 0) return shownCalls_.size() == 1 ? shownCalls_.front().id : 0;
  return item < static_cast<int>(shownCalls_.size()) ? shownCalls_[static_cast<std::size_t>(item)].id : 0;
}

void SimWindow::Changed() {
  if (hwnd_ && !refreshPosted_.exchange(true)) PostMessageW(hwnd_, kRefreshMessage, 0, 0);
}

void SimWindow::AddEvent(const std::string& line) {
  {
    std::lock_guard lock(eventsMutex_);
    events_.push_back(line);
    if (events_.size() > kMaxLogLines) events_.pop_front();
    if (eventsPosted_ || !hwnd_) return;
    eventsPosted_ = true;
  }
  PostMessageW(hwnd_, kEventsMessage, 0, 0);
  Changed();
}

void SimWindow::MainWindowMoved(MainWindow state) {
  if (hwnd_) PostMessageW(hwnd_, kMoveMessage, static_cast<WPARAM>(state), 0);
}

void SimWindow::ShowEvents() {
  std::deque<std::string> events;
  {
    std::lock_guard lock(eventsMutex_);
    events.swap(events_);
    eventsPosted_ = false;
  }
  SendMessageW(log_, WM_SETREDRAW, FALSE, 0);
  for (const auto& line : events) SendMessageW(log_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
  auto count = SendMessageW(log_, LB_GETCOUNT, 0, 0);
  while (count > static_cast<LRESULT>(kMaxLogLines)) count = SendMessageW(log_, LB_DELETESTRING, 0, 0);
  SendMessageW(log_, LB_SETTOPINDEX, static_cast<WPARAM>(count > 0 ? count - 1 : 0), 0);
  SendMessageW(log_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(log_, nullptr, TRUE);
}

void SimWindow::Refresh() {
  const auto state = sim_.Snapshot();
  std::wstring line = state.running ? L"Client running" : L"Client not running";
  if (state.attached) {
    line += L"  \x2022  attached to library window " + HexWindow(state.library) + L" (process " +
            std::to_wstring(state.libraryProcess) + L")";
  } else if (state.library) {
    line += L"  \x2022  library window " + HexWindow(state.library) + L" not attached";
  } else {
    line += L"  \x2022  no library";
  }
  SetText(status_[0], line);
  // Only a library's window can vanish unannounced: with none, the window rests.
  if (static_cast<bool>(state.library) != watching_) {
    watching_ = state.library != 0;
    if (watching_) {
      SetTimer(hwnd_, kRefreshTimer, 500, nullptr);
    } else {
      KillTimer(hwnd_, kRefreshTimer);
    }
  }
  SetText(status_[1], L"Presence: " + Wide(state.presence) + L"    Microphone: " + (state.muted ? L"muted" : L"on") +
                          L"    Message window: " + (state.messageWindow ? L"open" : L"closed") + L"    Recent call: " +
                          Wide(state.recentHandle.value_or("-")));
  SetText(status_[2], L"Audio in: " + Wide(state.audioIn) + L"    Audio out: " + Wide(state.audioOut) +
                          L"    Voicemails: " + VoicemailSummary(state.voicemailList));

  if (state.muted != shownMuted_) SetText(mute_, state.muted ? L"Unmute" : L"Mute");
  if (state.running != shownRunning_) SetText(running_, state.running ? L"Quit client" : L"Start client");
  if (state.messageWindow != shownMessageWindow_) {
    SetText(messageWindow_, state.messageWindow ? L"Close message window" : L"Open message window");
  }
  const auto answerIndex = static_cast<WPARAM>(state.answer == SoftphoneSim::Model::AttachAnswer::Accept    ? 0
                                               : state.answer == SoftphoneSim::Model::AttachAnswer::Pending ? 1
                                                                                                            : 2);
  if (state.answer != shownAnswer_) SendMessageW(answer_, CB_SETCURSEL, answerIndex, 0);
  shownAnswer_ = state.answer;
  // The choices follow changes made elsewhere (the pipe), and otherwise stay as the user left them.
  if (state.presence != shownPresence_) {
    for (std::size_t i = 0; i < std::size(kPresences); ++i) {
      if (state.presence == kPresences[i]) SendMessageW(presence_, CB_SETCURSEL, i, 0);
    }
  }
  shownPresence_ = state.presence;
  shownMuted_ = state.muted;
  shownRunning_ = state.running;
  shownMessageWindow_ = state.messageWindow;

  const auto same = [](const SoftphoneSim::Model::Call& a, const SoftphoneSim::Model::Call& b) {
    return a.id == b.id && a.status == b.status && a.partner == b.partner && a.conference == b.conference &&
           a.incoming == b.incoming;
  };
  if (std::equal(state.calls.begin(), state.calls.end(), shownCalls_.begin(), shownCalls_.end(), same)) return;
  const int selected = SelectedCall();
  ListView_DeleteAllItems(calls_);
  int row = 0;
  for (const auto& call : state.calls) {
    std::wstring cells[5] = {std::to_wstring(call.id), Wide(call.status), Wide(call.partner),
                             call.conference > 0 ? std::to_wstring(call.conference) : L"-",
                             call.incoming ? L"incoming" : L"outgoing"};
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = cells[0].data();
    SendMessageW(calls_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int column = 1; column < 5; ++column) {
      LVITEMW cell{};
      cell.iSubItem = column;
      cell.pszText = cells[column].data();
      SendMessageW(calls_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    }
    if (call.id == selected) ListView_SetItemState(calls_, row, LVIS_SELECTED, LVIS_SELECTED);
    ++row;
  }
  shownCalls_ = state.calls;
}

}  // namespace softphone_sim
