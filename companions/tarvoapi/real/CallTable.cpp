#include "companions/tarvoapi/real/CallTable.h"

#include <algorithm>
#include <cstring>

#include "platform/ClientApi.h"

namespace tarvoapi {

namespace {

// Where the partner sits in CALLStructure; the bridge itself reads only id, status, conference.
constexpr std::size_t kPartnerOffset = 4;
constexpr std::size_t kPartnerSize = 168;
static_assert(kPartnerOffset + kPartnerSize == platform::kCallStatusOffset);
static_assert(kMaxPartner + 1 == kPartnerSize && kMaxCallStatus + 1 == platform::kCallStatusSize);

void PutInt32(std::uint8_t* at, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void PutText(std::uint8_t* at, std::size_t size, std::string_view text) {
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(at, text.data(), length);
  at[length] = 0;
}

enum Group { kNone = -1, kInProgress = 0, kRinging = 1, kOnHold = 2 };

Group GroupOf(const CallInfo& call) {
  if (call.status == "INPROGRESS") return kInProgress;
  if (call.status == "RINGING" && call.incoming) return kRinging;
  if (call.status == "ONHOLD") return kOnHold;
  return kNone;
}

}  // namespace

bool CallTable::IsEndStatus(std::string_view status) {
  static constexpr std::string_view kEnded[] = {"FINISHED", "MISSED", "REFUSED", "CANCELLED", "BUSY", "FAILED"};
  return std::find(std::begin(kEnded), std::end(kEnded), status) != std::end(kEnded);
}

void CallTable::Apply(const CallInfo& call) {
  const auto known = std::find_if(calls_.begin(), calls_.end(), [&](const CallInfo& c) { return c.id == call.id; });
  if (IsEndStatus(call.status)) {
    if (known != calls_.end()) calls_.erase(known);
  } else if (known != calls_.end()) {
    *known = call;
  } else if (calls_.size() < kMaxCalls) {
    calls_.push_back(call);
  }
}

void CallTable::Replace(const std::vector<CallInfo>& calls) {
  calls_.clear();
  for (const auto& call : calls) {
    if (IsEndStatus(call.status) || Find(call.id)) continue;
    Apply(call);
  }
}

CallTable::Counts CallTable::Count() const {
  Counts counts;
  int* numbers[3] = {&counts.inProgress, &counts.ringing, &counts.onHold};
  int* ids[3] = {&counts.inProgressId, &counts.ringingId, &counts.onHoldId};
  for (const auto& call : calls_) {
    const Group group = GroupOf(call);
    if (group == kNone) continue;
    if ((*numbers[group])++ == 0) *ids[group] = call.id;
  }
  return counts;
}

void CallTable::CountEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                        int& onHold, unsigned long* onHoldIds) const {
  const auto capacity = [](const unsigned long* ids, int count) { return ids && count > 0 ? count : 0; };
  const int capacities[3] = {capacity(inProgressIds, inProgress), capacity(ringingIds, ringing),
                             capacity(onHoldIds, onHold)};
  unsigned long* arrays[3] = {inProgressIds, ringingIds, onHoldIds};
  int counts[3] = {0, 0, 0};
  for (const auto& call : calls_) {
    const Group group = GroupOf(call);
    if (group == kNone) continue;
    if (counts[group] < capacities[group]) arrays[group][counts[group]] = static_cast<unsigned long>(call.id);
    ++counts[group];
  }
  inProgress = counts[kInProgress];
  ringing = counts[kRinging];
  onHold = counts[kOnHold];
}

std::optional<CallInfo> CallTable::Find(std::int32_t id) const {
  for (const auto& call : calls_) {
    if (call.id == id) return call;
  }
  return std::nullopt;
}

void CallTable::FillRecord(const CallInfo& call, std::uint8_t* record) {
  std::memset(record, 0, platform::kCallStructureSize);
  PutInt32(record + platform::kCallIdOffset, call.id);
  PutText(record + kPartnerOffset, kPartnerSize, call.partner);
  PutText(record + platform::kCallStatusOffset, platform::kCallStatusSize, call.status);
  PutInt32(record + platform::kCallConferenceOffset, call.conference);
}

}  // namespace tarvoapi
