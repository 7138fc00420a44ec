#include "bridge/softphone/VoicemailEntry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ClientApi.h"

namespace bridge {
namespace {

std::int32_t ReadInt32(const std::uint8_t* bytes) {
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                              static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return static_cast<std::int32_t>(value);
}

// Days since 1970-01-01 to a proleptic Gregorian date, for any day count a 64-bit time gives.
struct CivilDate {
  std::int64_t year;
  int month;  // 1..12
  int day;    // 1..31
};

CivilDate DateOfDays(std::int64_t days) {
  // Counted in 400-year eras from 0000-03-01, so that leap days fall at the end of a year.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const int month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  return CivilDate{yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Division rounding towards negative infinity.
std::int64_t FloorDiv(std::int64_t value, std::int64_t by) { return value / by - (value % by < 0 ? 1 : 0); }

}  // namespace

VoicemailEntry ReadVoicemailEntry(const std::uint8_t* record) {
  VoicemailEntry entry;
  entry.id = ReadInt32(record + platform::kVoicemailIdOffset);
  entry.timestamp = ReadInt32(record + platform::kVoicemailTimestampOffset);
  entry.status = ReadInt32(record + platform::kVoicemailStatusOffset);
  // A partner without its terminator ends with its field.
  const auto* partner = reinterpret_cast<const char*>(record + platform::kVoicemailPartnerOffset);
  const auto* end = static_cast<const char*>(std::memchr(partner, 0, platform::kVoicemailPartnerSize));
  entry.partner.assign(partner, end ? static_cast<std::size_t>(end - partner) : platform::kVoicemailPartnerSize);
  return entry;
}

std::vector<VoicemailEntry> ReadVoicemailList(const std::uint8_t* array, std::intptr_t count) {
  std::vector<VoicemailEntry> entries;
  if (!array || count <= 0) return entries;
  const auto taken = static_cast<std::size_t>(std::min(count, kMaxVoicemailEntries));
  entries.reserve(taken);
  for (std::size_t i = 0; i < taken; ++i)
    entries.push_back(ReadVoicemailEntry(array + i * platform::kVoicemailEntrySize));
  return entries;
}

int VoicemailStatusImage(std::int32_t status) {
  switch (status) {
    case kVoicemailStatusUnplayed:
      return 0;
    case kVoicemailStatusPlaying:
      return 1;
    case kVoicemailStatusPlayed:
      return 2;
    default:
      return -1;
  }
}

std::string AsctimeUtc(std::int64_t secondsSince1970) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  constexpr std::int64_t kSecondsPerDay = 86400;
  // Beyond these the day count below could overflow; their years are far outside 1..9999 anyway.
  constexpr std::int64_t kLimit = std::int64_t{1} << 50;
  if (secondsSince1970 < -kLimit || secondsSince1970 > kLimit) return {};
  const std::int64_t days = FloorDiv(secondsSince1970, kSecondsPerDay);
  const std::int64_t secondOfDay = secondsSince1970 - days * kSecondsPerDay;
  const CivilDate date = DateOfDays(days);
  if (date.year < 1 || date.year > 9999) return {};
  // 1970-01-01 was a Thursday.
  const auto weekday = static_cast<std::size_t>(days - FloorDiv(days + 4, 7) * 7 + 4);
  char text[32];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kWeekdays[weekday], kMonths[date.month - 1],
                date.day, static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                static_cast<int>(secondOfDay % 60), static_cast<int>(date.year));
  return text;
}

}  // namespace bridge
