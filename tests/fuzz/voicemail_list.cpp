// Voicemail arrays of any bytes and any claimed count: the count is the first eight bytes, the
// array the rest. The reader may trust a count only as far as the array it was given reaches,
// so the array is handed over as a buffer of exactly the entries the count names, when the
// input holds them all; a count beyond the input is cut to what the input holds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bridge/softphone/VoicemailEntry.h"
#include "platform/ClientApi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int64_t claimed = 0;
  if (size < sizeof claimed) return 0;
  std::memcpy(&claimed, data, sizeof claimed);
  data += sizeof claimed;
  size -= sizeof claimed;
  const auto held = static_cast<std::intptr_t>(size / platform::kVoicemailEntrySize);
  const auto count = static_cast<std::intptr_t>(claimed > held ? held : claimed);
  // Exactly the bytes of `count` entries (none for a count of zero or less), so ASan sees any
  // read past them.
  std::vector<std::uint8_t> array(data, data + (count > 0 ? static_cast<std::size_t>(count) * platform::kVoicemailEntrySize : 0));
  const auto entries = bridge::ReadVoicemailList(count > 0 ? array.data() : data, count);
  for (const auto& entry : entries) {
    if (entry.partner.size() > 256) __builtin_trap();
    bridge::VoicemailStatusImage(entry.status);
    bridge::AsctimeUtc(entry.timestamp);
  }
  return 0;
}
