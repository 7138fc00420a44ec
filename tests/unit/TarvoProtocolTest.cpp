// The client library's wire format, its call table and its payload store: what crosses the
// process boundary must decode exactly or be refused, and nothing the client sends may make the
// library write or read past a buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/real/CallTable.h"
#include "companions/tarvoapi/real/Payloads.h"
#include "platform/ClientApi.h"

using namespace tarvoapi;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

VoicemailRecord Voicemail(std::int32_t id, std::string_view partner) {
  VoicemailRecord record{};
  std::memcpy(record.data(), &id, 4);
  std::memcpy(record.data() + platform::kVoicemailPartnerOffset, partner.data(), partner.size());
  return record;
}

// --- protocol ---------------------------------------------------------------------------------

TEST(TarvoProtocol, EveryMessageDecodesToWhatWasEncoded) {
  const LibraryMessage library[] = {
      {kAttach, kProtocolVersion, 4242, {}},
      {kDetach, 0, 0, {}},
      {kCommand, 0, 0, "CALL bob"},
      {kCommandDirect, 0, 0, "FOCUS"},
      {kHold, 0, 0, {}},
      {kMinimize, 0, 0, {}},
      {kCloseMessageWindow, 0, 0, {}},
      {kUpdateVoicemails, 0, 0, {}},
      {kUpdateContacts, 0, 0, {}},
  };
  for (const auto& message : library) {
    auto decoded = DecodeLibraryMessage(message.kind, Encode(message));
    ASSERT_TRUE(decoded) << std::hex << message.kind;
    if (message.kind != kAttach) decoded->version = message.version;  // only attach carries it
    EXPECT_EQ(*decoded, message) << std::hex << message.kind;
  }

  const CallInfo bob{3, "INPROGRESS", 2, "bob smith", false};
  const CallInfo alice{4, "RINGING", 0, "alice", true};
  std::vector<ClientMessage> client(8);
  client[0].message = platform::kClientAttached;
  client[0].calls = {bob, alice};
  client[0].recentHandle = "bob smith";
  client[1].message = platform::kClientStatusText;
  client[1].text = "AUDIO_IN Headset (USB)";
  client[2].message = platform::kClientCallStatus;
  client[2].param = 2;
  client[2].calls = {alice};
  client[3].message = platform::kClientVoicemailList;
  client[3].param = 2;
  client[3].voicemails = {Voicemail(1, "carol"), Voicemail(2, "dave")};
  client[4].message = platform::kClientVoicemailStatus;
  client[4].id = 9;
  client[4].param = 12;
  client[5].message = platform::kClientContactList;
  client[5].contacts = {"carol", "dave"};
  client[6].message = platform::kClientDetached;
  client[7].kind = kClientState;
  client[7].calls = {bob};
  client[7].recentHandle = "bob smith";
  for (const auto& message : client) {
    const auto decoded = DecodeClientMessage(message.kind, Encode(message));
    ASSERT_TRUE(decoded) << std::hex << message.message;
    EXPECT_EQ(*decoded, message) << std::hex << message.message;
  }
}

