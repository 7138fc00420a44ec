#include "companions/sonvane/real/CoreAudioSystem.h"

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmsystem.h>
// clang-format on

#include <string>
#include <utility>

namespace sonvane {

namespace {

// A COM pointer that releases what it holds.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() {
    if (p_) p_->Release();
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void** out() { return reinterpret_cast<void**>(&p_); }
  T** put() { return &p_; }

 private:
  T* p_ = nullptr;
};

// COM for the calling thread, for as long as one call lasts. CoInitializeEx's S_OK and S_FALSE
// are both balanced by CoUninitialize (Microsoft's rule); RPC_E_CHANGED_MODE means the caller
// already runs a single-threaded apartment, which the endpoint objects work in as well.
class ComScope {
 public:
  ComScope() : balanced_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (balanced_) CoUninitialize();
  }

 private:
  bool balanced_;
};

// Frees a CoTaskMem string (IMMDevice::GetId).
struct TaskString {
  LPWSTR text = nullptr;
  TaskString() = default;
  TaskString(const TaskString&) = delete;
  TaskString& operator=(const TaskString&) = delete;
  ~TaskString() { CoTaskMemFree(text); }
};

struct PropVariant {
  PROPVARIANT value;
  PropVariant() { PropVariantInit(&value); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  ~PropVariant() { PropVariantClear(&value); }
};

// A wide name in the system's ANSI code page, cut at a whole character so that it fits kMaxName
// bytes (a double-byte character is never split).
std::string ToAnsi(const wchar_t* text) {
  if (!text) return {};
  int length = lstrlenW(text);
  while (length > 0) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    if (static_cast<std::size_t>(bytes) <= kMaxName) {
      std::string out(static_cast<std::size_t>(bytes), '\0');
      WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
      return out;
    }
    --length;
  }
  return {};
}

std::string ToUtf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(bytes - 1));
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (chars <= 1) return {};
  std::wstring out(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), chars);
  out.resize(static_cast<std::size_t>(chars - 1));
  return out;
}

bool CreateEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator) {
  return SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                    enumerator.out()));
}

// PKEY_Device_FriendlyName of an endpoint ("Speakers (High Definition Audio Device)").
std::string FriendlyName(IMMDevice* device) {
  ComPtr<IPropertyStore> store;
  if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return {};
  PropVariant name;
  if (FAILED(store->GetValue(PKEY_Device_FriendlyName, &name.value)) || name.value.vt != VT_LPWSTR) return {};
  return ToAnsi(name.value.pwszVal);
}

std::string EndpointId(IMMDevice* device) {
  TaskString id;
  if (FAILED(device->GetId(&id.text)) || !id.text) return {};
  return ToUtf8(id.text);
}

bool ReadEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow, std::vector<Device>& devices) {
  ComPtr<IMMDeviceCollection> collection;
  if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.put()))) return false;
  UINT count = 0;
  if (FAILED(collection->GetCount(&count))) return false;
  for (UINT i = 0; i < count; ++i) {
    ComPtr<IMMDevice> device;
    if (FAILED(collection->Item(i, device.put()))) continue;
    devices.push_back({FriendlyName(device.get()), EndpointId(device.get())});
  }
  return true;
}

bool DefaultName(IMMDeviceEnumerator* enumerator, EDataFlow flow, std::string& name) {
  // eConsole is the device the Sound control panel calls "Default Device" (ERole on MSDN).
  ComPtr<IMMDevice> device;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.put()))) return false;
  name = FriendlyName(device.get());
  return !name.empty();
}

// --- winmm, for systems without Core Audio

constexpr char kSoundMapperKey[] = "Software\\Microsoft\\Multimedia\\Sound Mapper";

void ReadWinmm(DeviceLists& lists) {
  const UINT inputs = waveInGetNumDevs();
  for (UINT i = 0; i < inputs; ++i) {
    WAVEINCAPSA caps{};
    if (waveInGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
    lists.recording.push_back(
        {CutName(std::string(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN))), std::to_string(i)});
  }
  const UINT outputs = waveOutGetNumDevs();
  for (UINT i = 0; i < outputs; ++i) {
    WAVEOUTCAPSA caps{};
    if (waveOutGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
    lists.playback.push_back(
        {CutName(std::string(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN))), std::to_string(i)});
  }
}

std::string ReadMapperValue(const char* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSoundMapperKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  char buffer[kMaxName + 2] = {};
  DWORD type = 0;
  DWORD size = sizeof buffer - 1;  // room for a terminator the value may lack
  const LONG result = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return {};
  return CutName(std::string(buffer, size));
}

// The mapper's choice when it names a present device, else device 0, which the mapper prefers
// when nothing is chosen.
std::string MapperDefault(const std::vector<Device>& devices, const char* value) {
  const std::string chosen = ReadMapperValue(value);
  if (FindByName(devices, chosen)) return chosen;
  return devices.empty() ? std::string() : devices.front().name;
}

bool WriteMapperValue(HKEY key, const char* value, const std::string& name) {
  return RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                        static_cast<DWORD>(name.size() + 1)) == ERROR_SUCCESS;
}

