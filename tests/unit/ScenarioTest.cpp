// The scenario language: every directive form, the lexical rules, and the line named by each kind
// of malformed input.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <variant>

#include "sim/scenario/Scenario.h"

using namespace sim;
using namespace sim::scenario;

namespace {

std::vector<Directive> ParseOk(const std::string& text) {
  auto result = ParseScenario(text);
  EXPECT_TRUE(result.Ok()) << result.error->ToString();
  return std::move(result.directives);
}

template <typename T>
T One(const std::string& line, Program program = Program::kBridge) {
  const auto directives = ParseOk(line);
  if (directives.size() != 1) {
    ADD_FAILURE() << line;
    return T{};
  }
  EXPECT_EQ(program, directives[0].program) << line;
  const T* args = std::get_if<T>(&directives[0].args);
  if (!args) {
    ADD_FAILURE() << "wrong directive for: " << line;
    return T{};
  }
  return *args;
}

TEST(ScenarioParse, EveryDirectiveFormParses) {
  const std::string text = R"(# world set-up
registry set HKCU\SOFTWARE\VORLANE\TELIOX\Teliox RINGTYPE dword 3
registry set "HKLM\SYSTEM\Current Control Set\Enum" "Device Desc" sz "USB Phone"
registry set HKLM\SOFTWARE\X Blob binary 01 ff 0x7A
registry delete HKCU\SOFTWARE\X
registry delete HKCU\SOFTWARE\X RINGTYPE
system langid 0x0411
system version 2 5 1 2600
absent "T40JPN_Qor.dll"
present "SNDWD.exe"
process start "other.exe" id 4242
process start "other.exe"
process end 4242
handset plug 0x1402 firmware 1 7
handset plug 0x1402
handset unplug
handset drop-acks 2
handset ack-delay 1.5s
handset version-reply silent
handset key 0x21
handset report 00 20 05 42 00 00 00
handset repeat
client start
client stop
client refuse
client pending
client window background
client call 12 RINGING kind 3 partner "alice" conference 2
client status "USERSTATUS DND"
client recent "bob"
client message-window open
client hold-replies on
client voicemails count 5 7:1230768000:5:"Alice: \"A\"" 8:0:12:""
client voicemail-status 7 6
audio handset "USB Phone" product 0x1402
audio playback "Speakers"
audio recording "Line In"
audio remove "Speakers"
audio control "USB Phone" dst1.src1 volume range 0 65535 value 100
audio default "USB Phone" "Speakers"
audio fail set-default 2
start
start manager
command 0x8001
message manager "PX_CloseApplication" 0xA0 0
copydata manager 1 "Unknown" bytes 7
tray click context
tray restart
tray refuse-adds 2
answer slider 1010 4 code 8
act 160 close
deactivate 136
snapshot manager 130
snapshot menu
wait 500ms
at 2s
mark
expect "hid> C0 00 9A"
expect-next cmd "FOCUS" within 1s
expect-count 2 "hid> .. .. 9A" within 5s
expect-not "cmd!" for 100ms
)";
  const auto directives = ParseOk(text);
  ASSERT_EQ(60u, directives.size());
  EXPECT_EQ(2, directives.front().line);
  EXPECT_EQ("registry set", directives.front().verb);
  EXPECT_EQ(61, directives.back().line);
  EXPECT_EQ("expect-not", directives.back().verb);
  EXPECT_EQ("expect-not \"cmd!\" for 100ms", directives.back().source);
  std::set<std::string> verbs;
  for (const auto& directive : directives) verbs.insert(directive.verb);
  EXPECT_EQ(53u, verbs.size());  // every verb of the language
}

