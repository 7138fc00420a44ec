#include "sim/ui/SimDialogControls.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "sim/Transcript.h"

namespace sim {

namespace {

constexpr std::uint32_t kLbsSort = 0x2;
constexpr std::uint32_t kCbsSort = 0x100;
constexpr std::uint32_t kCbsTypeMask = 0x3;
constexpr std::uint32_t kCbsDropDownList = 0x3;
constexpr std::uint32_t kLvsSingleSel = 0x4;
// Pixels per horizontal dialog unit.
constexpr int kPixelsPerTwoUnits = 3;

bool IsList(const ControlState& c) { return c.kind == ControlKind::kList || c.kind == ControlKind::kCombo; }
bool IsDropDownList(const ControlState& c) {
  return c.kind == ControlKind::kCombo && (c.style & kCbsTypeMask) == kCbsDropDownList;
}
bool IsSorted(const ControlState& c) {
  return (c.kind == ControlKind::kList && (c.style & kLbsSort) != 0) ||
         (c.kind == ControlKind::kCombo && (c.style & kCbsSort) != 0);
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) text += '|';
    text += parts[i];
  }
  return text;
}

// Clamps a track bar's position into its range, as the control does whenever either changes.
void ClampPosition(ControlState& c) {
  if (c.pos > std::max(c.rangeMax, c.rangeMin)) c.pos = std::max(c.rangeMax, c.rangeMin);
  if (c.pos < c.rangeMin) c.pos = c.rangeMin;
}

// A new range also sets the page size to a fifth of it, at least 1.
void RangeChanged(ControlState& c) {
  ClampPosition(c);
  c.page = std::max((c.rangeMax - c.rangeMin) / 5, 1);
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

SimDialogControls::SimDialogControls(const DialogTemplate& dialog, std::uintptr_t firstHandle,
                                     std::set<int> programBitmaps)
    : programBitmaps_(std::move(programBitmaps)) {
  controls_.reserve(dialog.controls.size());
  for (const auto& control : dialog.controls) {
    ControlState state;
    state.id = control.id;
    state.kind = control.kind;
    state.style = control.style;
    state.handle = firstHandle + controls_.size();
    state.defaultButton = control.defaultButton;
    state.autoButton = control.autoButton;
    if (control.kind != ControlKind::kList && control.kind != ControlKind::kCombo) state.text = control.text;
    state.enabled = !control.disabled;
    state.visible = control.visible;
    state.width = control.width * kPixelsPerTwoUnits / 2;
    controls_.push_back(std::move(state));
  }
}

// GetDlgItem's rule: the first control with the id.
ControlState* SimDialogControls::Control(int id) {
  for (auto& control : controls_) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

const ControlState* SimDialogControls::Control(int id) const {
  for (const auto& control : controls_) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

bool SimDialogControls::HasControl(int id) {
  std::lock_guard lock(mutex_);
  return Control(id) != nullptr;
}

int SimDialogControls::IdOf(std::uintptr_t controlHandle) {
  std::lock_guard lock(mutex_);
  for (const auto& control : controls_) {
    if (control.handle == controlHandle) return control.id;
  }
  return -1;
}

std::string SimDialogControls::GetText(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  if (!c) return {};
  // A drop-down list's text is its selected item.
  if (IsDropDownList(*c)) return c->selection >= 0 ? c->items[static_cast<std::size_t>(c->selection)] : std::string();
  return c->text;
}

void SimDialogControls::SetText(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (c && !IsDropDownList(*c)) c->text = std::string(text);
}

bool SimDialogControls::IsChecked(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c && c->checked;
}

// Only check boxes and radio buttons keep a check state (BM_SETCHECK means nothing to others).
void SimDialogControls::SetChecked(int id, bool checked) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (c && (c->kind == ControlKind::kCheck || c->kind == ControlKind::kRadio)) c->checked = checked;
}

bool SimDialogControls::IsEnabled(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c && c->enabled;
}

void SimDialogControls::SetEnabled(int id, bool enabled) {
  std::lock_guard lock(mutex_);
  if (ControlState* c = Control(id)) c->enabled = enabled;
}

bool SimDialogControls::IsVisible(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c && c->visible;
}

void SimDialogControls::SetVisible(int id, bool visible) {
  std::lock_guard lock(mutex_);
  if (ControlState* c = Control(id)) c->visible = visible;
}

int SimDialogControls::ListAdd(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || !IsList(*c)) return -1;
  auto at = c->items.end();
  if (IsSorted(*c)) {
    at = std::upper_bound(c->items.begin(), c->items.end(), text,
                          [](std::string_view a, const std::string& b) { return LessIgnoringCase(a, b); });
  }
  const int index = static_cast<int>(at - c->items.begin());
  c->items.insert(at, std::string(text));
  // An item inserted before the selection moves the selection along with its item.
  if (c->selection >= index) ++c->selection;
  return index;
}

void SimDialogControls::ListClear(int id) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || !IsList(*c)) return;
  c->items.clear();
  c->selection = -1;
  c->topIndex = 0;
  if (c->kind == ControlKind::kCombo) c->text.clear();
}

