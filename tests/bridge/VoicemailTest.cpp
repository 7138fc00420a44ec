// The voicemail records as the client library delivers them, read within their bounds whatever
// the count says, and the list's date text checked against the C library's own asctime.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "bridge/softphone/VoicemailEntry.h"
#include "platform/ClientApi.h"

namespace bridge {
namespace {

constexpr std::size_t kSize = platform::kVoicemailEntrySize;

void PutInt32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> Records(std::size_t count) {
  std::vector<std::uint8_t> bytes(count * kSize);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* record = bytes.data() + i * kSize;
    PutInt32(record + platform::kVoicemailIdOffset, static_cast<std::uint32_t>(i + 1));
    std::memcpy(record + platform::kVoicemailPartnerOffset, "p", 2);
  }
  return bytes;
}

TEST(VoicemailEntry, FieldsAreLittleEndianAtTheirOffsetsAndThePartnerEndsAtItsTerminatorOrItsField) {
  std::vector<std::uint8_t> record(kSize + 1, 0xEE);  // one byte past the record, never read
  PutInt32(record.data() + 0, 0x04030201);
  PutInt32(record.data() + 4, 0xFFFFFFFF);
  PutInt32(record.data() + 8, 0x80000000);
  std::memcpy(record.data() + 12, "Alice\0Bob", 10);
  auto entry = ReadVoicemailEntry(record.data());
  EXPECT_EQ(0x04030201, entry.id);
  EXPECT_EQ(-1, entry.timestamp);
  EXPECT_EQ(std::numeric_limits<std::int32_t>::min(), entry.status);
  EXPECT_EQ("Alice", entry.partner);

  // No terminator in the field: all 256 bytes, and not the byte after the record.
  std::memset(record.data() + 12, 'x', 256);
  entry = ReadVoicemailEntry(record.data());
  EXPECT_EQ(std::string(256, 'x'), entry.partner);

  // Unaligned records read the same: the fields are assembled byte by byte.
  std::vector<std::uint8_t> shifted(kSize + 1);
  std::memcpy(shifted.data() + 1, record.data(), kSize);
  EXPECT_EQ(0x04030201, ReadVoicemailEntry(shifted.data() + 1).id);
}

TEST(VoicemailEntry, AListReadsExactlyTheCountItIsGivenNoneForNothingAndAtMostTheCap) {
  // Each array is as long as its records and no longer: reading past it is caught.
  auto three = Records(3);
  auto read = ReadVoicemailList(three.data(), 3);
  ASSERT_EQ(3u, read.size());
  EXPECT_EQ(1, read[0].id);
  EXPECT_EQ(3, read[2].id);
  EXPECT_EQ("p", read[2].partner);
  EXPECT_EQ(2u, ReadVoicemailList(three.data(), 2).size());

  EXPECT_TRUE(ReadVoicemailList(three.data(), 0).empty());
  EXPECT_TRUE(ReadVoicemailList(three.data(), -1).empty());
  EXPECT_TRUE(ReadVoicemailList(three.data(), std::numeric_limits<std::intptr_t>::min()).empty());
  EXPECT_TRUE(ReadVoicemailList(nullptr, 3).empty());

  // A count whose size in bytes would wrap a 32-bit size_t (16027331 × 268 = 2^32 + 4) reads
  // the cap's worth and no more.
  auto most = Records(static_cast<std::size_t>(kMaxVoicemailEntries));
  for (const std::intptr_t count :
       {kMaxVoicemailEntries + 1, std::intptr_t{16027331}, std::intptr_t{std::numeric_limits<std::int32_t>::max()},
        std::numeric_limits<std::intptr_t>::max()}) {
    read = ReadVoicemailList(most.data(), count);
    ASSERT_EQ(static_cast<std::size_t>(kMaxVoicemailEntries), read.size()) << count;
    EXPECT_EQ(kMaxVoicemailEntries, read.back().id);
  }
}

TEST(VoicemailEntry, OnlyTheThreeKnownStatusesHaveAnImage) {
  EXPECT_EQ(0, VoicemailStatusImage(5));
  EXPECT_EQ(1, VoicemailStatusImage(12));
  EXPECT_EQ(2, VoicemailStatusImage(6));
  for (const std::int32_t other : {0, 1, 4, 7, 11, 13, -5, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(-1, VoicemailStatusImage(other)) << other;
  }
}

// The C library's asctime of gmtime, where it can convert the time (glibc: every 32-bit time).
std::string LibraryAsctime(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm broken{};
  char text[64] = {};
  if (!gmtime_r(&time, &broken) || !asctime_r(&broken, text)) return "?";
  return text;
}

TEST(VoicemailEntry, DatesAreAsctimesFormOfTheUtcTimeForEveryThirtyTwoBitTimestamp) {
  EXPECT_EQ("Thu Jan  1 00:00:00 1970\n", AsctimeUtc(0));
  EXPECT_EQ("Wed Dec 31 23:59:59 1969\n", AsctimeUtc(-1));
  EXPECT_EQ("Fri Dec 13 20:45:52 1901\n", AsctimeUtc(std::numeric_limits<std::int32_t>::min()));
  EXPECT_EQ("Tue Jan 19 03:14:07 2038\n", AsctimeUtc(std::numeric_limits<std::int32_t>::max()));
  EXPECT_EQ("Tue Feb 29 12:00:00 2000\n", AsctimeUtc(951825600));

  // Across the whole 32-bit range, negative times included, in steps that land on every hour,
  // weekday, month day and leap year.
  for (std::int64_t t = std::numeric_limits<std::int32_t>::min(); t <= std::numeric_limits<std::int32_t>::max();
       t += 86400 * 7 + 3607) {
    ASSERT_EQ(LibraryAsctime(t), AsctimeUtc(t)) << t;
  }

  // Years asctime's form cannot hold give no date rather than a wrong or overlong one.
  EXPECT_EQ("Fri Dec 31 23:59:59 9999\n", AsctimeUtc(253402300799));
  EXPECT_EQ("", AsctimeUtc(253402300800));
  EXPECT_EQ("Mon Jan  1 00:00:00 1\n", AsctimeUtc(-62135596800));
  EXPECT_EQ("", AsctimeUtc(-62135596801));
  EXPECT_EQ("", AsctimeUtc(std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ("", AsctimeUtc(std::numeric_limits<std::int64_t>::min()));
}

}  // namespace
}  // namespace bridge
