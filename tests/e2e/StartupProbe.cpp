// startup_probe RUNS PROGRAM...: the time from starting each program to its tray icon, the
// programs taking turns, RUNS times each after one start of each that is not counted (the first
// start of a program pays for reading its files). Each program is started from its own folder,
// as Explorer would, and polled every millisecond: the icon is there once the tray takes a
// modify of icon 1 of one of the program's top-level windows (a modify that changes nothing
// succeeds only for an icon the tray holds). Then the program is asked to close as the installer
// asks ("PX_CloseApplication", 0xA0) and waited for, so every start finds the desktop as the
// first did. Prints every start, then each program's median and range and, for each program
// after the first, its median against the first program's and the median of the per-run ratios.
// tools/startup-time.sh runs it with trivial_tray.exe first and Teliox.exe second.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/ProbeTime.h"

namespace {

using e2e::NowMs;

struct WindowSearch {
  DWORD process;
  std::vector<HWND> found;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> TopWindowsOf(DWORD process) {
  WindowSearch search{process, {}};
  EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HasTrayIcon(DWORD process) {
  for (HWND window : TopWindowsOf(process)) {
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    if (Shell_NotifyIconW(NIM_MODIFY, &icon)) return true;
  }
  return false;
}

// Milliseconds from CreateProcess to the icon; negative when the program failed to show one.
double StartToTrayIcon(const std::string& path) {
  const std::string folder = path.substr(0, path.find_last_of("\\/"));
  std::string commandLine = "\"" + path + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const double start = NowMs();
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &info)) {
    std::fprintf(stderr, "cannot start %s (%lu)\n", path.c_str(), GetLastError());
    return -1;
  }
  CloseHandle(info.hThread);
  double shown = -1;
  while (NowMs() - start < 30000) {
    if (HasTrayIcon(info.dwProcessId)) {
      shown = NowMs() - start;
      break;
    }
    if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  const UINT close = RegisterWindowMessageA("PX_CloseApplication");
  for (HWND window : TopWindowsOf(info.dwProcessId)) PostMessageA(window, close, 0xA0, 0);
  if (WaitForSingleObject(info.hProcess, 15000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "%s did not close; terminated\n", path.c_str());
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 5000);
  }
  CloseHandle(info.hProcess);
  return shown;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: startup_probe RUNS PROGRAM...\n");
    return 64;
  }
  const int runs = std::atoi(argv[1]);
  const std::vector<std::string> programs(argv + 2, argv + argc);
  std::vector<std::vector<double>> times(programs.size());
  for (int run = 0; run <= runs; ++run) {
    std::printf(run == 0 ? "warm-up" : "run %3d", run);
    for (std::size_t p = 0; p < programs.size(); ++p) {
      const double ms = StartToTrayIcon(programs[p]);
      if (ms < 0) {
        std::fprintf(stderr, "\n%s showed no tray icon\n", programs[p].c_str());
        return 3;
      }
      std::printf("  %s %7.1f ms", NameOf(programs[p]).c_str(), ms);
      if (run > 0) times[p].push_back(ms);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  for (std::size_t p = 0; p < programs.size(); ++p) {
    const auto [low, high] = std::minmax_element(times[p].begin(), times[p].end());
    std::printf("%s: median %.1f ms, %.1f-%.1f ms over %d starts\n", NameOf(programs[p]).c_str(), Median(times[p]),
                *low, *high, runs);
  }
  for (std::size_t p = 1; p < programs.size(); ++p) {
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) ratios.push_back(times[p][run] / times[0][run]);
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("%s / %s: %.2f (medians); per run median %.2f, %.2f-%.2f\n", NameOf(programs[p]).c_str(),
                NameOf(programs[0]).c_str(), Median(times[p]) / Median(times[0]), Median(ratios), *low, *high);
  }
  return 0;
}
