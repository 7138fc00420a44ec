// The shell's small utilities on real Win32: text conversions and handle owners.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "platform/win32/Handles.h"
#include "platform/win32/Text.h"

namespace {

TEST(Text, RoundTripsEveryPlane) {
  const std::string samples[] = {"", "ASCII 0912", "連線 鈴聲設定..", "😀☎", std::string("a\0b", 3)};
  for (const std::string& sample : samples) {
    EXPECT_EQ(win32::WideToUtf8(win32::Utf8ToWide(sample)), sample);
  }
  EXPECT_EQ(win32::Utf8ToWide("連線"), L"\u9023\u7dda");
  EXPECT_EQ(win32::Utf8ToWide("😀"), std::wstring(L"\xd83d\xde00"));
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(win32::Utf8ToWide("a\377b"), L"a\uFFFDb");
  // A truncated sequence at the end must not swallow what came before it.
  EXPECT_EQ(win32::Utf8ToWide("ab\xe9\x80"), std::wstring(L"ab\uFFFD"));
  EXPECT_EQ(win32::WideToUtf8(std::wstring(L"x\xd800y")), "x\xef\xbf\xbdy");
}

bool IsOpenKernelHandle(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

TEST(Handles, KernelHandleTreatsBothFailureValuesAsEmpty) {
  EXPECT_FALSE(win32::UniqueHandle().valid());
  EXPECT_FALSE(win32::UniqueHandle(INVALID_HANDLE_VALUE).valid());
  win32::UniqueHandle snapshot(CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(snapshot.get(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(snapshot);
}

TEST(Handles, ResetMoveAndReleaseOwnExactlyOnce) {
  const HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(raw);
  win32::UniqueHandle first(raw);
  win32::UniqueHandle second(std::move(first));
  EXPECT_FALSE(first.valid());
  EXPECT_EQ(second.get(), raw);
  EXPECT_TRUE(IsOpenKernelHandle(raw));

  win32::UniqueHandle third;
  third = std::move(second);
  EXPECT_TRUE(IsOpenKernelHandle(raw));
  third.reset(raw);  // the same handle again: kept, not closed
  EXPECT_TRUE(IsOpenKernelHandle(raw));

  const HANDLE released = third.release();
  EXPECT_FALSE(third.valid());
  EXPECT_TRUE(IsOpenKernelHandle(released));
  third.reset(released);
  third.reset();
  EXPECT_FALSE(IsOpenKernelHandle(raw));
}

TEST(Handles, MoveAssignmentClosesWhatWasHeld) {
  win32::UniqueHandle target(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE old = target.get();
  target = win32::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_FALSE(IsOpenKernelHandle(old));
  EXPECT_TRUE(IsOpenKernelHandle(target.get()));
}

TEST(Handles, EachKindClosesWithItsOwnCall) {
  HKEY rawKey = nullptr;
  {
    win32::UniqueKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TelioxShellTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.receive(), nullptr),
              ERROR_SUCCESS);
    rawKey = key.get();
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TelioxShellTest"), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegQueryValueExA(rawKey, "x", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);

  HMENU rawMenu = nullptr;
  {
    win32::UniqueMenu menu(CreatePopupMenu());
    rawMenu = menu.get();
    EXPECT_TRUE(IsMenu(rawMenu));
  }
  EXPECT_FALSE(IsMenu(rawMenu));

  HICON rawIcon = nullptr;
  {
    win32::UniqueIcon icon(CopyIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512))));
    rawIcon = icon.get();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(rawIcon, &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(rawIcon, &info));

  {
    win32::UniqueModule module(LoadLibraryW(L"smoke_lang.dll"));
    ASSERT_TRUE(module);
    EXPECT_EQ(GetModuleHandleW(L"smoke_lang.dll"), module.get());
  }
  EXPECT_EQ(GetModuleHandleW(L"smoke_lang.dll"), nullptr);
}

}  // namespace