void SimDialogControls::ListDelete(int id, int index) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || !IsList(*c) || index < 0 || index >= static_cast<int>(c->items.size())) return;
  c->items.erase(c->items.begin() + index);
  // The selection follows its item, as the list box's does.
  if (c->selection == index) {
    c->selection = -1;
  } else if (c->selection > index) {
    --c->selection;
  }
  if (c->topIndex > 0 && c->topIndex >= static_cast<int>(c->items.size())) c->topIndex = 0;
}

int SimDialogControls::ListCount(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c && IsList(*c) ? static_cast<int>(c->items.size()) : 0;
}

std::string SimDialogControls::ListItem(int id, int index) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  if (!c || !IsList(*c) || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<std::size_t>(index)];
}

int SimDialogControls::ListSelection(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c && IsList(*c) ? c->selection : -1;
}

// An index out of range clears the selection, as LB_SETCURSEL and CB_SETCURSEL do; a combo
// box's edit part takes the selected item's text.
void SimDialogControls::ListSelect(int id, int index) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || !IsList(*c)) return;
  c->selection = index >= 0 && index < static_cast<int>(c->items.size()) ? index : -1;
  if (c->kind == ControlKind::kCombo && !IsDropDownList(*c)) {
    c->text = c->selection >= 0 ? c->items[static_cast<std::size_t>(c->selection)] : std::string();
  }
}

void SimDialogControls::ListSetTopIndex(int id, int index) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (c && IsList(*c) && index >= 0 && index < static_cast<int>(c->items.size())) c->topIndex = index;
}

void SimDialogControls::SliderSetRange(int id, int minimum, int maximum) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kSlider) return;
  c->rangeMin = minimum;
  c->rangeMax = maximum;
  RangeChanged(*c);
}

void SimDialogControls::SliderSetPos(int id, int position) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kSlider) return;
  c->pos = position;
  ClampPosition(*c);
}

int SimDialogControls::SliderPos(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c && c->kind == ControlKind::kSlider ? c->pos : 0;
}

void SimDialogControls::SliderSetPage(int id, int page) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (c && c->kind == ControlKind::kSlider) c->page = page;
}

void SimDialogControls::SliderSetTicFrequency(int id, int frequency) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (c && c->kind == ControlKind::kSlider) c->tick = frequency;
}

int SimDialogControls::ListViewInsert(int id, int index, std::vector<std::string> columns, std::optional<int> image,
                                      std::intptr_t data) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kListView) return -1;
  if (index < 0 || index > static_cast<int>(c->rows.size())) index = static_cast<int>(c->rows.size());
  c->rows.insert(c->rows.begin() + index, ListViewRow{std::move(columns), image, data, false});
  return index;
}

void SimDialogControls::ListViewClear(int id) {
  std::lock_guard lock(mutex_);
  ControlState* c = Control(id);
  if (c && c->kind == ControlKind::kListView) c->rows.clear();
}

std::optional<ListViewRow> SimDialogControls::ListViewRowAt(int id, int row) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kListView || row < 0 || row >= static_cast<int>(c->rows.size())) {
    return std::nullopt;
  }
  return c->rows[static_cast<std::size_t>(row)];
}

int SimDialogControls::ListViewSelection(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::kListView) return -1;
  for (std::size_t i = 0; i < c->rows.size(); ++i) {
    if (c->rows[i].selected) return static_cast<int>(i);
  }
  return -1;
}

