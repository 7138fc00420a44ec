// The simulated client's main window (class "tTvMainForm.UnicodeClass", the class the library
// looks for): the calls with their status, partner and conference, presence, mute, audio devices,
// the attached library, and what the library sent; buttons for what the user of the client does
// (an incoming call, answer, hold, hang up, presence, mute, detach, quitting the client, the
// answer to attach requests). It also receives the library's WM_COPYDATA.
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "companions/tarvoapi/sim/SoftphoneSim.h"

namespace softphone_sim {

class SimWindow {
 public:
  explicit SimWindow(SoftphoneSim& sim) : sim_(sim) {}
  SimWindow(const SimWindow&) = delete;
  SimWindow& operator=(const SimWindow&) = delete;

  bool Create(HINSTANCE instance, int show);
  HWND Handle() const { return hwnd_; }

  // From any thread: an event line for the log, and "something changed, show it".
  void AddEvent(const std::string& line);
  void Changed();
  // From any thread: the model moved the main window (FOCUS, MinimizeTarvo).
  void MainWindowMoved(SoftphoneSim::Model::MainWindow state);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  HWND Add(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y, int width, int height, int id);
  void OnCommand(int id);
  void Do(const std::string& command);
  int SelectedCall() const;
  void Refresh();
  void ShowEvents();

  SoftphoneSim& sim_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  HWND status_[3] = {};
  HWND calls_ = nullptr;
  HWND partner_ = nullptr;
  HWND presence_ = nullptr;
  HWND answer_ = nullptr;
  HWND mute_ = nullptr;
  HWND running_ = nullptr;
  HWND messageWindow_ = nullptr;
  HWND log_ = nullptr;
  HWND result_ = nullptr;
  std::vector<SoftphoneSim::Model::Call> shownCalls_;
  std::string shownPresence_;
  SoftphoneSim::Model::AttachAnswer shownAnswer_ = SoftphoneSim::Model::AttachAnswer::Accept;
  bool shownMuted_ = false;
  bool shownRunning_ = true;
  bool shownMessageWindow_ = false;
  bool watching_ = false;  // the timer that notices a library's window gone
  std::atomic<bool> refreshPosted_{false};

  std::mutex eventsMutex_;
  std::deque<std::string> events_;
  bool eventsPosted_ = false;
};

}  // namespace softphone_sim
