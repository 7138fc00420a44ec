// Teliox.exe and the audio device manager under Wine, installed as the bridge expects it: SNDWD.exe
// with the sim Sonvane.dll and Swd_Eng.dll in the common program files folder's "VL" folder.
// Teliox.exe starts it from there, registers its process id for it and removes the registration
// when it closes; the manager, checking every 5 s, then ends by itself.
#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "resources/bridge/resource.h"
#include "tests/e2e/PortTestSupport.h"

namespace {

constexpr wchar_t kManagerKey[] = L"SOFTWARE\\VORLANE\\AUDIO_MANAGER";
constexpr wchar_t kRegisterKey[] = L"SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER";
// Everything either program writes under HKEY_CURRENT_USER lies below this key.
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\VORLANE";
constexpr wchar_t kManagerExe[] = L"SNDWD.exe";
constexpr wchar_t kTelioxExe[] = L"Teliox.exe";
constexpr const wchar_t* kManagerFiles[] = {L"SNDWD.exe", L"Sonvane.dll", L"Swd_Eng.dll"};
// The manager's log list (IDC_MAIN_LOG_LIST in its resources).
constexpr int kManagerLogList = 1072;
constexpr char kHandsetIn[] = "Microphone (Teliox Handset)";
constexpr char kHandsetOut[] = "Speakers (Teliox Handset)";
// The manager looks at the registrations every 5 s; a check plus Wine's slack stays well below.
constexpr ULONGLONG kManagerEndLimitMs = 12000;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The build folder as Windows sees it: Wine maps the Unix root to drive Z.
std::wstring WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return Widen(path);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string SimFolder() { return e2e::ProgramFolder() + "\\..\\..\\sim-demo"; }

std::wstring ManagerFolder() {
  wchar_t common[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, common))) return {};
  std::wstring folder = common;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder + L"\\VL";
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A registry key with everything below it, to put back exactly what the run changed.
struct RegValue {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
};
struct RegTree {
  std::vector<RegValue> values;
  std::map<std::wstring, RegTree> keys;
};

std::optional<RegTree> ReadTree(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  RegTree tree;
  DWORD maxKey = 0, maxName = 0, maxData = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxKey, nullptr, nullptr, &maxName, &maxData, nullptr,
                   nullptr);
  for (DWORD i = 0;; ++i) {
    std::wstring name(maxName + 2, L'\0');
    DWORD nameLength = maxName + 2;
    std::vector<BYTE> data(maxData + 2);
    DWORD dataSize = maxData + 2;
    DWORD type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS) {
      break;
    }
    name.resize(nameLength);
    data.resize(dataSize);
    tree.values.push_back({name, type, data});
  }
  for (DWORD i = 0;; ++i) {
    std::wstring name(maxKey + 2, L'\0');
    DWORD nameLength = maxKey + 2;
    if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    name.resize(nameLength);
    if (auto sub = ReadTree(key, name)) tree.keys.emplace(name, std::move(*sub));
  }
  RegCloseKey(key);
  return tree;
}

const RegValue* FindValue(const RegTree& tree, const std::wstring& name) {
  for (const auto& value : tree.values) {
    if (SameText(value.name, name)) return &value;
  }
  return nullptr;
}

void RestoreTree(HKEY parent, const std::wstring& path, const std::optional<RegTree>& before) {
  if (!before) {
    RegDeleteTreeW(parent, path.c_str());
    return;
  }
  const auto now = ReadTree(parent, path);
  HKEY key = nullptr;
  if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (now) {
    for (const auto& value : now->values) {
      if (!FindValue(*before, value.name)) RegDeleteValueW(key, value.name.c_str());
    }
    for (const auto& [name, tree] : now->keys) {
      if (before->keys.find(name) == before->keys.end()) RegDeleteTreeW(key, name.c_str());
    }
  }
  for (const auto& value : before->values) {
    const RegValue* current = now ? FindValue(*now, value.name) : nullptr;
    if (current && current->type == value.type && current->data == value.data) continue;
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
  }
  for (const auto& [name, tree] : before->keys) RestoreTree(key, name, tree);
  RegCloseKey(key);
}