ControlState* SimDialogControls::ListView(int id) {
  ControlState* c = Control(id);
  return c && c->kind == ControlKind::kListView ? c : nullptr;
}

int SimDialogControls::ControlWidth(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c ? c->width : 0;
}

void SimDialogControls::ListViewSetExtendedStyle(int id, std::uint32_t style) {
  std::lock_guard lock(mutex_);
  if (ControlState* c = ListView(id)) c->extendedStyle = style;
}

void SimDialogControls::ListViewSetColors(int id, std::uint32_t textBackground, std::uint32_t background) {
  std::lock_guard lock(mutex_);
  if (ControlState* c = ListView(id)) {
    c->textBackground = textBackground;
    c->background = background;
  }
}

// A column past the last is added at the end, as LVM_INSERTCOLUMN does.
int SimDialogControls::ListViewInsertColumn(int id, int column, std::string_view title, int width) {
  std::lock_guard lock(mutex_);
  ControlState* c = ListView(id);
  if (!c || column < 0) return -1;
  const int at = std::min(column, static_cast<int>(c->columnHeads.size()));
  c->columnHeads.insert(c->columnHeads.begin() + at, {std::string(title), width});
  return at;
}

bool SimDialogControls::ListViewSetImageList(int id, int bitmapId, int imageWidth, std::uint32_t) {
  std::lock_guard lock(mutex_);
  ControlState* c = ListView(id);
  if (!c || imageWidth <= 0 || programBitmaps_.count(bitmapId) == 0) return false;
  c->imageBitmap = bitmapId;
  return true;
}

int SimDialogControls::ListViewInsertRow(int id, int row, std::string_view text) {
  if (row < 0) return -1;
  return ListViewInsert(id, row, {std::string(text)}, std::nullopt, 0);
}

bool SimDialogControls::ListViewSetText(int id, int row, int column, std::string_view text) {
  std::lock_guard lock(mutex_);
  ControlState* c = ListView(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0) return false;
  // As the control: a sub-item keeps text only under a column, yet the call succeeds.
  if (column > 0 && column >= static_cast<int>(c->columnHeads.size())) return true;
  auto& columns = c->rows[static_cast<std::size_t>(row)].columns;
  if (static_cast<std::size_t>(column) >= columns.size()) columns.resize(static_cast<std::size_t>(column) + 1);
  columns[static_cast<std::size_t>(column)] = std::string(text);
  return true;
}

bool SimDialogControls::ListViewSetImage(int id, int row, int image) {
  std::lock_guard lock(mutex_);
  ControlState* c = ListView(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) return false;
  c->rows[static_cast<std::size_t>(row)].image = image;
  return true;
}

bool SimDialogControls::ListViewSetData(int id, int row, std::intptr_t data) {
  std::lock_guard lock(mutex_);
  ControlState* c = ListView(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) return false;
  c->rows[static_cast<std::size_t>(row)].data = data;
  return true;
}

std::intptr_t SimDialogControls::ListViewData(int id, int row) {
  std::lock_guard lock(mutex_);
  const ControlState* c = ListView(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) return 0;
  return c->rows[static_cast<std::size_t>(row)].data;
}

int SimDialogControls::ListViewCount(int id) {
  std::lock_guard lock(mutex_);
  const ControlState* c = ListView(id);
  return c ? static_cast<int>(c->rows.size()) : 0;
}

bool SimDialogControls::ListViewIsSelected(int id, int row) {
  std::lock_guard lock(mutex_);
  const ControlState* c = ListView(id);
  return c && row >= 0 && row < static_cast<int>(c->rows.size()) && c->rows[static_cast<std::size_t>(row)].selected;
}

void SimDialogControls::ListViewSelect(int id, int row) {
  std::lock_guard lock(mutex_);
  ControlState* c = ListView(id);
  if (!c) return;
  if (row < 0) {
    for (auto& each : c->rows) each.selected = false;
    return;
  }
  if (row >= static_cast<int>(c->rows.size())) return;
  if ((c->style & kLvsSingleSel) != 0) {
    for (auto& each : c->rows) each.selected = false;
  }
  c->rows[static_cast<std::size_t>(row)].selected = true;
}