TEST(ScenarioParse, WorldSetUp) {
  const auto dword = One<RegistrySet>(R"(registry set HKCU\SOFTWARE\A RINGTYPE dword -1)");
  EXPECT_EQ(Hive::kHkcu, dword.key.hive);
  EXPECT_EQ("SOFTWARE\\A", dword.key.path);
  EXPECT_EQ(ValueType::kDword, dword.type);
  EXPECT_EQ(0xFFFFFFFFu, dword.dword);

  const auto sz = One<RegistrySet>(R"(registry set "HKLM\SYSTEM\Current Control Set" "" sz "a\\b")");
  EXPECT_EQ(Hive::kHklm, sz.key.hive);
  EXPECT_EQ("SYSTEM\\Current Control Set", sz.key.path);
  EXPECT_EQ("", sz.name);
  EXPECT_EQ("a\\b", sz.text);

  const auto binary = One<RegistrySet>(R"(registry set HKLM\S Blob binary 01 ff 0x7A)");
  EXPECT_EQ((std::vector<std::uint8_t>{0x01, 0xFF, 0x7A}), binary.bytes);
  EXPECT_TRUE(One<RegistrySet>(R"(registry set HKLM\S Blob binary)").bytes.empty());

  EXPECT_FALSE(One<RegistryDelete>(R"(registry delete HKCU\S)").name);
  EXPECT_EQ("V", One<RegistryDelete>(R"(registry delete HKCU\S V)").name);

  EXPECT_EQ(0x0411, One<SystemLangid>("system langid 0x0411").langid);
  const auto version = One<SystemVersion>("system version 2 5 1 2600");
  EXPECT_EQ(2u, version.platformId);
  EXPECT_EQ(2600u, version.build);
  EXPECT_FALSE(One<FileAvailability>(R"(absent "T40JPN_Qor.dll")").present);
  EXPECT_TRUE(One<FileAvailability>(R"(present "SNDWD.exe")").present);
  EXPECT_EQ(4242u, One<ProcessStart>(R"(process start "x.exe" id 4242)").id);
  EXPECT_FALSE(One<ProcessStart>(R"(process start "x.exe")").id);
}

TEST(ScenarioParse, HandsetAndClient) {
  const auto plug = One<HandsetPlug>("handset plug 0x1402 firmware 1 7");
  EXPECT_EQ(0x1402, plug.productId);
  ASSERT_TRUE(plug.firmware);
  EXPECT_EQ(7, plug.firmware->minor);
  EXPECT_FALSE(One<HandsetPlug>("handset plug 0x1402").firmware);
  EXPECT_EQ(1500u, One<HandsetAckDelay>("handset ack-delay 1.5s").ms);
  EXPECT_EQ(VersionReply::kAck, One<HandsetVersionReply>("handset version-reply ack").mode);
  const std::array<std::uint8_t, 7> report = {0x00, 0x20, 0x05, 0x42, 0x00, 0x00, 0xFF};
  EXPECT_EQ(report, One<HandsetReport>("handset report 00 20 05 42 00 00 FF").bytes);

  EXPECT_EQ(Attach::kPending, One<ClientAttach>("client pending").answer);
  EXPECT_EQ(WindowState::kAbsent, One<ClientWindow>("client window absent").state);
  // Options in any order; kind defaults to 1.
  const auto call = One<ClientCall>(R"(client call 12 RINGING kind 3 partner "alice" conference -1)");
  EXPECT_EQ(12, call.id);
  EXPECT_EQ("RINGING", call.status);
  EXPECT_EQ(3, call.kind);
  EXPECT_EQ("alice", call.partner);
  EXPECT_EQ(-1, call.conference);
  const auto plain = One<ClientCall>("client call 5 INPROGRESS");
  EXPECT_EQ(1, plain.kind);
  EXPECT_FALSE(plain.conference);
  EXPECT_FALSE(plain.partner);

  const auto list = One<ClientVoicemails>(R"(client voicemails count 5 7:1230768000:5:"Alice: \"A\"" 8:-1:12:"")");
  EXPECT_EQ(5, list.count);
  ASSERT_EQ(2u, list.entries.size());
  EXPECT_EQ(1230768000, list.entries[0].timestamp);
  EXPECT_EQ("Alice: \"A\"", list.entries[0].partner);
  EXPECT_EQ(-1, list.entries[1].timestamp);
  EXPECT_EQ(12, list.entries[1].status);
  EXPECT_TRUE(One<ClientVoicemails>("client voicemails").entries.empty());
  EXPECT_TRUE(One<ClientHoldReplies>("client hold-replies on").on);
}

