#include "bridge/app/RingState.h"

#include <iterator>

namespace bridge {
namespace {

constexpr RingParameters kRingTones[kRingToneCount] = {
    {230, 234, 20, 25, 20}, {232, 240, 10, 25, 40}, {234, 238, 10, 25, 40}, {210, 218, 10, 25, 40},
    {224, 232, 10, 25, 40}, {230, 234, 10, 18, 40}, {230, 234, 10, 12, 40}, {230, 234, 5, 40, 40},
    {238, 240, 10, 25, 40}, {218, 224, 10, 25, 40},
};

}  // namespace

std::optional<RingParameters> RingToneParameters(std::uint32_t tone) {
  if (tone >= std::size(kRingTones)) return std::nullopt;
  return kRingTones[tone];
}

void RingState::SelectRingTone(std::uint32_t tone) {
  if (const auto parameters = RingToneParameters(tone)) {
    std::uint64_t packed = 0;
    for (std::size_t i = 0; i < parameters->size(); ++i) packed |= std::uint64_t{(*parameters)[i]} << (8 * i);
    selected_ = packed;
  }
  appliedRingType = 0;
}

RingParameters RingState::SelectedParameters() const {
  const std::uint64_t packed = selected_;
  RingParameters parameters{};
  for (std::size_t i = 0; i < parameters.size(); ++i) parameters[i] = static_cast<std::uint8_t>(packed >> (8 * i));
  return parameters;
}

}  // namespace bridge
