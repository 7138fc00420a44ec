#include "companions/hidmar/device/win32/VirtualHandsetDevice.h"

// clang-format off
#include <setupapi.h>
#include <newdev.h>
#include <devguid.h>
// clang-format on

#include <vector>

#include "companions/hidmar/device/VirtualHandsetControl.h"
#include "platform/HidLink.h"
#include "platform/win32/Text.h"

namespace hidmar_device {
namespace {

const GUID kControlGuid = VHANDSET_CONTROL_GUID_INIT;
// The hardware id as a REG_MULTI_SZ: the text, its terminator and the list's.
constexpr wchar_t kHardwareIdList[] = VHANDSET_HARDWARE_ID L"\0";
constexpr DWORD kRequestTimeoutMs = 1000;

struct DeviceInfoSet {
  HDEVINFO set;
  explicit DeviceInfoSet(HDEVINFO s) : set(s) {}
  ~DeviceInfoSet() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set != INVALID_HANDLE_VALUE; }
};

std::string Failure(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// One overlapped request on `file`, waiting for its end, `stop` (may be null) or the timeout
// (INFINITE for none); a request that does not end in time is cancelled.
bool Request(HANDLE file, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, HANDLE stop,
             DWORD timeoutMs, DWORD* got) {
  win32::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  DWORD transferred = 0;
  if (!DeviceIoControl(file, code, const_cast<void*>(in), inSize, out, outSize, nullptr, &overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE waits[2] = {done.get(), stop};
    if (WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, timeoutMs) != WAIT_OBJECT_0) {
      CancelIoEx(file, &overlapped);
      GetOverlappedResult(file, &overlapped, &transferred, TRUE);
      return false;
    }
  }
  if (!GetOverlappedResult(file, &overlapped, &transferred, FALSE)) return false;
  if (got) *got = transferred;
  return true;
}

}  // namespace

// --- installing and removing ------------------------------------------------------------------

namespace setup {

int RemoveAll() {
  DeviceInfoSet devices(SetupDiGetClassDevsW(&GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, 0));
  if (!devices.valid()) return 0;
  int removed = 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices.set, i, &device); ++i) {
    wchar_t ids[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(devices.set, &device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids), sizeof ids - 2 * sizeof(wchar_t), nullptr)) {
      continue;
    }
    if (_wcsicmp(ids, VHANDSET_HARDWARE_ID) != 0) continue;
    if (SetupDiCallClassInstaller(DIF_REMOVE, devices.set, &device)) ++removed;
  }
  return removed;
}

bool Install(const std::wstring& infPath, std::uint16_t product, std::string* why) {
  // The driver reads the product id from its service key when the device is added.
  HKEY key = nullptr;
  const DWORD value = product;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\" VHANDSET_SERVICE, 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    *why = "the driver's service key cannot be written";
    return false;
  }
  const LONG written =
      RegSetValueExW(key, L"ProductId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  if (written != ERROR_SUCCESS) {
    *why = "the driver's service key cannot be written";
    return false;
  }

  DeviceInfoSet devices(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr));
  if (!devices.valid()) {
    *why = Failure("SetupDiCreateDeviceInfoList");
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!SetupDiCreateDeviceInfoW(devices.set, L"TelioxVirtualHandset", &GUID_DEVCLASS_HIDCLASS, nullptr, nullptr,
                                DICD_GENERATE_ID, &device)) {
    *why = Failure("SetupDiCreateDeviceInfo");
    return false;
  }
  if (!SetupDiSetDeviceRegistryPropertyW(devices.set, &device, SPDRP_HARDWAREID,
                                         reinterpret_cast<const BYTE*>(kHardwareIdList), sizeof kHardwareIdList)) {
    *why = Failure("SetupDiSetDeviceRegistryProperty");
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices.set, &device)) {
    *why = Failure("DIF_REGISTERDEVICE");
    return false;
  }
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, VHANDSET_HARDWARE_ID, infPath.c_str(), INSTALLFLAG_FORCE,
                                          &reboot)) {
    *why = Failure("UpdateDriverForPlugAndPlayDevices");
    SetupDiCallClassInstaller(DIF_REMOVE, devices.set, &device);
    return false;
  }
  return true;
}

