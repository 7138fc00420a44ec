#include "bridge/softphone/VoicemailDlg.h"

#include <cstdio>

#include "platform/Window.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

constexpr std::uint32_t kWmNcDestroy = 0x0082;
constexpr int kList = IDC_VOICEMAIL_LIST;
constexpr std::uint32_t kLvsExFullRowSelect = 0x20;
// COLORREF 0x00BBGGRR: red 0xF4, green and blue 0xFF.
constexpr std::uint32_t kListColor = 0xFFFFF4;
// Bitmap 162 holds 16-pixel images on white.
constexpr int kStatusImageWidth = 16;
constexpr std::uint32_t kStatusImageMask = 0xFFFFFF;
// The please-wait window's text buffer holds 128 characters with the terminator.
constexpr std::size_t kWaitTextMax = 127;

// At most `count` characters of UTF-8 text, never cut inside one.
std::string CutCharacters(std::string_view text, std::size_t count) {
  std::size_t end = 0, characters = 0;
  while (end < text.size() && characters < count) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    ++characters;
  }
  return std::string(text.substr(0, end));
}

}  // namespace

bool CVoicemailDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                              std::intptr_t& result) {
  result = 0;
  switch (msg) {
    case platform::kWmInitDialog:
      window_ = &window;
      entries_.reset();
      window.CenterOnOwner();
      window.MakeTopmost();  // and shown
      result = 1;            // the focus goes to the list
      return true;
    case platform::kWmCommand:
      switch (static_cast<int>(wParam & 0xFFFF)) {
        case platform::kIdCancel:
          // The close box, Escape, Cancel: the main window hears it first, then the window hides
          // and stays, as a modeless dialog ended by the user does.
          ports_.desktop.Send(parent_, kMsgVoicemailClosed, 0, 0);
          window.Show(false);
          return true;
        case platform::kIdOk:
          // Enter changes nothing: hiding the list here would leave the main window taking it
          // for shown, with the handset's keys going to a list no one sees.
          return true;
        default:
          return false;
      }
    case kWmNcDestroy:
      window_ = nullptr;
      return true;
    default:
      return false;
  }
}

void CVoicemailDlg::SetEntries(const std::uint8_t* array, std::intptr_t count) {
  if (count <= 0 || !array || entries_) return;
  entries_ = ReadVoicemailList(array, count);
}

void CVoicemailDlg::FillList() {
  if (!window_ || !entries_ || entries_->empty()) return;
  auto& controls = window_->Controls();
  controls.ListViewSetExtendedStyle(kList, kLvsExFullRowSelect);
  controls.ListViewSetColors(kList, kListColor, kListColor);
  const double width = controls.ControlWidth(kList);
  controls.ListViewInsertColumn(kList, 0, ports_.ui.LoadText(IDS_VOICEMAIL_FROM), static_cast<int>(width * 0.5 - 5));
  controls.ListViewInsertColumn(kList, 1, ports_.ui.LoadText(IDS_VOICEMAIL_DATE), static_cast<int>(width * 0.5));
  controls.ListViewSetImageList(kList, IDB_VOICEMAIL_STATUS, kStatusImageWidth, kStatusImageMask);
  int i = 0;
  for (const VoicemailEntry& entry : *entries_) {
    const int row = controls.ListViewInsertRow(kList, i++, entry.partner);
    if (row < 0) continue;
    controls.ListViewSetText(kList, row, 1, AsctimeUtc(entry.timestamp));
    if (const int image = VoicemailStatusImage(entry.status); image >= 0) controls.ListViewSetImage(kList, row, image);
    controls.ListViewSetData(kList, row, entry.id);
  }
  controls.ListViewSelect(kList, 0);
}

void CVoicemailDlg::UpdateStatus(std::int32_t id, std::int32_t status) {
  const int image = VoicemailStatusImage(status);
  if (!window_ || image < 0) return;
  auto& controls = window_->Controls();
  const int rows = controls.ListViewCount(kList);
  for (int row = 0; row < rows; ++row) {
    // The item data holds the id as the row got it: compared at the id's own width.
    if (static_cast<std::int32_t>(controls.ListViewData(kList, row)) == id)
      controls.ListViewSetImage(kList, row, image);
  }
}

void CVoicemailDlg::ShowAndFocus() {
  window_->Show(true);
  window_->Focus();
}

int CVoicemailDlg::FirstSelected() {
  const int count = entries_ ? static_cast<int>(entries_->size()) : 0;
  auto& controls = window_->Controls();
  for (int row = 0; row < count; ++row) {
    if (controls.ListViewIsSelected(kList, row)) return row;
  }
  return -1;
}