std::optional<DWORD> ReadDword(const wchar_t* key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

void WriteValue(const wchar_t* path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

void WriteText(const wchar_t* path, const wchar_t* name, const char* text) {
  const std::wstring wide = Widen(text);
  WriteValue(path, name, REG_SZ, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

void WriteDword(const wchar_t* path, const wchar_t* name, DWORD value) {
  WriteValue(path, name, REG_DWORD, &value, sizeof value);
}

// What the registrations look like, for failure messages.
std::string DescribeRegistrations() {
  const auto tree = ReadTree(HKEY_CURRENT_USER, kRegisterKey);
  if (!tree) return "no REGISTER key";
  std::string text = "REGISTER:";
  for (const auto& value : tree->values) {
    DWORD id = 0;
    if (value.type == REG_DWORD && value.data.size() == sizeof id)
      std::copy_n(value.data.data(), sizeof id, reinterpret_cast<BYTE*>(&id));
    text += " " + Narrow(value.name) + "=" + std::to_string(id);
  }
  return text;
}

// The manager's log, read across processes: the system carries list-box texts over.
int LogCount(HWND list) {
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) return -1;
  return static_cast<int>(count);
}

std::string LogLine(HWND list, int index) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, index, 0, SMTO_ABORTIFHUNG, 2000, &length) ||
      length == static_cast<DWORD_PTR>(LB_ERR)) {
    return {};
  }
  // Wide: the manager's list holds wide text, which a narrow request across processes would not
  // convert. Room to spare, since an overrun here would crash the test.
  std::wstring text(2 * length + 16, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 2000,
                           &copied) ||
      copied == static_cast<DWORD_PTR>(LB_ERR)) {
    return {};
  }
  text.resize(std::min<std::size_t>(copied, length));
  return Narrow(text);
}

std::string DescribeLog(HWND list) {
  const int count = LogCount(list);
  std::string text = "; log of " + std::to_string(count) + " lines:";
  for (int i = std::max(0, count - 9); i < count; ++i) text += " [" + LogLine(list, i) + "]";
  return text;
}

struct ProcessEntry {
  DWORD id;
  DWORD parent;
};

std::vector<ProcessEntry> ProcessesNamed(const wchar_t* exe) {
  std::vector<ProcessEntry> found;
  const win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (SameText(entry.szExeFile, exe)) found.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
  }
  return found;
}

std::wstring ImagePath(HANDLE process) {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(process, 0, path, &size)) return {};
  return std::wstring(path, size);
}

DWORD WindowProcess(HWND window) {
  DWORD owner = 0;
  if (window) GetWindowThreadProcessId(window, &owner);
  return owner;
}

struct TopWindows {
  DWORD process;
  std::string text;
};

BOOL CALLBACK DescribeWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopWindows*>(param);
  if (WindowProcess(window) != search->process) return TRUE;
  char title[128] = {};
  char cls[64] = {};
  GetWindowTextA(window, title, sizeof title);
  GetClassNameA(window, cls, sizeof cls);
  search->text += std::string(" [") + cls + " \"" + title + "\"" + (IsWindowVisible(window) ? " visible" : "") + "]";
  return TRUE;
}

// The top-level windows of a process: a dialog of the manager's that waits for an answer shows here.
std::string DescribeWindowsOf(DWORD process) {
  TopWindows search{process, {}};
  EnumWindows(DescribeWindow, reinterpret_cast<LPARAM>(&search));
  return search.text.empty() ? " none" : search.text;
}

struct MainSearch {
  DWORD id;
  HWND found;
};

