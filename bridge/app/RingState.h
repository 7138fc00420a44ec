// The ring settings the threads share: the mode the handset rings in, the chosen and the applied
// ring tone, the preview flags, and the parameter set the next upload sends.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace bridge {

// "RINGMODE". A stored value other than these two rings not at all, so the type keeps any number.
enum class RingMode : std::uint32_t { Ring = 1, Silent = 2 };
// Whether a successful upload is followed by a one-second preview.
enum class RingPreview : std::uint32_t { AfterUpload = 1, None = 2 };

// The five parameter bytes of one ring tone, as the upload sends them.
using RingParameters = std::array<std::uint8_t, 5>;
inline constexpr std::uint32_t kRingToneCount = 10;
// The parameter bytes of ring tones 0..9; nothing for any other number.
std::optional<RingParameters> RingToneParameters(std::uint32_t tone);

class RingState {
 public:
  std::atomic<RingMode> ringMode{RingMode::Ring};
  std::atomic<std::uint32_t> ringType{0};  // tone 0..9
  std::atomic<std::uint32_t> appliedRingType{0};
  std::atomic<bool> ringPreviewActive{false};
  std::atomic<RingPreview> previewAfterUpload{RingPreview::None};

  // Selects the parameter set of `tone` for the next upload (an unknown tone keeps the set) and
  // clears the applied tone.
  void SelectRingTone(std::uint32_t tone);
  // The selected set, read whole: an upload never mixes two sets.
  RingParameters SelectedParameters() const;

 private:
  // The five bytes packed into one word, so the user-interface thread and the device monitor can
  // replace the set while the sender reads it.
  std::atomic<std::uint64_t> selected_{0};
};

}  // namespace bridge