void CVoicemailDlg::SelectPrevious() {
  if (!window_) return;
  ShowAndFocus();
  const int selected = FirstSelected();
  window_->Controls().ListViewSelect(kList, selected > 0 ? selected - 1 : 0);
}

// Past the last row the selection stays: the control refuses a row that is not there.
void CVoicemailDlg::SelectNext() {
  if (!window_) return;
  ShowAndFocus();
  const int selected = FirstSelected();
  window_->Controls().ListViewSelect(kList, selected >= 0 ? selected + 1 : 0);
}

void CVoicemailDlg::StartPlayback() { SendPlayback("STARTPLAYBACK"); }

void CVoicemailDlg::StopPlayback() { SendPlayback("STOPPLAYBACK"); }

void CVoicemailDlg::SendPlayback(const char* action) {
  if (!window_) return;
  ShowAndFocus();
  if (!entries_) return;
  auto& controls = window_->Controls();
  for (std::size_t row = 0; row < entries_->size(); ++row) {
    if (!controls.ListViewIsSelected(kList, static_cast<int>(row))) continue;
    char command[64];
    std::snprintf(command, sizeof command, "ALTER VOICEMAIL %d %s", static_cast<int>((*entries_)[row].id), action);
    ports_.client.SendStringCommand(command);
  }
}

CPleaseWaitDlg::CPleaseWaitDlg(std::string_view text) : text_(CutCharacters(text, kWaitTextMax)) {}

bool CPleaseWaitDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                               std::intptr_t& result) {
  result = 0;
  switch (msg) {
    case platform::kWmInitDialog:
      window_ = &window;
      window.CenterOnOwner();
      window.Controls().SetText(IDC_WAIT_TEXT, text_);
      window.MakeTopmost();  // and shown
      result = 1;
      return true;
    case platform::kWmCommand: {
      // Enter and Escape leave it: it stays until the list comes or the client goes.
      const auto id = static_cast<int>(wParam & 0xFFFF);
      return id == platform::kIdOk || id == platform::kIdCancel;
    }
    case kWmNcDestroy:
      window_ = nullptr;
      return true;
    default:
      return false;
  }
}

CVoicemailWindows::State CVoicemailWindows::CurrentState() const {
  if (list_) return hidden_ ? State::Hidden : State::Shown;
  return wait_ ? State::Waiting : State::None;
}

void CVoicemailWindows::DestroyList() {
  const auto list = std::move(list_);
  if (list && list->Window()) list->Window()->Destroy();
}

void CVoicemailWindows::DestroyWait() {
  const auto wait = std::move(wait_);
  if (wait && wait->Window()) wait->Window()->Destroy();
}

void CVoicemailWindows::OnVoicemailKey(bool clientAttached) {
  if (!clientAttached) return;
  if (list_) {
    const bool wasHidden = hidden_;
    DestroyList();
    // A list the user closed is asked for again; a shown one the key just closes.
    if (wasHidden) OnVoicemailKey(clientAttached);
    return;
  }
  if (wait_) return;  // a request is under way
  wait_ = std::make_unique<CPleaseWaitDlg>(ports_.ui.LoadText(IDS_VOICEMAIL_UPDATING));
  ports_.ui.CreateModeless(IDD_PLEASE_WAIT, *wait_, parent_);
  ports_.client.UpdateVMList();
}

void CVoicemailWindows::OnListDelivered(std::uintptr_t wParam, std::intptr_t lParam) {
  DestroyWait();
  DestroyList();
  auto list = std::make_unique<CVoicemailDlg>(ports_, parent_ ? parent_->Handle() : 0);
  // A list window that cannot be made is no list: the keys keep their usual work.
  if (!ports_.ui.CreateModeless(IDD_VOICEMAIL, *list, parent_) || !list->Window()) return;
  list_ = std::move(list);
  list_->SetEntries(reinterpret_cast<const std::uint8_t*>(wParam), lParam);
  list_->FillList();
  hidden_ = false;
}

void CVoicemailWindows::OnStatusChanged(std::uintptr_t wParam, std::intptr_t lParam) {
  // The id travels in wParam's low 32 bits.
  if (list_) list_->UpdateStatus(static_cast<std::int32_t>(wParam), static_cast<std::int32_t>(lParam));
}

void CVoicemailWindows::OnClientDetached() {
  if (list_ && !hidden_) DestroyList();
  DestroyWait();
}

}  // namespace bridge