BOOL CALLBACK VisitMainWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<MainSearch*>(param);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (WindowProcess(window) == search->id && std::string(cls) == "#32770" && !GetWindow(window, GW_OWNER)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Teliox's hidden main window: the unowned top-level dialog of its process.
HWND MainWindowOf(DWORD process) {
  MainSearch search{process, nullptr};
  EnumWindows(VisitMainWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Ends a process this run started and waits until it is gone, so its files can be removed.
void EndProcess(HANDLE process) {
  if (!process || WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return;
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 10000);
}

bool DeleteSoon(const std::wstring& path) {
  // A process that just ended may hold its image for a moment.
  return e2e::PumpUntil([&] { return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }, 10000);
}

class ManagerLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    // A Teliox.exe of another run would keep ours from starting (single instance), and a manager
    // of another run would be found instead of started; a leftover manager ends at its next check.
    HWND stale = nullptr;
    std::vector<ProcessEntry> others;
    e2e::PumpUntil(
        [&] {
          stale = FindWindowA(nullptr, "SNDWD");
          others = ProcessesNamed(kTelioxExe);
          return stale == nullptr && others.empty();
        },
        60000);
    ASSERT_EQ(nullptr, stale) << "a manager is running already, process " << WindowProcess(stale);
    ASSERT_TRUE(others.empty()) << "a Teliox.exe is running already, process " << others.front().id;

    registryBefore_ = ReadTree(HKEY_CURRENT_USER, kVendorKey);
    snapshotTaken_ = true;
    folder_ = ManagerFolder();
    ASSERT_FALSE(folder_.empty()) << "no common program files folder";
    Install();
    if (HasFatalFailure()) return;

    // A device world of two and two whose defaults are the stored choices: no wizard, no notice.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    statePath_ = std::wstring(temp) + L"teliox-e2e-sonvane-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    {
      std::ofstream state(Narrow(statePath_), std::ios::binary);
      state << "recording=" << kHandsetIn << "\r\nrecording=Microphone (High Definition Audio)\r\n"
            << "playback=" << kHandsetOut << "\r\nplayback=Speakers (High Definition Audio)\r\n"
            << "default-recording=" << kHandsetIn << "\r\ndefault-playback=" << kHandsetOut
            << "\r\nfail-get=0\r\nfail-set=0\r\n";
      ASSERT_TRUE(state.good()) << Narrow(statePath_);
    }
    // Teliox.exe and the manager it starts inherit this environment.
    SetEnvironmentVariableW(L"SONVANE_SIM_STATE", statePath_.c_str());
    // A pipe nobody serves: no handset, and a handset demo running beside is left alone.
    const std::string pipe = "\\\\.\\pipe\\teliox-e2e-manager-" + std::to_string(GetCurrentProcessId());
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", pipe.c_str());

    WriteDword(kManagerKey, L"DEFAULT_DEVICE_WIZARD", 1);
    WriteDword(kManagerKey, L"WIZARD_AUTOMATIC", 0);
    WriteText(kManagerKey, L"DEFAULT_DEVICE_IN", kHandsetIn);
    WriteText(kManagerKey, L"DEFAULT_DEVICE_OUT", kHandsetOut);
    // Registrations of others would keep the manager running; the snapshot brings them back.
    RegDeleteTreeW(HKEY_CURRENT_USER, kRegisterKey);
  }

  void TearDown() override {
    EndProcess(teliox_.get());
    EndProcess(manager_.get());
    if (installed_) {
      // Anything running from files this run installed is this run's.
      for (const auto& entry : ProcessesNamed(kManagerExe)) {
        const win32::UniqueHandle process(
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.id));
        if (process && SameText(ImagePath(process.get()), folder_ + L"\\" + kManagerExe)) EndProcess(process.get());
      }
    }
    for (const auto& file : installedFiles_) {
      EXPECT_TRUE(DeleteSoon(file)) << Narrow(file);
    }
    if (createdFolder_) {
      EXPECT_TRUE(RemoveDirectoryW(folder_.c_str())) << Narrow(folder_);
    }
    if (!statePath_.empty()) DeleteFileW(statePath_.c_str());
    SetEnvironmentVariableW(L"SONVANE_SIM_STATE", nullptr);
    SetEnvironmentVariableW(L"HIDMAR_SIM_PIPE", nullptr);
    if (snapshotTaken_) RestoreTree(HKEY_CURRENT_USER, kVendorKey, registryBefore_);
  }

  // Copies the manager into place unless it is installed already; then it stays as it is.
  void Install() {
    if (FileExists(folder_ + L"\\" + kManagerExe)) {
      std::printf("the manager is installed already in %s: used as it is\n", Narrow(folder_).c_str());
      return;
    }
    installed_ = true;
    if (!FileExists(folder_)) {
      ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << Narrow(folder_) << " error " << GetLastError();
      createdFolder_ = true;
    }
    const std::wstring source = WindowsPath(TELIOX_SNDWD_SIM_DIR);
    for (const wchar_t* file : kManagerFiles) {
      const std::wstring target = folder_ + L"\\" + file;
      if (FileExists(target)) continue;
      ASSERT_TRUE(CopyFileW((source + L"\\" + file).c_str(), target.c_str(), TRUE))
          << Narrow(source) << "\\" << Narrow(file) << " error " << GetLastError();
      installedFiles_.push_back(target);
    }
  }

  bool StartTeliox() {
    std::string line = "\"" + SimFolder() + "\\Teliox.exe\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      return false;
    }
    win32::UniqueHandle(info.hThread).reset();
    teliox_.reset(info.hProcess);
    telioxId_ = info.dwProcessId;
    return true;
  }

  std::wstring folder_;
  std::wstring statePath_;
  win32::UniqueHandle teliox_;
  DWORD telioxId_ = 0;
  win32::UniqueHandle manager_;

 private:
  std::optional<RegTree> registryBefore_;
  bool snapshotTaken_ = false;
  bool installed_ = false;
  bool createdFolder_ = false;
  std::vector<std::wstring> installedFiles_;
};