TEST(TarvoProtocol, BrokenStructureRefusesTheWholeMessage) {
  ClientMessage call;
  call.message = platform::kClientCallStatus;
  call.calls = {CallInfo{1, "RINGING", 0, "bob", true}};
  const auto good = Encode(call);
  ASSERT_TRUE(DecodeClientMessage(kNotify, good));

  // Every cut of a valid message falls inside a field or its header.
  for (std::size_t length = 1; length < good.size(); ++length) {
    EXPECT_FALSE(DecodeClientMessage(kNotify, std::span(good.data(), length))) << length;
  }
  // A field claiming more bytes than there are.
  auto overlong = good;
  overlong[2] = 0xFF;
  EXPECT_FALSE(DecodeClientMessage(kNotify, overlong));

  FieldWriter shortInteger;
  shortInteger.Bytes(kFieldMessage, Bytes("\x7F\x04"));
  EXPECT_FALSE(DecodeClientMessage(kNotify, shortInteger.Data()));

  FieldWriter outOfRange;
  outOfRange.U32(kFieldMessage, 0x483);
  EXPECT_FALSE(DecodeClientMessage(kNotify, outOfRange.Data()));

  FieldWriter callWithoutCall;  // 0x47F without its record says nothing
  callWithoutCall.U32(kFieldMessage, platform::kClientCallStatus);
  EXPECT_FALSE(DecodeClientMessage(kNotify, callWithoutCall.Data()));

  FieldWriter callWithoutId;
  FieldWriter nested;
  nested.Text(kFieldCallStatus, "RINGING");
  callWithoutId.U32(kFieldMessage, platform::kClientCallStatus);
  callWithoutId.Bytes(kFieldCall, nested.Data());
  EXPECT_FALSE(DecodeClientMessage(kNotify, callWithoutId.Data()));

  FieldWriter shortVoicemail;
  shortVoicemail.U32(kFieldMessage, platform::kClientVoicemailList);
  shortVoicemail.Bytes(kFieldVoicemail, std::vector<std::uint8_t>(kVoicemailSize - 1));
  EXPECT_FALSE(DecodeClientMessage(kNotify, shortVoicemail.Data()));

  // Each side takes only its partner's kinds.
  EXPECT_FALSE(DecodeClientMessage(kCommand, Encode(LibraryMessage{kCommand, 0, 0, "X"})));
  EXPECT_FALSE(DecodeLibraryMessage(kNotify, good));
  FieldWriter noText;
  EXPECT_FALSE(DecodeLibraryMessage(kCommand, noText.Data()));
}

TEST(TarvoProtocol, TextsStopAtTheirTerminatorAndAreCutToTheirFields) {
  FieldWriter writer;
  writer.U32(kFieldMessage, platform::kClientStatusText);
  writer.Bytes(kFieldText, Bytes(std::string_view("MUTE ON\0garbage", 15)));
  EXPECT_EQ(DecodeClientMessage(kNotify, writer.Data())->text, "MUTE ON");

  ClientMessage longText;
  longText.message = platform::kClientStatusText;
  longText.text = std::string(5000, 'a');
  EXPECT_EQ(DecodeClientMessage(kNotify, Encode(longText))->text.size(), kMaxStatusText);

  ClientMessage longCall;
  longCall.message = platform::kClientCallStatus;
  longCall.calls = {CallInfo{1, "A-STATUS-FAR-TOO-LONG-FOR-ITS-FIELD", 0, std::string(300, 'p'), true}};
  const auto call = DecodeClientMessage(kNotify, Encode(longCall))->calls.front();
  EXPECT_EQ(call.status.size(), kMaxCallStatus);
  EXPECT_EQ(call.partner.size(), kMaxPartner);

  ClientMessage longHandle;
  longHandle.kind = kClientState;
  longHandle.recentHandle = std::string(150, 'h');
  EXPECT_EQ(DecodeClientMessage(kClientState, Encode(longHandle))->recentHandle->size(), kMaxHandle);
}

TEST(TarvoProtocol, CommandsAreRefusedRatherThanCut) {
  const std::string longest(kMaxCommand, 'x');
  const auto taken = DecodeLibraryMessage(kCommand, Encode(LibraryMessage{kCommand, 0, 0, longest}));
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->text, longest);
  EXPECT_FALSE(DecodeLibraryMessage(kCommand, Encode(LibraryMessage{kCommand, 0, 0, longest + "y"})));
}

TEST(TarvoProtocol, UnknownFieldsAreSkippedAndOverlongFieldsCut) {
  FieldWriter writer;
  writer.Text(0x7777, "from a later version");
  writer.U32(kFieldMessage, platform::kClientAvailable);
  writer.Bytes(0x7778, {});
  const auto decoded = DecodeClientMessage(kNotify, writer.Data());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->message, platform::kClientAvailable);

  FieldWriter huge;
  huge.Bytes(kFieldText, std::vector<std::uint8_t>(70000, 'a'));
  EXPECT_EQ(huge.Data().size(), 4u + 0xFFFF);
}

