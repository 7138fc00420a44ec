// Teliox.exe's application manifest as the system's loader reads it: an activation context made
// from the program's resource 1 (a manifest the loader refuses keeps the program from starting
// at all on Windows), the common controls it binds, its run level, its DPI settings, and no
// declared operating systems.
#include <shlwapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>

#include "platform/win32/Handles.h"
#include "tests/e2e/PortTestSupport.h"

namespace {

std::string TelioxPath() { return e2e::ProgramFolder() + "\\..\\..\\bridge\\Teliox.exe"; }

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow(text.size() * 2 + 1, '\0');
  narrow.resize(static_cast<std::size_t>(
      std::max(0, WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(),
                                      static_cast<int>(narrow.size()), nullptr, nullptr))));
  return narrow;
}

struct ActCtxTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type context) { return context != nullptr && context != INVALID_HANDLE_VALUE; }
  static void Close(Type context) { ReleaseActCtx(context); }
};

class ProgramManifest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = TelioxPath();
    ACTCTXA request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    context_.reset(CreateActCtxA(&request));
    ASSERT_TRUE(context_) << "no manifest the loader accepts in " << path << " (error " << GetLastError() << ")";
  }

  // A value of the windowsSettings section; empty when the manifest has none.
  std::wstring Setting(const wchar_t* space, const wchar_t* name) {
    wchar_t value[64] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, context_.get(), space, name, value, std::size(value), &written)) return {};
    return value;
  }

  win32::UniqueHandleOf<ActCtxTraits> context_;
};

// Asks the loader, not the library: Wine's common controls report 5.81 from either folder.
TEST_F(ProgramManifest, BindsVersionSixOfTheCommonControls) {
  // The records are followed by their strings.
  alignas(ACTIVATION_CONTEXT_DETAILED_INFORMATION) unsigned char details[4096] = {};
  SIZE_T written = 0;
  ASSERT_TRUE(QueryActCtxW(0, context_.get(), nullptr, ActivationContextDetailedInformation, details, sizeof details,
                           &written));
  const DWORD assemblies = reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(details)->ulAssemblyCount;
  std::wstring folder;
  // Assembly 1 is the program itself; its dependencies follow.
  for (DWORD index = 2; index <= assemblies && folder.empty(); ++index) {
    alignas(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION) unsigned char buffer[4096] = {};
    const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer);
    if (!QueryActCtxW(0, context_.get(), &index, AssemblyDetailedInformationInActivationContext, buffer, sizeof buffer,
                      &written) ||
        !assembly->lpAssemblyEncodedAssemblyIdentity || !assembly->lpAssemblyDirectoryName) {
      continue;
    }
    const std::wstring identity = Lower(assembly->lpAssemblyEncodedAssemblyIdentity);
    // name,processorArchitecture="x86",publicKeyToken="...",type="win32",version="6.0.x.y"
    if (identity.starts_with(L"microsoft.windows.common-controls,") &&
        identity.find(L"version=\"6.") != std::wstring::npos) {
      folder = Lower(assembly->lpAssemblyDirectoryName);
    }
  }
  ASSERT_FALSE(folder.empty()) << "no dependency on the common controls 6";

  // Inside the context the library's name resolves to that assembly's copy.
  ULONG_PTR cookie = 0;
  ASSERT_TRUE(ActivateActCtx(context_.get(), &cookie));
  const win32::UniqueModule controls(LoadLibraryW(L"comctl32.dll"));
  DeactivateActCtx(0, cookie);
  ASSERT_TRUE(controls);
  wchar_t path[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameW(controls.get(), path, MAX_PATH));
  EXPECT_NE(std::wstring::npos, Lower(path).find(L"\\" + folder + L"\\")) << "loaded from " << Narrow(path);
}

TEST_F(ProgramManifest, RunsAsInvokerAndSystemDpiAware) {
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
  SIZE_T written = 0;
  ASSERT_TRUE(QueryActCtxW(0, context_.get(), nullptr, RunlevelInformationInActivationContext, &runLevel,
                           sizeof runLevel, &written));
  EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, runLevel.RunLevel);
  EXPECT_EQ(0u, runLevel.UiAccess);

  EXPECT_EQ(L"true", Setting(nullptr, L"dpiAware"));
  EXPECT_EQ(L"system", Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"));
}

// Declaring any Windows version would change what GetVersionExA reports from Windows 8.1 on, and
// with it the registry value the handset's audio device name is read from.
TEST_F(ProgramManifest, DeclaresNoSupportedOperatingSystem) {
  alignas(ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION) unsigned char buffer[512] = {};
  SIZE_T written = 0;
  ASSERT_TRUE(QueryActCtxW(0, context_.get(), nullptr, CompatibilityInformationInActivationContext, buffer,
                           sizeof buffer, &written));
  DWORD elements = 0;
  std::memcpy(&elements, buffer + offsetof(ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION, ElementCount),
              sizeof elements);
  EXPECT_EQ(0u, elements);
}

}  // namespace