TEST_F(ManagerLaunch, TelioxStartsTheManagerFromCommonFilesAndItEndsAfterTelioxCloses) {
  const ULONGLONG startedAt = GetTickCount64();
  ASSERT_TRUE(StartTeliox()) << SimFolder();

  std::optional<DWORD> registered;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (registered = ReadDword(kRegisterKey, L"Teliox")).has_value(); }, 20000))
      << "no registration; " << DescribeRegistrations();
  EXPECT_EQ(telioxId_, *registered);
  HWND main = nullptr;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (main = MainWindowOf(telioxId_)) != nullptr; }, 10000))
      << "no main window of Teliox.exe";

  // The manager: its window by title, its process by name in a snapshot, started by Teliox.exe.
  HWND managerWindow = nullptr;
  std::vector<ProcessEntry> managers;
  const bool up = e2e::PumpUntil(
      [&] {
        managerWindow = FindWindowA(nullptr, "SNDWD");
        managers = ProcessesNamed(kManagerExe);
        return managerWindow != nullptr && !managers.empty();
      },
      15000);
  ASSERT_TRUE(up) << "window " << managerWindow << ", " << managers.size() << " SNDWD.exe processes, Teliox.exe "
                  << (WaitForSingleObject(teliox_.get(), 0) == WAIT_TIMEOUT ? "running" : "ended");
  const ULONGLONG managerUpAt = GetTickCount64();
  std::printf("Teliox.exe start to the manager's window: %llu ms\n", managerUpAt - startedAt);
  ASSERT_EQ(1u, managers.size()) << "one manager, single instance";
  const DWORD managerId = managers.front().id;
  EXPECT_EQ(managerId, WindowProcess(managerWindow)) << "the SNDWD window belongs to SNDWD.exe";
  EXPECT_EQ(telioxId_, managers.front().parent)
      << "Teliox.exe started the manager; this test is " << GetCurrentProcessId();
  manager_.reset(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, managerId));
  ASSERT_TRUE(manager_) << "error " << GetLastError();
  const std::wstring image = ImagePath(manager_.get());
  EXPECT_TRUE(SameText(folder_ + L"\\" + kManagerExe, image)) << Narrow(image);

  // The manager logs every registration check in its hidden window's list: the first comes 5 s
  // after its start and finds Teliox.exe's registration, so it runs on.
  const HWND log = GetDlgItem(managerWindow, kManagerLogList);
  ASSERT_NE(nullptr, log) << "no log list in the manager's window";
  int lines = 0;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (lines = LogCount(log)) > 0; }, 12000))
      << "no check logged; " << lines << " lines, manager "
      << (WaitForSingleObject(manager_.get(), 0) == WAIT_TIMEOUT ? "running" : "ended") << "; "
      << DescribeRegistrations();
  const ULONGLONG firstCheckAt = GetTickCount64();
  std::printf("the manager's window to its first check: %llu ms\n", firstCheckAt - managerUpAt);
  EXPECT_EQ("Find Process", LogLine(log, lines - 1)) << DescribeLog(log);
  ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(manager_.get(), 500))
      << "the manager ended while Teliox.exe ran; " << DescribeRegistrations() << DescribeLog(log);
  EXPECT_EQ(telioxId_, ReadDword(kRegisterKey, L"Teliox").value_or(0));

  // Closed right after the next check, the manager's longest wait follows: a whole period.
  const int afterFirst = lines;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (lines = LogCount(log)) > afterFirst; }, 12000))
      << "no second check; " << DescribeLog(log);
  const ULONGLONG secondCheckAt = GetTickCount64();
  std::printf("between the manager's checks: %llu ms\n", secondCheckAt - firstCheckAt);
  EXPECT_NEAR(5000.0, static_cast<double>(secondCheckAt - firstCheckAt), 1500.0);

  // The tray menu's close command, as a user gives it.
  const ULONGLONG closeAt = GetTickCount64();
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, ID_CLOSE, 0));
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(teliox_.get(), 15000)) << "Teliox.exe runs on";
  const ULONGLONG telioxEndAt = GetTickCount64();
  DWORD telioxCode = STILL_ACTIVE;
  GetExitCodeProcess(teliox_.get(), &telioxCode);
  EXPECT_EQ(0u, telioxCode);
  EXPECT_FALSE(ReadDword(kRegisterKey, L"Teliox").has_value()) << "the registration is removed";

  const DWORD waited = WaitForSingleObject(manager_.get(), 20000);
  const ULONGLONG managerEndAt = GetTickCount64();
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waited)
      << "the manager runs on; " << DescribeRegistrations() << "; its windows:" << DescribeWindowsOf(managerId);
  const ULONGLONG afterExit = managerEndAt - telioxEndAt;
  std::printf(
      "Teliox.exe ended %llu ms after the close command; the manager %llu ms after Teliox.exe (%llu ms after "
      "the close command)\n",
      telioxEndAt - closeAt, afterExit, managerEndAt - closeAt);
  EXPECT_LE(afterExit, kManagerEndLimitMs);
  DWORD managerCode = STILL_ACTIVE;
  GetExitCodeProcess(manager_.get(), &managerCode);
  EXPECT_EQ(0u, managerCode);
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "SNDWD")) << "the window goes with the manager";
}

}  // namespace
