#include "sim/runner/World.h"

#include <limits>
#include <type_traits>
#include <variant>

namespace sim {
namespace {

constexpr VirtualClock::Options kManualTime{.autoAdvance = false, .startTick = 0};

std::string HiveName(scenario::Hive hive) { return hive == scenario::Hive::kHkcu ? "HKCU" : "HKLM"; }
std::string KeyText(const scenario::RegistryKey& key) { return HiveName(key.hive) + "\\" + key.path; }

// How the programs' registry writes read in the transcript.
std::string ValueText(const RegistryValue& value) {
  const auto& data = value.data;
  switch (value.type) {
    case platform::kRegDword:
      if (data.size() == 4) {
        const std::uint32_t n = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
        return "dword " + std::to_string(n);
      }
      break;
    case platform::kRegSz: {
      std::string text(data.begin(), data.end());
      if (const auto end = text.find('\0'); end != std::string::npos) text.resize(end);
      return "sz " + Quote(text);
    }
    default:
      break;
  }
  return "type " + std::to_string(value.type) + " binary " + HexBytes(data.data(), data.size());
}

std::string NameText(const std::string& name) { return name.empty() ? "\"\"" : name; }

}  // namespace

const char* ProgramName(Program program) { return program == Program::kBridge ? "bridge" : "manager"; }

World::World(ProgramFactory* factory)
    : clock_(kManualTime),
      transcript_(clock_),
      scheduler_(clock_),
      desktop_(clock_, scheduler_, transcript_),
      handset_(clock_, scheduler_, transcript_, desktop_),
      client_(clock_, scheduler_, transcript_, desktop_),
      audio_(clock_, scheduler_, transcript_, desktop_, registry_),
      time_(clock_),
      factory_(factory) {
  registry_.SetObserver([this](const RegistryChange& change) { OnRegistryChange(change); });
  client_.SetMainWindowListener([this](SoftphoneModel::MainWindow state) { OnClientWindow(state); });
  // The client is not running until a scenario starts it.
  client_.Stop();
  // A program that starts the other one's executable starts it in this world.
  desktop_.SetLauncher(kManagerExe, [this] { return StartProgram(Program::kManager).ok; });
  desktop_.SetLauncher(kBridgeExe, [this] { return StartProgram(Program::kBridge).ok; });
  Settle();
}

World::~World() {
  Shutdown();
  registry_.SetObserver(nullptr);
  client_.SetMainWindowListener(nullptr);
}

void World::Settle() { clock_.RunUntilIdle(); }

void World::Shutdown() {
  std::vector<std::pair<Program, std::unique_ptr<ProgramHost>>> hosts;
  {
    std::lock_guard lock(hostsMutex_);
    hosts.swap(hosts_);
  }
  // The last started ends first, as the programs end their helpers before themselves.
  for (auto it = hosts.rbegin(); it != hosts.rend(); ++it) it->second->Shutdown();
  Settle();
}

std::vector<std::string> World::TakeFailures() {
  std::vector<ProgramHost*> hosts;
  {
    std::lock_guard lock(hostsMutex_);
    for (const auto& [program, host] : hosts_) hosts.push_back(host.get());
  }
  std::vector<std::string> failures;
  for (auto* host : hosts) {
    for (auto& failure : host->TakeFailures()) failures.push_back(std::move(failure));
  }
  return failures;
}

std::optional<scenario::Action> World::TakeAnswer() {
  std::lock_guard lock(answersMutex_);
  if (answers_.empty()) return std::nullopt;
  auto action = answers_.front();
  answers_.pop_front();
  return action;
}

bool World::HasAnswer() {
  std::lock_guard lock(answersMutex_);
  return !answers_.empty();
}

ProgramHost* World::Host(Program program) {
  std::lock_guard lock(hostsMutex_);
  ProgramHost* last = nullptr;
  for (const auto& [which, host] : hosts_) {
    if (which != program) continue;
    if (!host->Ended()) return host.get();
    last = host.get();
  }
  return last;
}

Result World::StartProgram(Program program) {
  if (!factory_ || !factory_->Builds(program)) {
    return Result::Unsupported(std::string("the ") + ProgramName(program) + " is not built yet");
  }
  auto host = factory_->Start(*this, program);
  if (!host) return Result::Failed(std::string("the ") + ProgramName(program) + " did not start");
  std::lock_guard lock(hostsMutex_);
  hosts_.emplace_back(program, std::move(host));
  return Result::Ok();
}

Result World::Perform(const Directive& directive) {
  Result result = std::visit(
      [&](const auto& args) -> Result {
        using T = std::decay_t<decltype(args)>;
        if constexpr (std::is_same_v<T, scenario::RegistrySet> || std::is_same_v<T, scenario::RegistryDelete> ||
                      std::is_same_v<T, scenario::SystemLangid> || std::is_same_v<T, scenario::SystemVersion> ||
                      std::is_same_v<T, scenario::FileAvailability> || std::is_same_v<T, scenario::ProcessStart> ||
                      std::is_same_v<T, scenario::ProcessEnd> || std::is_same_v<T, scenario::TrayRestart> ||
                      std::is_same_v<T, scenario::TrayRefuseAdds>) {
          return PerformWorld(directive);
        } else if constexpr (std::is_same_v<T, scenario::HandsetPlug> || std::is_same_v<T, scenario::HandsetUnplug> ||
                             std::is_same_v<T, scenario::HandsetDropAcks> ||
                             std::is_same_v<T, scenario::HandsetAckDelay> ||
                             std::is_same_v<T, scenario::HandsetVersionReply> ||
                             std::is_same_v<T, scenario::HandsetKey> || std::is_same_v<T, scenario::HandsetReport> ||
                             std::is_same_v<T, scenario::HandsetRepeat>) {
          return PerformHandset(directive);
        } else if constexpr (std::is_same_v<T, scenario::ClientAttach> || std::is_same_v<T, scenario::ClientWindow> ||
                             std::is_same_v<T, scenario::ClientCall> || std::is_same_v<T, scenario::ClientStatus> ||
                             std::is_same_v<T, scenario::ClientRecent> ||
                             std::is_same_v<T, scenario::ClientMessageWindow> ||
                             std::is_same_v<T, scenario::ClientHoldReplies> ||
                             std::is_same_v<T, scenario::ClientVoicemails> ||
                             std::is_same_v<T, scenario::ClientVoicemailStatus>) {
          return PerformClient(directive);
        } else if constexpr (std::is_same_v<T, scenario::AudioHandset> || std::is_same_v<T, scenario::AudioDevice> ||
                             std::is_same_v<T, scenario::AudioControl> || std::is_same_v<T, scenario::AudioDefault> ||
                             std::is_same_v<T, scenario::AudioFail>) {
          return PerformAudio(directive);
        } else if constexpr (std::is_same_v<T, scenario::Start>) {
          return StartProgram(directive.program);
        } else if constexpr (std::is_same_v<T, scenario::Answer>) {
          {
            std::lock_guard lock(answersMutex_);
            answers_.push_back(args.action);
          }
          // A modal window already open takes it now.
          for (const auto program : {Program::kBridge, Program::kManager}) {
            if (auto* host = Host(program); host && !host->Ended()) {
              if (auto result = host->Perform(directive); !result.ok) return result;
            }
          }
          return Result::Ok();
        } else if constexpr (std::is_same_v<T, scenario::Command> || std::is_same_v<T, scenario::Message> ||
                             std::is_same_v<T, scenario::CopyData> || std::is_same_v<T, scenario::TrayClick> ||
                             std::is_same_v<T, scenario::Act> || std::is_same_v<T, scenario::Deactivate> ||
                             std::is_same_v<T, scenario::Snapshot>) {
          const Program program = std::is_same_v<T, scenario::TrayClick> ? Program::kBridge : directive.program;
          auto* host = Host(program);
          if (!host) {
            if (!factory_ || !factory_->Builds(program)) {
              return Result::Unsupported(std::string("the ") + ProgramName(program) + " is not built yet");
            }
            return Result::Failed(std::string("the ") + ProgramName(program) + " was never started");
          }
          if (host->Ended()) return Result::Failed(std::string("the ") + ProgramName(program) + " has ended");
          return host->Perform(directive);
        } else {
          return Result::Failed("not a world directive");
        }
      },
      directive.args);
  Settle();
  return result;
}

Result World::PerformWorld(const Directive& directive) {
  const auto& args = directive.args;
  if (const auto* set = std::get_if<scenario::RegistrySet>(&args)) {
    const auto key = KeyText(set->key);
    RegistryValue value;
    switch (set->type) {
      case scenario::ValueType::kDword:
        registry_.PutDword(key, set->name, set->dword);
        return Result::Ok();
      case scenario::ValueType::kSz:
        registry_.PutString(key, set->name, set->text);
        return Result::Ok();
      case scenario::ValueType::kBinary:
        value.type = platform::kRegBinary;
        value.data = set->bytes;
        registry_.Put(key, set->name, std::move(value));
        return Result::Ok();
    }
  }
  if (const auto* del = std::get_if<scenario::RegistryDelete>(&args)) {
    // Deleting what is not there leaves the world as the scenario wants it.
    if (del->name) {
      registry_.Remove(KeyText(del->key), *del->name);
    } else {
      registry_.Remove(KeyText(del->key));
    }
    return Result::Ok();
  }
  if (const auto* langid = std::get_if<scenario::SystemLangid>(&args)) {
    desktop_.SetLangId(langid->langid);
    return Result::Ok();
  }
  if (const auto* version = std::get_if<scenario::SystemVersion>(&args)) {
    desktop_.SetVersion({version->platformId, version->major, version->minor, version->build});
    return Result::Ok();
  }
  if (const auto* file = std::get_if<scenario::FileAvailability>(&args)) {
    desktop_.SetFilePresent(file->file, file->present);
    return Result::Ok();
  }
  if (const auto* start = std::get_if<scenario::ProcessStart>(&args)) {
    desktop_.AddProcess(start->name, start->id);
    return Result::Ok();
  }
  if (const auto* end = std::get_if<scenario::ProcessEnd>(&args)) {
    desktop_.EndProcess(end->id);
    return Result::Ok();
  }
  if (std::holds_alternative<scenario::TrayRestart>(args)) {
    desktop_.RestartTaskbar();
    return Result::Ok();
  }
  if (const auto* refuse = std::get_if<scenario::TrayRefuseAdds>(&args)) {
    desktop_.RefuseTrayAdds(refuse->count);
    return Result::Ok();
  }
  return Result::Failed("not a world directive");
}

Result World::PerformHandset(const Directive& directive) {
  const auto& args = directive.args;
  if (const auto* plug = std::get_if<scenario::HandsetPlug>(&args)) {
    const auto firmware = plug->firmware.value_or(scenario::Firmware{1, 4});
    handset_.Plug(plug->productId, firmware.major, firmware.minor);
  } else if (std::holds_alternative<scenario::HandsetUnplug>(args)) {
    handset_.Unplug();
  } else if (const auto* drops = std::get_if<scenario::HandsetDropAcks>(&args)) {
    handset_.DropAcks(drops->count);
  } else if (const auto* delay = std::get_if<scenario::HandsetAckDelay>(&args)) {
    handset_.SetAckDelay(delay->ms);
  } else if (const auto* reply = std::get_if<scenario::HandsetVersionReply>(&args)) {
    constexpr HandsetModel::VersionReply kModes[] = {
        HandsetModel::VersionReply::kNormal, HandsetModel::VersionReply::kSilent, HandsetModel::VersionReply::kAck};
    handset_.SetVersionReply(kModes[static_cast<int>(reply->mode)]);
  } else if (const auto* key = std::get_if<scenario::HandsetKey>(&args)) {
    // A key pressed on a handset nobody listens to goes nowhere, as on the desk.
    handset_.PressKey(key->code);
  } else if (const auto* report = std::get_if<scenario::HandsetReport>(&args)) {
    handset_.InjectReport(report->bytes);
  } else if (std::holds_alternative<scenario::HandsetRepeat>(args)) {
    handset_.Repeat();
  }
  return Result::Ok();
}

Result World::PerformClient(const Directive& directive) {
  using Answer = SoftphoneModel::AttachAnswer;
  const auto& args = directive.args;
  if (const auto* attach = std::get_if<scenario::ClientAttach>(&args)) {
    switch (attach->answer) {
      case scenario::Attach::kStart:
        client_.SetAttachAnswer(Answer::Accept);
        client_.Start();
        break;
      case scenario::Attach::kStop:
        client_.Stop();
        break;
      case scenario::Attach::kRefuse:
        client_.SetAttachAnswer(Answer::Refuse);
        client_.Start();
        break;
      case scenario::Attach::kPending:
        client_.SetAttachAnswer(Answer::Pending);
        client_.Start();
        break;
    }
  } else if (const auto* window = std::get_if<scenario::ClientWindow>(&args)) {
    // A hidden window is in the background as far as the client knows; whether it shows is the
    // desktop's.
    constexpr SoftphoneModel::MainWindow kStates[] = {
        SoftphoneModel::MainWindow::Foreground, SoftphoneModel::MainWindow::Background,
        SoftphoneModel::MainWindow::Background, SoftphoneModel::MainWindow::Absent};
    {
      std::lock_guard lock(clientWindowMutex_);
      clientHidden_ = window->state == scenario::WindowState::kHidden;
    }
    client_.SetMainWindow(kStates[static_cast<int>(window->state)]);
    ShowClientWindow();
  } else if (const auto* call = std::get_if<scenario::ClientCall>(&args)) {
    client_.AddOrUpdateCall({call->id, call->status, call->conference, call->partner, call->kind});
  } else if (const auto* status = std::get_if<scenario::ClientStatus>(&args)) {
    client_.PostStatusText(status->text);
  } else if (const auto* recent = std::get_if<scenario::ClientRecent>(&args)) {
    client_.SetRecentCallHandle(recent->handle);
  } else if (std::holds_alternative<scenario::ClientMessageWindow>(args)) {
    client_.SetMessageWindowOpen(true);
  } else if (const auto* hold = std::get_if<scenario::ClientHoldReplies>(&args)) {
    client_.SetHoldReplies(hold->on);
  } else if (const auto* voicemails = std::get_if<scenario::ClientVoicemails>(&args)) {
    std::vector<SoftphoneModel::Voicemail> entries;
    for (const auto& entry : voicemails->entries) {
      entries.push_back({entry.id, entry.timestamp, entry.status, entry.partner});
    }
    std::optional<std::intptr_t> count;
    if (voicemails->count) count = *voicemails->count;
    client_.SetVoicemails(std::move(entries), count);
  } else if (const auto* vmStatus = std::get_if<scenario::ClientVoicemailStatus>(&args)) {
    client_.SetVoicemailStatus(vmStatus->id, vmStatus->status);
  }
  return Result::Ok();
}

Result World::PerformAudio(const Directive& directive) {
  const auto& args = directive.args;
  if (const auto* handset = std::get_if<scenario::AudioHandset>(&args)) {
    audio_.AddHandset(handset->name, handset->productId.value_or(platform::kHandsetProductA));
  } else if (const auto* device = std::get_if<scenario::AudioDevice>(&args)) {
    switch (device->change) {
      case scenario::DeviceChange::kPlayback:
        audio_.AddPlayback(device->name);
        break;
      case scenario::DeviceChange::kRecording:
        audio_.AddRecording(device->name);
        break;
      case scenario::DeviceChange::kRemove:
        if (!audio_.Remove(device->name)) return Result::Failed("no audio device " + Quote(device->name));
        break;
    }
  } else if (const auto* control = std::get_if<scenario::AudioControl>(&args)) {
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    const auto fits = [](std::int64_t n) { return n >= 0 && n <= static_cast<std::int64_t>(kMax); };
    std::optional<AudioWorld::Range> range;
    if (control->range) {
      if (!fits(control->range->min) || !fits(control->range->max) || control->range->min > control->range->max) {
        return Result::Failed("the range must lie within 0..4294967295, its minimum first");
      }
      range = AudioWorld::Range{static_cast<std::uint32_t>(control->range->min),
                                static_cast<std::uint32_t>(control->range->max)};
    }
    std::optional<std::uint32_t> value;
    if (control->value) {
      if (!fits(*control->value)) return Result::Failed("the value must lie within 0..4294967295");
      value = static_cast<std::uint32_t>(*control->value);
    }
    const auto kind = control->control == scenario::MixerControl::kVolume ? AudioWorld::ControlKind::Volume
                                                                          : AudioWorld::ControlKind::Mute;
    if (!audio_.SetControl(control->mixer, {control->line.destination, control->line.source}, kind, range, value)) {
      return Result::Failed("no such control on mixer " + Quote(control->mixer));
    }
  } else if (const auto* defaults = std::get_if<scenario::AudioDefault>(&args)) {
    audio_.SetDefaults(defaults->recording, defaults->playback);
  } else if (const auto* fail = std::get_if<scenario::AudioFail>(&args)) {
    if (fail->call == scenario::DefaultCall::kGet) {
      audio_.FailGetDefault(fail->count);
    } else {
      audio_.FailSetDefault(fail->count);
    }
  }
  return Result::Ok();
}

void World::OnRegistryChange(const RegistryChange& change) {
  if (change.kind == RegistryChange::Kind::Set) {
    transcript_.Add("reg", "set " + change.keyPath + " " + NameText(change.name) + " " + ValueText(change.value));
  } else {
    transcript_.Add("reg", "delete " + change.keyPath + " " + NameText(change.name));
  }
}

void World::OnClientWindow(SoftphoneModel::MainWindow state) {
  std::lock_guard lock(clientWindowMutex_);
  if (state == SoftphoneModel::MainWindow::Absent) {
    if (clientWindow_) desktop_.DestroyWindow(clientWindow_);
    clientWindow_ = 0;
    return;
  }
  if (!clientWindow_) {
    // Another application's window: the desktop drops what is sent to it.
    clientWindow_ = desktop_.NewWindow(nullptr, kClientWindowTitle, kClientWindowClass, nullptr);
  }
  if (state == SoftphoneModel::MainWindow::Foreground) {
    // Coming forward, the client shows its window.
    clientHidden_ = false;
    desktop_.SetActive(clientWindow_);
  } else {
    // In the background: some other application's window is active.
    desktop_.SetActive(0);
  }
  desktop_.SetVisible(clientWindow_, !clientHidden_);
}

void World::ShowClientWindow() {
  std::lock_guard lock(clientWindowMutex_);
  if (clientWindow_) desktop_.SetVisible(clientWindow_, !clientHidden_);
}

}  // namespace sim
