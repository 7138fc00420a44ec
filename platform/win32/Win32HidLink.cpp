#include "platform/win32/Win32HidLink.h"

#include <windows.h>

#include "platform/win32/Handles.h"
#include "platform/win32/ResourceModule.h"

namespace win32 {
namespace {

// The ordinals of Hidmar.def.
constexpr WORD kFind = 13;
constexpr WORD kOpen = 9;
constexpr WORD kSetMessage = 22;
constexpr WORD kWrite = 21;
constexpr WORD kClose = 10;
constexpr WORD kRelease = 2;

std::string BesideProgram(const std::string& fileName) {
  if (fileName.find_first_of("\\/:") != std::string::npos) return fileName;
  const std::string folder = win32::ProgramFolder();
  return folder.empty() ? fileName : folder + fileName;
}

template <typename Fn>
bool Resolve(HMODULE module, WORD ordinal, Fn& function) {
  function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
  return function != nullptr;
}

}  // namespace

Win32HidLink::Win32HidLink(const std::string& fileName) {
  // No "missing file" dialog box: an absent library is an ordinary case here.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  UniqueModule module(LoadLibraryA(BesideProgram(fileName).c_str()));
  SetErrorMode(previous);
  if (!module) return;
  const HMODULE m = module.get();
  loaded_ = Resolve(m, kFind, find_) && Resolve(m, kOpen, open_) && Resolve(m, kSetMessage, setMessage_) &&
            Resolve(m, kWrite, write_) && Resolve(m, kClose, close_) && Resolve(m, kRelease, release_);
  // Once complete, the library stays for the life of the process; an incomplete one goes again
  // and every call answers as if no device were there.
  if (loaded_) module.release();
}

int Win32HidLink::FindDevice(std::uint32_t vendorId, std::uint32_t productId) {
  return loaded_ ? find_(vendorId, productId) : 0;
}

int Win32HidLink::OpenDevice(platform::WindowHandle window) {
  return loaded_ ? open_(reinterpret_cast<void*>(window)) : 0;
}

void Win32HidLink::SetNotifyMessage(std::uint32_t message) {
  if (loaded_) setMessage_(message);
}

int Win32HidLink::WriteReport(const std::uint8_t* report, int length) { return loaded_ ? write_(report, length) : 0; }

void Win32HidLink::CloseDevice() {
  if (loaded_) close_();
}

void Win32HidLink::ReleaseLibrary() {
  if (loaded_) release_();
}

}  // namespace win32