TEST(ScenarioParse, AudioWorld) {
  const auto control = One<AudioControl>(R"(audio control "USB Phone" dst1.src1 mute range 0 1 value 1)");
  EXPECT_EQ("USB Phone", control.mixer);
  EXPECT_EQ(1u, control.line.destination);
  EXPECT_EQ(1u, control.line.source);
  EXPECT_EQ(MixerControl::kMute, control.control);
  ASSERT_TRUE(control.range);
  EXPECT_EQ(1, control.range->max);
  EXPECT_EQ(1, control.value);
  const auto dst = One<AudioControl>(R"(audio control "M" dst0 volume)");
  EXPECT_FALSE(dst.line.source);
  EXPECT_FALSE(dst.range);
  EXPECT_EQ(0x1402, One<AudioHandset>(R"(audio handset "USB Phone" product 0x1402)").productId);
  EXPECT_EQ(DeviceChange::kRemove, One<AudioDevice>(R"(audio remove "Speakers")").change);
  EXPECT_EQ("Speakers", One<AudioDefault>(R"(audio default "USB Phone" "Speakers")").playback);
  const auto fail = One<AudioFail>("audio fail set-default 2");
  EXPECT_EQ(DefaultCall::kSet, fail.call);
  EXPECT_EQ(2u, fail.count);
}

TEST(ScenarioParse, ProgramsAndTheUser) {
  One<Start>("start");
  One<Start>("start manager", Program::kManager);
  EXPECT_EQ(0x8001, One<Command>("command bridge 0x8001").id);
  const auto named = One<Message>(R"(message manager "PX_CloseApplication" 0xA0 -1)", Program::kManager);
  EXPECT_EQ("PX_CloseApplication", named.registeredName);
  EXPECT_EQ(0xA0, named.wParam);
  EXPECT_EQ(-1, named.lParam);
  const auto numbered = One<Message>("message 0x83EB 0xFFFFFFFFFFFFFFFF 0");
  EXPECT_FALSE(numbered.registeredName);
  EXPECT_EQ(0x83EBu, numbered.msg);
  EXPECT_EQ(-1, numbered.wParam);
  const auto copy = One<CopyData>(R"(copydata manager 1 "Unknown" bytes 7)", Program::kManager);
  EXPECT_EQ("Unknown", copy.text);
  EXPECT_EQ(7u, copy.bytes);
  EXPECT_EQ(Click::kContext, One<TrayClick>("tray click context").click);
  One<TrayRestart>("tray restart");
  EXPECT_EQ(3u, One<TrayRefuseAdds>("tray refuse-adds 3").count);
  EXPECT_EQ(WindowState::kHidden, One<ClientWindow>("client window hidden").state);

  const auto slider = One<Answer>("answer slider 1010 4 code 8").action;
  EXPECT_EQ(ActionKind::kSlider, slider.kind);
  EXPECT_EQ(1010, slider.id);
  EXPECT_EQ(4, slider.value);
  EXPECT_EQ(8, slider.code);
  const auto select = One<Answer>("answer select 1001 -1").action;
  EXPECT_EQ(ActionKind::kSelect, select.kind);
  EXPECT_EQ(-1, select.value);
  EXPECT_EQ(32790, One<Answer>("answer menu 32790").action.id);
  EXPECT_EQ(ActionKind::kEscape, One<Answer>("answer escape").action.kind);
  const auto act = One<Act>("act manager 160 uncheck 1003", Program::kManager);
  EXPECT_EQ(160, act.window);
  EXPECT_EQ(ActionKind::kUncheck, act.action.kind);
  EXPECT_EQ(1003, act.action.id);
  EXPECT_EQ(136, One<Deactivate>("deactivate 136").window);
  EXPECT_FALSE(One<Snapshot>("snapshot menu").window);
  EXPECT_EQ(130, One<Snapshot>("snapshot manager 130", Program::kManager).window);
}