TEST(TarvoProtocol, RandomBytesNeverCrashTheDecoders) {
  // Runs under the address sanitizer natively: any read past a body shows up here.
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 64);
  const std::uint32_t kinds[] = {kNotify, kClientState, kAttach, kCommand, kCommandDirect};
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::uint8_t> body(static_cast<std::size_t>(length(random)));
    for (auto& b : body) b = static_cast<std::uint8_t>(byte(random));
    // Valid headers now and then, so decoding gets past the first field.
    if (body.size() >= 8 && round % 2 == 0) {
      body[0] = static_cast<std::uint8_t>(round % 12);
      body[1] = 0;
      body[3] = 0;
      body[2] = static_cast<std::uint8_t>(body[2] % (body.size() - 3));
    }
    const std::uint32_t kind = kinds[round % 5];
    if (IsClientKind(kind)) {
      (void)DecodeClientMessage(kind, body);
    } else {
      (void)DecodeLibraryMessage(kind, body);
    }
  }
}

// --- call table -------------------------------------------------------------------------------

TEST(TarvoCallTable, GroupsCountTheirCallsAndNameTheEarliest) {
  CallTable table;
  table.Apply({5, "INPROGRESS", 0, "a", true});
  table.Apply({6, "RINGING", 0, "b", true});
  table.Apply({7, "RINGING", 0, "c", false});  // ringing at the other end: not ringing here
  table.Apply({8, "ONHOLD", 0, "d", true});
  table.Apply({9, "ONHOLD", 0, "e", true});
  table.Apply({10, "ROUTING", 0, "f", false});
  const auto counts = table.Count();
  EXPECT_EQ(counts.inProgress, 1);
  EXPECT_EQ(counts.inProgressId, 5);
  EXPECT_EQ(counts.ringing, 1);
  EXPECT_EQ(counts.ringingId, 6);
  EXPECT_EQ(counts.onHold, 2);
  EXPECT_EQ(counts.onHoldId, 8);

  // A status change keeps the call's place; an end status removes it.
  table.Apply({8, "INPROGRESS", 0, "d", true});
  table.Apply({5, "ONHOLD", 0, "a", true});
  EXPECT_EQ(table.Count().onHoldId, 5);
  for (const char* ended : {"FINISHED", "MISSED", "REFUSED", "CANCELLED", "BUSY", "FAILED"}) {
    table.Apply({6, "RINGING", 0, "b", true});
    table.Apply({6, ended, 0, "b", true});
    EXPECT_FALSE(table.Find(6)) << ended;
  }
  EXPECT_EQ(table.Calls().size(), 5u);
  table.Apply({99, "FINISHED", 0, "", true});  // an unknown call that ended: nothing to add
  EXPECT_FALSE(table.Find(99));

  table.Replace({{1, "RINGING", 0, "x", true}, {1, "ONHOLD", 0, "x", true}, {2, "BUSY", 0, "y", true}});
  ASSERT_EQ(table.Calls().size(), 1u);
  EXPECT_EQ(table.Calls()[0].status, "RINGING");
}

