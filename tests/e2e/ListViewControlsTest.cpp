// The list-view part of the DialogControls port on a real SysListView32 (single selection, report
// view, as the voicemail list has it), with the status images of the program's own bitmap 162.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include "platform/win32/DialogHost.h"
#include "platform/win32/Win32DialogControls.h"
#include "resources/bridge/resource.h"

namespace {

constexpr int kList = IDC_VOICEMAIL_LIST;

struct WindowTraits {
  using Type = HWND;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type window) { return window != nullptr; }
  static void Close(Type window) { DestroyWindow(window); }
};
using UniqueWindow = win32::UniqueHandleOf<WindowTraits>;

class ListViewControls : public ::testing::Test {
 protected:
  void SetUp() override {
    win32::RegisterCommonControlClasses();
    parent_.reset(CreateWindowExW(0, L"STATIC", L"list view test", WS_OVERLAPPED, 0, 0, 400, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(parent_);
    list_ = CreateWindowExW(
        0, WC_LISTVIEWW, L"", WS_CHILD | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS, 0, 0, 354, 150,
        parent_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kList)), GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, list_);
    controls_.Attach(parent_.get());
  }
  void TearDown() override { controls_.Attach(nullptr); }

  int ImageOf(int row) {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    return SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.iImage : -100;
  }
  std::wstring TextOf(int row, int column) {
    wchar_t text[64] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
  }

  UniqueWindow parent_;
  HWND list_ = nullptr;
  win32::Win32DialogControls controls_;
};

TEST_F(ListViewControls, RowsCarryTextDataAndAnImageOnlyWhenGivenOne) {
  // A sub-item keeps text only under a column.
  controls_.ListViewInsertColumn(kList, 0, "From", 172);
  controls_.ListViewInsertColumn(kList, 1, "Date", 177);
  EXPECT_EQ(0, controls_.ListViewInsertRow(kList, 0, "alice"));
  EXPECT_EQ(1, controls_.ListViewInsertRow(kList, 1, "bob"));
  EXPECT_EQ(2, controls_.ListViewInsertRow(kList, 9, "carol"));  // past the end: appended
  EXPECT_EQ(-1, controls_.ListViewInsertRow(kList, -1, "nobody"));
  EXPECT_EQ(-1, controls_.ListViewInsertRow(kList + 1, 0, "no such control"));
  EXPECT_EQ(3, controls_.ListViewCount(kList));

  EXPECT_TRUE(controls_.ListViewSetText(kList, 1, 1, "Thu Jan  1 00:00:00 1970\n"));
  EXPECT_FALSE(controls_.ListViewSetText(kList, 5, 1, "no such row"));
  EXPECT_EQ(L"bob", TextOf(1, 0));
  EXPECT_EQ(L"Thu Jan  1 00:00:00 1970\n", TextOf(1, 1));

  // A new row shows no image, not the list's first one.
  EXPECT_EQ(I_IMAGENONE, ImageOf(0));
  EXPECT_TRUE(controls_.ListViewSetImage(kList, 0, 2));
  EXPECT_EQ(2, ImageOf(0));

  EXPECT_TRUE(controls_.ListViewSetData(kList, 2, -7));
  EXPECT_EQ(-7, controls_.ListViewData(kList, 2));
  EXPECT_EQ(0, controls_.ListViewData(kList, 3));
  EXPECT_FALSE(controls_.ListViewSetData(kList, 3, 1));
}

TEST_F(ListViewControls, OneRowIsSelectedAtATimeAndARowThatIsNotThereChangesNothing) {
  for (int row = 0; row < 3; ++row) controls_.ListViewInsertRow(kList, row, "row");
  controls_.ListViewSelect(kList, 0);
  controls_.ListViewSelect(kList, 2);
  EXPECT_FALSE(controls_.ListViewIsSelected(kList, 0));
  EXPECT_TRUE(controls_.ListViewIsSelected(kList, 2));
  controls_.ListViewSelect(kList, 3);
  EXPECT_TRUE(controls_.ListViewIsSelected(kList, 2));
  EXPECT_FALSE(controls_.ListViewIsSelected(kList, 3));
  controls_.ListViewSelect(kList, -1);
  for (int row = 0; row < 3; ++row) EXPECT_FALSE(controls_.ListViewIsSelected(kList, row)) << row;
}

TEST_F(ListViewControls, LookColumnsAndTheProgramsStatusImages) {
  EXPECT_EQ(354, controls_.ControlWidth(kList));
  EXPECT_EQ(0, controls_.ControlWidth(kList + 1));
  controls_.ListViewSetExtendedStyle(kList, LVS_EX_FULLROWSELECT);
  EXPECT_EQ(static_cast<LRESULT>(LVS_EX_FULLROWSELECT), SendMessageW(list_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  controls_.ListViewSetColors(kList, 0xFFFFF4, 0xFFFFF4);
  EXPECT_EQ(0xFFFFF4, SendMessageW(list_, LVM_GETTEXTBKCOLOR, 0, 0));
  EXPECT_EQ(0xFFFFF4, SendMessageW(list_, LVM_GETBKCOLOR, 0, 0));

  EXPECT_EQ(0, controls_.ListViewInsertColumn(kList, 0, "From", 172));
  EXPECT_EQ(1, controls_.ListViewInsertColumn(kList, 1, "Date", 177));
  EXPECT_EQ(172, SendMessageW(list_, LVM_GETCOLUMNWIDTH, 0, 0));
  EXPECT_EQ(177, SendMessageW(list_, LVM_GETCOLUMNWIDTH, 1, 0));

  // Bitmap 162 is 48 pixels wide: three 16-pixel images.
  EXPECT_FALSE(controls_.ListViewSetImageList(kList, 9999, 16, 0xFFFFFF));
  ASSERT_TRUE(controls_.ListViewSetImageList(kList, IDB_VOICEMAIL_STATUS, 16, 0xFFFFFF));
  const auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list_, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_NE(nullptr, images);
  EXPECT_EQ(3, ImageList_GetImageCount(images));
  // A second list replaces the first, which goes.
  ASSERT_TRUE(controls_.ListViewSetImageList(kList, IDB_VOICEMAIL_STATUS, 16, 0xFFFFFF));
  EXPECT_NE(images, reinterpret_cast<HIMAGELIST>(SendMessageW(list_, LVM_GETIMAGELIST, LVSIL_SMALL, 0)));
}

}  // namespace