TEST(ScenarioParse, TimeAndExpectationsWithTheirDefaults) {
  EXPECT_EQ(500u, One<Wait>("wait 500ms").ms);
  EXPECT_EQ(2000u, One<At>("at 2s").ms);
  const auto expect = One<Expect>(R"(expect "hid> C0")");
  EXPECT_EQ(ExpectKind::kExpect, expect.kind);
  EXPECT_EQ(10u, expect.windowMs);
  const auto next = One<Expect>(R"(expect-next cmd! "FOCUS")");
  EXPECT_EQ("cmd!", next.channel);
  EXPECT_EQ(10u, next.windowMs);
  const auto count = One<Expect>(R"(expect-count 3 "9A" within 5s)");
  EXPECT_EQ(3u, count.count);
  EXPECT_EQ(5000u, count.windowMs);
  EXPECT_EQ(0u, One<Expect>(R"(expect-count 0 "9A")").windowMs);
  EXPECT_EQ(0u, One<Expect>(R"(expect-not "9A")").windowMs);
  EXPECT_EQ(250u, One<Expect>(R"(expect-not "9A" for 250ms)").windowMs);
  // The compiled regex searches; it does not have to match the whole text.
  EXPECT_TRUE(std::regex_search("hid> C0 00 9A", One<Expect>(R"(expect "\d+ 9A$")").regex));
}

TEST(ScenarioLexis, CommentsQuotesAndEscapes) {
  const auto directives = ParseOk(
      "\xEF\xBB\xBF# heading\r\n"
      "\r\n"
      "   \t\n"
      "client status \"a # not a comment\"   # a comment \"with quotes\r\n"
      "client status \"q\\\"uote\\\\back\\nline\"\n"
      "client status \"C:\\Program Files\\x\"#tail\n");
  ASSERT_EQ(3u, directives.size());
  EXPECT_EQ(4, directives[0].line);
  EXPECT_EQ("client status \"a # not a comment\"", directives[0].source);
  EXPECT_EQ("a # not a comment", std::get<ClientStatus>(directives[0].args).text);
  EXPECT_EQ("q\"uote\\back\nline", std::get<ClientStatus>(directives[1].args).text);
  // Other backslashes stay, so paths and regexes read as written.
  EXPECT_EQ("C:\\Program Files\\x", std::get<ClientStatus>(directives[2].args).text);
  EXPECT_TRUE(ParseOk("# only comments\n\n").empty());
}

TEST(ScenarioLexis, NumbersAndDurations) {
  EXPECT_EQ(-1, ParseNumber("-1"));
  EXPECT_EQ(0x1F, ParseNumber("0x1f"));
  EXPECT_EQ(-16, ParseNumber("-0x10"));
  EXPECT_EQ(-1, ParseNumber("0xFFFFFFFFFFFFFFFF"));
  EXPECT_EQ(INT64_MIN, ParseNumber("-9223372036854775808"));
  EXPECT_EQ(INT64_MAX, ParseNumber("9223372036854775807"));
  for (const char* bad : {"", "-", "0x", "12a", "+1", "9223372036854775808", "0x10000000000000000", "1.5"}) {
    EXPECT_FALSE(ParseNumber(bad)) << bad;
  }
  EXPECT_EQ(500u, ParseDuration("500ms"));
  EXPECT_EQ(2000u, ParseDuration("2s"));
  EXPECT_EQ(1500u, ParseDuration("1.5s"));
  EXPECT_EQ(1u, ParseDuration("0.001s"));
  EXPECT_EQ(2000u, ParseDuration("2.000s"));
  EXPECT_EQ(0u, ParseDuration("0ms"));
  for (const char* bad : {"", "500", "ms", "s", "1.5ms", "0.0005s", "-1s", ".5s", "5.s", "2m", "1e3ms", "2S"}) {
    EXPECT_FALSE(ParseDuration(bad)) << bad;
  }
}