// --- the policy configuration interface (undocumented; declared here). Its identifiers change
// between Windows versions, so each known pair is tried in turn; SetDefaultEndpoint sits at a
// different place in the Vista layout, which lacks ResetDeviceFormat.

struct DECLSPEC_NOVTABLE IPolicyConfigLayout : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, void**) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, INT, void**) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetDeviceFormat(PCWSTR) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, void*, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, INT, PINT64, PINT64) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, PINT64) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR, UINT role) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, INT) = 0;
};

struct DECLSPEC_NOVTABLE IPolicyConfigVistaLayout : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, void**) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, INT, void**) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, void*, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, INT, PINT64, PINT64) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, PINT64) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR, UINT role) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, INT) = 0;
};

// Windows 7 to 11.
constexpr GUID kPolicyConfigClient = {0x870af99c, 0x171d, 0x4f9e, {0xaf, 0x0d, 0xe6, 0x3d, 0xf4, 0x0c, 0x2b, 0xc9}};
constexpr GUID kPolicyConfig = {0xf8679f50, 0x850a, 0x41cf, {0x9c, 0x72, 0x43, 0x0f, 0x29, 0x02, 0x90, 0xc8}};
// Early Windows 10 builds, same layout.
constexpr GUID kPolicyConfig10 = {0xca286fc3, 0x91fd, 0x42c3, {0x8e, 0x9b, 0xca, 0xaf, 0xa6, 0x62, 0x42, 0xe3}};
// Windows Vista.
constexpr GUID kPolicyConfigVistaClient = {
    0x294935ce, 0xf637, 0x4e7c, {0xa4, 0x1b, 0xab, 0x25, 0x54, 0x60, 0xb8, 0x62}};
constexpr GUID kPolicyConfigVista = {0x568b9108, 0x44bf, 0x40b4, {0x90, 0x06, 0x86, 0xaf, 0xe5, 0xb5, 0xa6, 0x20}};

// Every role: a tool that leaves eCommunications behind leaves calls on the old device.
template <class Policy>
bool SetAllRoles(Policy* policy, const std::wstring& id, bool communicationsRequired) {
  const PCWSTR endpoint = id.c_str();
  HRESULT result = policy->SetDefaultEndpoint(endpoint, eConsole);
  if (FAILED(result)) return false;
  result = policy->SetDefaultEndpoint(endpoint, eMultimedia);
  if (FAILED(result)) return false;
  // Vista has no separate communications device; its answer to that role does not count.
  result = policy->SetDefaultEndpoint(endpoint, eCommunications);
  return SUCCEEDED(result) || !communicationsRequired;
}

bool SetWithPolicy(const std::wstring& recording, const std::wstring& playback) {
  for (const GUID* iid : {&kPolicyConfig, &kPolicyConfig10}) {
    ComPtr<IPolicyConfigLayout> policy;
    if (FAILED(CoCreateInstance(kPolicyConfigClient, nullptr, CLSCTX_ALL, *iid, policy.out()))) continue;
    const bool input = SetAllRoles(policy.get(), recording, true);
    const bool output = SetAllRoles(policy.get(), playback, true);
    return input && output;
  }
  ComPtr<IPolicyConfigVistaLayout> vista;
  if (FAILED(CoCreateInstance(kPolicyConfigVistaClient, nullptr, CLSCTX_ALL, kPolicyConfigVista, vista.out()))) {
    return false;
  }
  const bool input = SetAllRoles(vista.get(), recording, false);
  const bool output = SetAllRoles(vista.get(), playback, false);
  return input && output;
}

}  // namespace

bool CoreAudioSystem::ReadDevices(DeviceLists& lists) {
  ComScope com;
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (!CreateEnumerator(enumerator)) {
    ReadWinmm(lists);
    return true;
  }
  return ReadEndpoints(enumerator.get(), eCapture, lists.recording) &&
         ReadEndpoints(enumerator.get(), eRender, lists.playback);
}

bool CoreAudioSystem::ReadDefaults(DefaultNames& names) {
  ComScope com;
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (!CreateEnumerator(enumerator)) {
    DeviceLists lists;
    ReadWinmm(lists);
    names.recording = MapperDefault(lists.recording, "Record");
    names.playback = MapperDefault(lists.playback, "Playback");
    return !names.recording.empty() && !names.playback.empty();
  }
  return DefaultName(enumerator.get(), eCapture, names.recording) &&
         DefaultName(enumerator.get(), eRender, names.playback);
}

bool CoreAudioSystem::MakeDefaults(const Device& recording, const Device& playback) {
  ComScope com;
  ComPtr<IMMDeviceEnumerator> enumerator;
  if (CreateEnumerator(enumerator)) {
    const std::wstring input = FromUtf8(recording.id);
    const std::wstring output = FromUtf8(playback.id);
    return !input.empty() && !output.empty() && SetWithPolicy(input, output);
  }
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSoundMapperKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool written =
      WriteMapperValue(key, "Record", recording.name) && WriteMapperValue(key, "Playback", playback.name);
  RegCloseKey(key);
  return written;
}

}  // namespace sonvane
