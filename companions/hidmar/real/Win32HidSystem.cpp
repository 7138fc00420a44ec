#include "companions/hidmar/real/Win32HidSystem.h"

#include <windows.h>

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>  // not C++-aware
}

#include <vector>

#include "platform/win32/Handles.h"

namespace hidmar {
namespace {

using win32::UniqueHandle;

struct DeviceListTraits {
  using Type = HDEVINFO;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type list) { return list != nullptr && list != INVALID_HANDLE_VALUE; }
  static void Close(Type list) { SetupDiDestroyDeviceInfoList(list); }
};
using UniqueDeviceList = win32::UniqueHandleOf<DeviceListTraits>;

struct PreparsedDataTraits {
  using Type = PHIDP_PREPARSED_DATA;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type data) { return data != nullptr; }
  static void Close(Type data) { HidD_FreePreparsedData(data); }
};
using UniquePreparsedData = win32::UniqueHandleOf<PreparsedDataTraits>;

// A device numbers all its reports or none, so one numbered input or output item tells.
bool DeclaresReportIds(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, USHORT buttonCount, USHORT valueCount) {
  if (buttonCount > 0) {
    std::vector<HIDP_BUTTON_CAPS> buttons(buttonCount);
    USHORT count = buttonCount;
    if (HidP_GetButtonCaps(type, buttons.data(), &count, data) == HIDP_STATUS_SUCCESS) {
      for (USHORT i = 0; i < count; ++i) {
        if (buttons[i].ReportID != 0) return true;
      }
    }
  }
  if (valueCount > 0) {
    std::vector<HIDP_VALUE_CAPS> values(valueCount);
    USHORT count = valueCount;
    if (HidP_GetValueCaps(type, values.data(), &count, data) == HIDP_STATUS_SUCCESS) {
      for (USHORT i = 0; i < count; ++i) {
        if (values[i].ReportID != 0) return true;
      }
    }
  }
  return false;
}

bool ReadShape(HANDLE file, ReportShape& shape) {
  UniquePreparsedData data;
  if (!HidD_GetPreparsedData(file, data.receive())) return false;
  HIDP_CAPS caps{};
  if (HidP_GetCaps(data.get(), &caps) != HIDP_STATUS_SUCCESS) return false;
  shape.inputLength = caps.InputReportByteLength;
  shape.outputLength = caps.OutputReportByteLength;
  shape.numbered = DeclaresReportIds(data.get(), HidP_Input, caps.NumberInputButtonCaps, caps.NumberInputValueCaps) ||
                   DeclaresReportIds(data.get(), HidP_Output, caps.NumberOutputButtonCaps, caps.NumberOutputValueCaps);
  return true;
}

// An interrupt transfer to a present device takes a few milliseconds; one that has not finished
// after this long is given up, so a stalled device cannot hold the writing thread.
constexpr DWORD kWriteTimeoutMs = 1000;

// Waits for overlapped I/O issued by this thread on `file`, or for `stop`. Cancels the I/O and
// waits for its end when stopped or timed out: the OVERLAPPED and the buffer are the caller's.
bool Complete(HANDLE file, OVERLAPPED& overlapped, HANDLE stop, DWORD timeoutMs, DWORD& transferred) {
  const HANDLE waits[] = {overlapped.hEvent, stop};
  if (WaitForMultipleObjects(2, waits, FALSE, timeoutMs) != WAIT_OBJECT_0) {
    CancelIo(file);
    GetOverlappedResult(file, &overlapped, &transferred, TRUE);
    return false;
  }
  return GetOverlappedResult(file, &overlapped, &transferred, FALSE) != 0;
}

class Win32HidDevice final : public HidDevice {
 public:
  Win32HidDevice(UniqueHandle file, UniqueHandle stop, UniqueHandle readDone, const ReportShape& shape)
      : file_(std::move(file)), stop_(std::move(stop)), readDone_(std::move(readDone)), shape_(shape) {}

  ReportShape Shape() const override { return shape_; }

  bool Read(std::vector<std::uint8_t>& buffer) override {
    if (Stopped() || shape_.inputLength == 0) return false;
    buffer.assign(shape_.inputLength, 0);
    OVERLAPPED overlapped{};
    overlapped.hEvent = readDone_.get();
    ResetEvent(overlapped.hEvent);
    DWORD got = 0;
    if (ReadFile(file_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &overlapped)) {
      if (!GetOverlappedResult(file_.get(), &overlapped, &got, FALSE)) return false;
    } else if (GetLastError() != ERROR_IO_PENDING || !Complete(file_.get(), overlapped, stop_.get(), INFINITE, got)) {
      return false;  // gone (ERROR_DEVICE_NOT_CONNECTED and the like) or interrupted
    }
    buffer.resize(got);
    return true;
  }

  void Interrupt() override { SetEvent(stop_.get()); }

  bool Write(const std::vector<std::uint8_t>& buffer) override {
    if (buffer.empty() || Stopped()) return false;
    // Each write has its own OVERLAPPED and event, so writers on several threads never share
    // one and need no lock; the HID class driver queues their reports.
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = done.get();
    DWORD written = 0;
    if (WriteFile(file_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &overlapped)) {
      if (!GetOverlappedResult(file_.get(), &overlapped, &written, FALSE)) return false;
    } else if (GetLastError() != ERROR_IO_PENDING ||
               !Complete(file_.get(), overlapped, stop_.get(), kWriteTimeoutMs, written)) {
      return false;
    }
    return written == buffer.size();
  }

 private:
  bool Stopped() const { return WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0; }

  UniqueHandle file_;
  UniqueHandle stop_;      // manual reset: once set, every wait sees it
  UniqueHandle readDone_;  // the reader's alone
  ReportShape shape_;
};

}  // namespace

std::vector<std::string> Win32HidSystem::FindPaths(std::uint16_t vendorId, std::uint16_t productId) {
  std::vector<std::string> paths;
  GUID hidClass;
  HidD_GetHidGuid(&hidClass);
  UniqueDeviceList list(SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list) return paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &hidClass, index, &interfaceData)) break;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    // 8-byte units keep the structure aligned.
    std::vector<std::uint64_t> storage((required + 7) / 8);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceData, detail, required, nullptr, nullptr)) continue;
    // No access rights asked: enough for the ids, and it works on interfaces the system holds
    // exclusively (keyboards, mice).
    UniqueHandle file(
        CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(file.get(), &attributes)) continue;
    if (attributes.VendorID == vendorId && attributes.ProductID == productId) paths.emplace_back(detail->DevicePath);
  }
  return paths;
}

std::optional<ReportShape> Win32HidSystem::Examine(const std::string& path) {
  // Windows opens mouse and keyboard top-level collections (usage page 1, usages 1-2 and 6-7),
  // pens and touch screens for exclusive system use ("Top-level collections opened by Windows for
  // system use"): asking for read and write access to them fails with ERROR_ACCESS_DENIED, so a
  // collection is examined with the access the library will use. Wine opens its own keyboard
  // and mouse for anyone.
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  ReportShape shape;
  if (!ReadShape(file.get(), shape)) return std::nullopt;
  return shape;
}

std::unique_ptr<HidDevice> Win32HidSystem::Open(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!file) return nullptr;
  ReportShape shape;
  if (!ReadShape(file.get(), shape)) return nullptr;
  UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle readDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!stop || !readDone) return nullptr;
  return std::make_unique<Win32HidDevice>(std::move(file), std::move(stop), std::move(readDone), shape);
}

void Win32HidSystem::Post(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  PostMessageA(reinterpret_cast<HWND>(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

}  // namespace hidmar