TEST(TarvoCallTable, CountExWritesNoMoreIdsThanTheArraysHold) {
  CallTable table;
  for (int id = 1; id <= 4; ++id) table.Apply({id, "ONHOLD", 0, "", true});
  table.Apply({5, "INPROGRESS", 0, "", true});

  unsigned long held[4] = {0, 0, 0xDEAD, 0xDEAD};
  unsigned long active[1] = {0xDEAD};
  int inProgress = 0;  // a capacity of 0: count only, though an array is given
  int ringing = 3;     // a null array: count only
  int onHold = 2;
  table.CountEx(inProgress, active, ringing, nullptr, onHold, held);
  EXPECT_EQ(inProgress, 1);
  EXPECT_EQ(ringing, 0);
  EXPECT_EQ(onHold, 4);
  EXPECT_EQ(active[0], 0xDEADu);
  EXPECT_EQ(held[0], 1u);
  EXPECT_EQ(held[1], 2u);
  EXPECT_EQ(held[2], 0xDEADu);

  int negative = -5;
  int zero = 0;
  int capacity = 8;
  unsigned long all[8] = {};
  table.CountEx(negative, active, zero, nullptr, capacity, all);
  EXPECT_EQ(negative, 1);
  EXPECT_EQ(active[0], 0xDEADu);
  EXPECT_EQ(capacity, 4);
  EXPECT_EQ(all[3], 4u);
}

TEST(TarvoCallTable, RecordsHaveTheirFieldsAtTheirOffsetsCutAndTerminated) {
  std::uint8_t record[platform::kCallStructureSize + 8];
  std::memset(record, 0xCC, sizeof record);
  CallTable::FillRecord({-7, std::string(40, 'S'), 3, std::string(400, 'P'), true}, record);
  std::int32_t id = 0;
  std::int32_t conference = 0;
  std::memcpy(&id, record + platform::kCallIdOffset, 4);
  std::memcpy(&conference, record + platform::kCallConferenceOffset, 4);
  EXPECT_EQ(id, -7);
  EXPECT_EQ(conference, 3);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(record + 4)), 167u);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(record + platform::kCallStatusOffset)), 19u);
  EXPECT_EQ(record[platform::kCallStructureSize], 0xCC);  // nothing beyond the record
}

TEST(TarvoCallTable, KnowsAtMostItsLimitOfCalls) {
  CallTable table;
  for (int id = 1; id <= static_cast<int>(kMaxCalls) + 10; ++id) table.Apply({id, "ONHOLD", 0, "", true});
  EXPECT_EQ(table.Calls().size(), kMaxCalls);
  table.Apply({1, "FINISHED", 0, "", true});
  table.Apply({1000, "RINGING", 0, "", true});
  EXPECT_TRUE(table.Find(1000));
}

// --- payloads ---------------------------------------------------------------------------------

TEST(TarvoPayloads, ExactPayloadsLiveUntilReleasedAndRingPayloadsUntilPushedOut) {
  Payloads payloads(2);
  const auto exact = payloads.Keep(Bytes("exact"), false, 1);
  const auto first = payloads.Keep(Bytes("first"), true, 1);
  const auto second = payloads.Keep(Bytes("second"), true, 1);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(exact), "exact", 5), 0);
  EXPECT_EQ(payloads.Outstanding(), 3u);
  // The third ring payload pushes out the oldest ring payload, never an exact one.
  payloads.Keep(Bytes("third"), true, 1);
  EXPECT_EQ(payloads.Outstanding(), 3u);
  EXPECT_FALSE(payloads.Release(first));
  EXPECT_TRUE(payloads.Release(second));
  EXPECT_TRUE(payloads.Release(exact));
  EXPECT_FALSE(payloads.Release(exact));
  EXPECT_EQ(payloads.Outstanding(), 1u);

  // An empty payload still has an address that can be read once.
  const auto empty = payloads.Keep({}, false, 2);
  EXPECT_NE(empty, 0u);
  EXPECT_EQ(*reinterpret_cast<const std::uint8_t*>(empty), 0);
  payloads.Keep(Bytes("other window"), false, 3);
  payloads.ReleaseOwner(2);
  payloads.ReleaseOwner(1);
  EXPECT_EQ(payloads.Outstanding(), 1u);
  // The ring count came down with the released ring payload: two more fit before eviction.
  const auto a = payloads.Keep(Bytes("a"), true, 3);
  const auto b = payloads.Keep(Bytes("b"), true, 3);
  EXPECT_TRUE(payloads.Release(a));
  EXPECT_TRUE(payloads.Release(b));
}

}  // namespace
