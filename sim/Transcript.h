// Every observable effect of a simulated world, one line each, stamped with virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sim/VirtualClock.h"

namespace sim {

struct TranscriptLine {
  std::uint64_t time = 0;
  std::string channel;
  std::string payload;
};

class Transcript {
 public:
  explicit Transcript(VirtualClock& clock) : clock_(clock) {}

  // Thread-safe; the line is stamped with the clock's current time.
  void Add(std::string_view channel, std::string_view payload);
  std::vector<TranscriptLine> Lines() const;
  std::size_t Size() const;
  TranscriptLine At(std::size_t index) const;
  // Called for every new line, on the thread that added it.
  void SetListener(std::function<void(const TranscriptLine&)> listener);
  // Lines go to the listener only and are not kept: for the simulators that run for hours in
  // real time and hand every line on as it comes, so their memory stays flat.
  void KeepNoLines();

  // "<time right-aligned to 8> <channel> <payload>"
  static std::string Format(const TranscriptLine& line);
  // "<channel> <payload>": what expectations are matched against.
  static std::string Body(const TranscriptLine& line);

 private:
  VirtualClock& clock_;
  mutable std::mutex mutex_;
  std::vector<TranscriptLine> lines_;
  bool keepLines_ = true;
  std::function<void(const TranscriptLine&)> listener_;
};

// Formatting helpers shared by the models: uppercase hex, two digits a byte, space-separated.
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);
// A text in double quotes with \" and \n escaped, as transcripts write texts. Backslashes stay as
// they are, so Windows paths read as written.
std::string Quote(std::string_view text);

}  // namespace sim
