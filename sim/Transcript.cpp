#include "sim/Transcript.h"

#include <cstdio>

namespace sim {

void Transcript::Add(std::string_view channel, std::string_view payload) {
  TranscriptLine line{clock_.Now(), std::string(channel), std::string(payload)};
  std::function<void(const TranscriptLine&)> listener;
  {
    std::lock_guard lock(mutex_);
    if (keepLines_) lines_.push_back(line);
    listener = listener_;
  }
  if (listener) listener(line);
}

void Transcript::KeepNoLines() {
  std::lock_guard lock(mutex_);
  keepLines_ = false;
  lines_.clear();
  lines_.shrink_to_fit();
}

std::vector<TranscriptLine> Transcript::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::size_t Transcript::Size() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

TranscriptLine Transcript::At(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return lines_.at(index);
}

void Transcript::SetListener(std::function<void(const TranscriptLine&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

std::string Transcript::Format(const TranscriptLine& line) {
  char time[32];
  std::snprintf(time, sizeof time, "%8llu", static_cast<unsigned long long>(line.time));
  return std::string(time) + " " + Body(line);
}

std::string Transcript::Body(const TranscriptLine& line) {
  return line.payload.empty() ? line.channel : line.channel + " " + line.payload;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace sim