std::optional<ControlState> SimDialogControls::Find(int id) const {
  std::lock_guard lock(mutex_);
  const ControlState* c = Control(id);
  return c ? std::optional<ControlState>(*c) : std::nullopt;
}

std::optional<ControlState> SimDialogControls::DefaultButton() const {
  std::lock_guard lock(mutex_);
  for (const auto& control : controls_) {
    if (control.defaultButton) return control;
  }
  return std::nullopt;
}

void SimDialogControls::UserClick(int id) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    ControlState& c = controls_[i];
    if (c.id != id) continue;
    if (!c.autoButton) return;
    if (c.kind == ControlKind::kCheck) c.checked = !c.checked;
    if (c.kind == ControlKind::kRadio) CheckRadioInGroup(i);
    return;
  }
}

// The group runs from the nearest control at or before this one with WS_GROUP up to the next
// control with WS_GROUP.
void SimDialogControls::CheckRadioInGroup(std::size_t index) {
  std::size_t first = index;
  while (first > 0 && (controls_[first].style & kWsGroup) == 0) --first;
  for (std::size_t i = first; i < controls_.size(); ++i) {
    if (i > first && (controls_[i].style & kWsGroup) != 0) break;
    if (controls_[i].kind == ControlKind::kRadio) controls_[i].checked = i == index;
  }
}

std::vector<std::string> SimDialogControls::Snapshot(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  std::vector<const ControlState*> order;
  for (const auto& control : controls_) {
    if (control.id != -1 && control.id != 0xFFFF) order.push_back(&control);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const ControlState* a, const ControlState* b) { return a->id < b->id; });
  std::vector<std::string> lines;
  for (const ControlState* c : order) {
    std::string line = prefix + std::to_string(c->id) + " " + ControlKindName(c->kind);
    const std::string enabled = std::string(" enabled=") + (c->enabled ? "1" : "0");
    switch (c->kind) {
      case ControlKind::kCheck:
      case ControlKind::kRadio:
        line += " text=" + Quote(c->text) + enabled + " checked=" + (c->checked ? "1" : "0");
        break;
      case ControlKind::kSlider:
        line += enabled + " range=" + std::to_string(c->rangeMin) + ".." + std::to_string(c->rangeMax) +
                " page=" + std::to_string(c->page) + " tick=" + std::to_string(c->tick) +
                " pos=" + std::to_string(c->pos);
        break;
      case ControlKind::kList:
        line += enabled + " items=" + Quote(Joined(c->items)) + " selected=" + std::to_string(c->selection);
        break;
      case ControlKind::kCombo: {
        const std::string text =
            IsDropDownList(*c) ? (c->selection >= 0 ? c->items[static_cast<std::size_t>(c->selection)] : "") : c->text;
        line += " text=" + Quote(text) + enabled + " items=" + Quote(Joined(c->items)) +
                " selected=" + std::to_string(c->selection);
        break;
      }
      case ControlKind::kListView: {
        // What the program set of the list's look, and only that.
        line += enabled;
        if (c->extendedStyle != 0) line += " exstyle=" + Hex(c->extendedStyle);
        if (c->textBackground) line += " textbk=" + Hex(*c->textBackground);
        if (c->background) line += " bk=" + Hex(*c->background);
        if (!c->columnHeads.empty()) {
          std::vector<std::string> heads;
          for (const auto& [title, width] : c->columnHeads) heads.push_back(title + ":" + std::to_string(width));
          line += " columns=" + Quote(Joined(heads));
        }
        if (c->imageBitmap) line += " images=" + std::to_string(*c->imageBitmap);
        break;
      }
      default:
        line += " text=" + Quote(c->text) + enabled;
        break;
    }
    lines.push_back(std::move(line));
    if (c->kind == ControlKind::kListView) {
      for (std::size_t row = 0; row < c->rows.size(); ++row) {
        const ListViewRow& r = c->rows[row];
        lines.push_back(prefix + std::to_string(c->id) + " listview row=" + std::to_string(row) +
                        " cols=" + Quote(Joined(r.columns)) +
                        " image=" + (r.image ? std::to_string(*r.image) : std::string("none")) + " data=" +
                        std::to_string(static_cast<std::int64_t>(r.data)) + " selected=" + (r.selected ? "1" : "0"));
      }
    }
  }
  return lines;
}

}  // namespace sim
