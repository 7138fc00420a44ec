// The client's calls as the library knows them from the client's call records: what
// GetCallNumber, GetCallNumberEx and GetCallbyID answer, without asking the client.
//
// Rules (the client's own): a call is in progress when its status is "INPROGRESS", on hold when
// "ONHOLD", ringing when "RINGING" and incoming ("RINGING" of a call the user placed means it
// rings at the other end). An end status (FINISHED, MISSED, REFUSED, CANCELLED, BUSY, FAILED)
// removes the call. Calls keep the order in which they first appeared; a group's single id is
// its earliest call. Not thread-safe: the library guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "companions/tarvoapi/Protocol.h"

namespace tarvoapi {

class CallTable {
 public:
  struct Counts {
    int inProgress = 0;
    int inProgressId = 0;
    int ringing = 0;
    int ringingId = 0;
    int onHold = 0;
    int onHoldId = 0;
  };

  static bool IsEndStatus(std::string_view status);

  // A new call is added at the end (ignored once kMaxCalls are known); a known one takes the
  // record's status, conference, partner and direction.
  void Apply(const CallInfo& call);
  // The client's whole table; calls with end statuses and repeated ids are left out.
  void Replace(const std::vector<CallInfo>& calls);
  void Clear() { calls_.clear(); }

  Counts Count() const;
  // On entry each count is the capacity of its array (a null array has none); on return it is
  // the number of calls in the group, which may be more than were written.
  void CountEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds, int& onHold,
               unsigned long* onHoldIds) const;
  std::optional<CallInfo> Find(std::int32_t id) const;
  const std::vector<CallInfo>& Calls() const { return calls_; }

  // CALLStructure: id at 0, partner at 4 (168 bytes), status at 172 (20 bytes), conference at
  // 192; texts cut and terminated, the rest zero.
  static void FillRecord(const CallInfo& call, std::uint8_t* record);

 private:
  std::vector<CallInfo> calls_;
};

}  // namespace tarvoapi