TEST(ScenarioErrors, NameTheLineAndTheOffendingText) {
  struct Case {
    const char* line;
    const char* message;  // a part of the message
  };
  const Case cases[] = {
      {"frobnicate 3", "unknown directive \"frobnicate\""},
      {"handset wiggle", "unknown directive \"handset wiggle\""},
      {"\"start\"", "unknown directive"},
      {"handset key 0xZZ", "bad key code \"0xZZ\""},
      {"handset key 256", "out of range"},
      {"handset plug -1", "out of range"},
      {"handset drop-acks -1", "out of range"},
      {"wait 5", "bad duration \"5\""},
      {"wait 1.5ms", "bad duration"},
      {"client status \"never closed", "unterminated quote"},
      {"client status \"ends in escape\\\"", "unterminated quote"},
      {"expect \"(unbalanced\"", "bad regex \"(unbalanced\""},
      {"expect \"[a-\"", "bad regex"},
      {"expect hid>", "regex must be in double quotes"},
      {"handset plug", "missing product id"},
      {"system version 2 5 1", "missing build number"},
      {"message 0x10 1", "missing lParam"},
      {"handset report 00 20 05 42 00 00", "missing report byte"},
      {"handset unplug now", "unexpected \"now\""},
      {"handset report 00 20 05 42 00 00 00 00", "unexpected \"00\""},
      {"expect-not \"x\" within 5ms", "unexpected \"within\""},
      {"expect \"x\" within 5ms within 6ms", "within given twice"},
      {"expect-next hid \"x\"", "unknown channel \"hid\""},
      {"client status USERSTATUS", "must be in double quotes"},
      {"client call 1 SOMETHINGLONGERTHAN19", "1 to 19 characters"},
      {"client voicemails 7:1:5:alice", "bad voicemail"},
      {"client voicemails 7:1:\"alice\"", "bad voicemail"},
      {"client window minimised", "(foreground|background|hidden|absent)"},
      {"tray refuse-adds -1", "out of range"},
      {"tray restart now", "unexpected \"now\""},
      {"audio control \"M\" src1 volume", "bad mixer line \"src1\""},
      {"audio control \"M\" dst0.src volume", "bad mixer line"},
      {"audio control \"M\" dst0 volume range 5 1", "range minimum above its maximum"},
      {"registry set HKCR\\X V dword 1", "bad registry key"},
      {"registry set HKCU V dword 1", "no path below its root"},
      {"registry set HKCU\\X V dword 0x100000000", "out of range"},
      {"registry set HKCU\\X V binary 100", "two hex digits"},
      {"registry set HKCU\\X V qword 1", "bad value type"},
      {"absent \"\"", "empty file name"},
      {"message \"\" 0 0", "empty registered message name"},
      {"answer press", "bad action \"press\""},
      {"act 160", "missing action"},
      {"snapshot", "missing window id"},
      {"at 2", "bad time"},
  };
  for (const auto& c : cases) {
    // The bad line comes after blanks, a comment and a good directive, so line counting shows.
    const auto result = ParseScenario(std::string("\n# set-up\nstart\n") + c.line + "\nwait 1s\n");
    ASSERT_FALSE(result.Ok()) << c.line;
    EXPECT_EQ(4, result.error->line) << c.line;
    EXPECT_NE(std::string::npos, result.error->message.find(c.message)) << c.line << " -> " << result.error->message;
    EXPECT_TRUE(result.directives.empty());
    EXPECT_EQ("line 4: " + result.error->message, result.error->ToString());
  }
}

TEST(ScenarioErrors, AnOverlongRegexIsRefusedRatherThanCompiled) {
  // Compiled, some tens of thousands of nested groups overflow the stack.
  const std::string nested = std::string(20000, '(') + "x" + std::string(20000, ')');
  const auto result = ParseScenario("expect \"" + nested + "\"\n");
  ASSERT_FALSE(result.Ok());
  EXPECT_NE(std::string::npos, result.error->message.find("regex longer than 1000 characters"));
  EXPECT_TRUE(ParseScenario("expect \"" + std::string(1000, 'a') + "\"\n").Ok());
  // Nor does it check repeat counts and back-references for overflow (the scenario's "\\" is
  // the regex's single backslash).
  for (const char* huge : {"a{2222222222222222222}", "a{1,99999999999}", "x{100001}", "(a)\\\\2222222222222222222"}) {
    const auto refused = ParseScenario(std::string("expect \"") + huge + "\"\n");
    ASSERT_FALSE(refused.Ok()) << huge;
    EXPECT_NE(std::string::npos, refused.error->message.find("number above 100000")) << huge;
  }
  EXPECT_TRUE(ParseScenario("expect \"a{100}b{2,3}c{4,} 1234567890 (a)\\\\1\"\n").Ok());
}

TEST(ScenarioErrors, OnlyTheFirstBadLineIsReported) {
  const auto result = ParseScenario("wait 1s\nwait x\nbogus\n");
  ASSERT_FALSE(result.Ok());
  EXPECT_EQ(2, result.error->line);
  EXPECT_EQ("wait: bad duration \"x\" (500ms, 2s, 1.5s)", result.error->message);
}

}  // namespace
