// VoicemailEntry: one voicemail as the client library delivers it, in an array of 268-byte
// little-endian records (message 0x481), and the date text the list shows for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bridge {

// Status codes the list shows with an image; the library defines them (unplayed, playing, played).
inline constexpr std::int32_t kVoicemailStatusUnplayed = 5;
inline constexpr std::int32_t kVoicemailStatusPlaying = 12;
inline constexpr std::int32_t kVoicemailStatusPlayed = 6;

// The most records a delivered list is taken to hold. The library's messages carry at most
// 1 MiB, 3855 records, so no real list comes near it; it keeps `count × 268` far from
// overflowing a 32-bit size and the copy bounded whatever the count says.
inline constexpr std::intptr_t kMaxVoicemailEntries = 4096;

struct VoicemailEntry {
  std::int32_t id = 0;
  std::int32_t timestamp = 0;  // seconds since 1970-01-01 UTC
  std::int32_t status = 0;
  std::string partner;  // up to its terminator, at most 256 bytes
};

// One record of kVoicemailEntrySize bytes, read field by field.
VoicemailEntry ReadVoicemailEntry(const std::uint8_t* record);

// The entries of a delivered list. `count` is what the library says the array holds (it never
// says more than it delivered); a count of 0 or less, or a null array, is no entry, and a count
// above kMaxVoicemailEntries is cut to it.
std::vector<VoicemailEntry> ReadVoicemailList(const std::uint8_t* array, std::intptr_t count);

// The image of a status in bitmap 162: 5 → 0, 12 → 1, 6 → 2; -1 for any other (no image).
int VoicemailStatusImage(std::int32_t status);

// asctime's form of a UTC time: "Thu Jan  1 00:00:00 1970\n". Computed here rather than with
// gmtime, which on Windows (msvcrt) returns null for every time before 1970; empty only for a
// year asctime's form cannot hold (outside 1 to 9999), which no 32-bit timestamp reaches.
std::string AsctimeUtc(std::int64_t secondsSince1970);

}  // namespace bridge