std::wstring ControlPath() {
  DeviceInfoSet interfaces(
      SetupDiGetClassDevsW(&kControlGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!interfaces.valid()) return {};
  SP_DEVICE_INTERFACE_DATA item{};
  item.cbSize = sizeof item;
  if (!SetupDiEnumDeviceInterfaces(interfaces.set, nullptr, &kControlGuid, 0, &item)) return {};
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(interfaces.set, &item, nullptr, 0, &size, nullptr);
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return {};
  std::vector<BYTE> buffer(size);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(interfaces.set, &item, detail, size, nullptr, nullptr)) return {};
  return detail->DevicePath;
}

}  // namespace setup

// --- the control channel ----------------------------------------------------------------------

std::unique_ptr<ControlChannel> ControlChannel::Open(DWORD timeoutMs) {
  // The interface is enabled when the device starts, a moment after the installation returns;
  // nothing announces it to a program without a window, so look again every 20 ms.
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const std::wstring path = setup::ControlPath();
    if (!path.empty()) {
      HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
      if (file != INVALID_HANDLE_VALUE) return std::unique_ptr<ControlChannel>(new ControlChannel(file));
    }
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(20);
  }
}

bool ControlChannel::SendInput(const Report& report) {
  std::lock_guard lock(sendMutex_);
  return Request(file_.get(), IOCTL_VHANDSET_SEND_INPUT, report.data(), static_cast<DWORD>(report.size()), nullptr, 0,
                 nullptr, kRequestTimeoutMs, nullptr);
}

bool ControlChannel::TakeOutput(HANDLE stop, Report* report) {
  DWORD got = 0;
  return Request(file_.get(), IOCTL_VHANDSET_TAKE_OUTPUT, nullptr, 0, report->data(),
                 static_cast<DWORD>(report->size()), stop, INFINITE, &got) &&
         got == report->size();
}

// --- the feeder -------------------------------------------------------------------------------

Feeder::~Feeder() {
  StopFeeding();
  setup::RemoveAll();
}

bool Feeder::Plug(std::uint16_t product) {
  StopFeeding();
  setup::RemoveAll();  // a plug while plugged is a new device instance
  std::string why;
  if (!setup::Install(infPath_, product, &why)) {
    std::lock_guard lock(mutex_);
    lastError_ = why;
    return false;
  }
  std::shared_ptr<ControlChannel> channel = ControlChannel::Open(5000);
  if (!channel) {
    setup::RemoveAll();
    std::lock_guard lock(mutex_);
    lastError_ = "the device's control interface did not appear";
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    channel_ = channel;
    lastError_.clear();
  }
  ResetEvent(stop_.get());
  thread_ = std::thread([this, channel] { Feed(channel.get()); });
  return true;
}

void Feeder::Unplug() {
  StopFeeding();
  setup::RemoveAll();
}

void Feeder::StopFeeding() {
  {
    std::lock_guard lock(mutex_);
    channel_.reset();
  }
  SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
}

void Feeder::Feed(ControlChannel* channel) {
  Report report{};
  while (channel->TakeOutput(stop_.get(), &report)) {
    // The model reads an 8-byte buffer with the seven bytes first.
    std::uint8_t buffer[8] = {};
    std::copy(report.begin(), report.end(), buffer);
    if (handset_) handset_->Write(buffer, platform::kHandsetReportLength);
  }
}

bool Feeder::PostTo(platform::WindowHandle, std::uint32_t, std::uintptr_t wParam, std::intptr_t lParam,
                    std::shared_ptr<const void>) {
  std::shared_ptr<ControlChannel> channel;
  {
    std::lock_guard lock(mutex_);
    channel = channel_;
  }
  if (!channel) return false;
  Report report{};
  platform::UnpackReport(wParam, lParam, report.data());
  return channel->SendInput(report);
}

std::string Feeder::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

}  // namespace hidmar_device
