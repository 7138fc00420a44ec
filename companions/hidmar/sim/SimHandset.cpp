#include "companions/hidmar/sim/SimHandset.h"

namespace hidmar_sim {

// --- the gate -----------------------------------------------------------------------------

void SimHandset::Gate::Open(platform::WindowHandle window) {
  std::lock_guard lock(mutex_);
  open_ = window;
}

void SimHandset::Gate::Shut() {
  std::lock_guard lock(mutex_);
  open_ = 0;
}

bool SimHandset::Gate::PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                              std::intptr_t lParam, std::shared_ptr<const void> keepAlive) {
  std::lock_guard lock(mutex_);
  if (window == 0 || window != open_) return false;
  return poster_.PostTo(window, msg, wParam, lParam, std::move(keepAlive));
}

// --- the handset --------------------------------------------------------------------------

SimHandset::SimHandset(sim::WindowPoster& poster, Options options)
    : who_(std::move(options.who)), device_(options.device), gate_(poster) {
  transcript_.SetListener([this](const sim::TranscriptLine& line) { OnTranscriptLine(line); });
  // Every line is handed on as it comes; a library that runs for hours keeps none of them.
  transcript_.KeepNoLines();
  if (device_) {
    if (options.realTime) pacer_.Start();
    return;
  }
  model_.Plug(static_cast<std::uint16_t>(platform::kHandsetProductA), 1, 4);
  ExecuteAll(options.start);
  if (options.realTime) pacer_.Start();
}

SimHandset::~SimHandset() {
  transcript_.SetListener(nullptr);
  pacer_.Stop();
}

int SimHandset::Find(std::uint32_t vendorId, std::uint32_t productId) {
  pacer_.CatchUp();  // at rest time stands still: every call's lines carry the real instant
  return model_.FindDevice(vendorId, productId);
}

int SimHandset::Open(platform::WindowHandle window) {
  pacer_.CatchUp();
  const int opened = model_.OpenDevice(window);
  if (opened) gate_.Open(window);
  return opened;
}

void SimHandset::SetMessage(std::uint32_t message) {
  pacer_.CatchUp();
  model_.SetNotifyMessage(message);
}

int SimHandset::Write(const std::uint8_t* report, int length) {
  // The acknowledgement delay counts from this real instant, not from the pacer's last step.
  pacer_.CatchUp();
  return model_.WriteReport(report, length);
}

void SimHandset::Close() {
  pacer_.CatchUp();
  model_.CloseDevice();
  gate_.Shut();
}

void SimHandset::Release() {
  pacer_.CatchUp();
  model_.ReleaseLibrary();
  gate_.Shut();
}

std::string SimHandset::Execute(std::string_view line) {
  std::string why;
  const auto command = ParseCommand(line, &why);
  if (!command) return "error " + why;
  pacer_.CatchUp();  // events carry the real instant
  bool done = true;
  switch (command->kind) {
    case Command::Kind::kPlug: {
      {
        std::lock_guard lock(settingsMutex_);
        product_ = command->product;
        major_ = command->major;
        minor_ = command->minor;
      }
      model_.Plug(command->product, command->major, command->minor);
      if (device_) {
        // The model is ready for the program's first report before the device appears.
        OpenForDevice(command->product);
        if (!device_->Plug(command->product)) {
          model_.Unplug();
          std::lock_guard lock(events_);
          PublishStateLocked(clock_.Now());
          return "error the device could not be installed";
        }
      }
      break;
    }
    case Command::Kind::kUnplug:
      if (device_) device_->Unplug();
      model_.Unplug();
      gate_.Shut();
      break;
    case Command::Kind::kKey:
      done = model_.PressKey(command->code);
      break;
    case Command::Kind::kReport:
      done = model_.InjectReport(command->report);
      break;
    case Command::Kind::kRepeat:
      done = model_.Repeat();
      break;
    case Command::Kind::kDropAcks:
      model_.DropAcks(command->value);
      break;
    case Command::Kind::kAckDelay: {
      std::lock_guard lock(settingsMutex_);
      ackDelay_ = command->value;
    }
      model_.SetAckDelay(command->value);
      break;
    case Command::Kind::kVersionReply: {
      std::lock_guard lock(settingsMutex_);
      versionReply_ = command->versionReply;
    }
      model_.SetVersionReply(command->versionReply);
      break;
    case Command::Kind::kState: {
      // Sent even when unchanged: the asker wants to see it.
      std::lock_guard lock(events_);
      lastState_.clear();
      PublishStateLocked(clock_.Now());
      return "ok";
    }
  }
  {
    std::lock_guard lock(events_);
    PublishStateLocked(clock_.Now());
  }
  if (!done) {
    if (!model_.Plugged()) return "error unplugged";
    if (!model_.Opened()) return "error not opened by the program";
    return "error no report to repeat";
  }
  return "ok";
}

void SimHandset::OpenForDevice(std::uint16_t product) {
  model_.FindDevice(platform::kHandsetVendorId, product);
  model_.OpenDevice(kDeviceWindow);
  model_.SetNotifyMessage(platform::kHandsetReportMessage);
  gate_.Open(kDeviceWindow);
}

void SimHandset::ExecuteAll(std::string_view commands) {
  while (!commands.empty()) {
    const auto end = commands.find(';');
    const auto command = commands.substr(0, end);
    if (command.find_first_not_of(" \t") != std::string_view::npos) Execute(command);
    commands = end == std::string_view::npos ? std::string_view() : commands.substr(end + 1);
  }
}

int SimHandset::Subscribe(Sink sink) {
  pacer_.CatchUp();  // before our lock: catching up may run acknowledgements that publish
  std::lock_guard lock(events_);
  // Every change is published as it happens, so the others have seen this state already.
  lastState_ = FormatState(State());
  sink(FormatHello(who_));
  sink("state " + std::to_string(clock_.Now()) + " " + lastState_);
  const int id = nextSink_++;
  sinks_.emplace(id, std::move(sink));
  return id;
}

void SimHandset::Unsubscribe(int id) {
  std::lock_guard lock(events_);
  sinks_.erase(id);
}

HandsetState SimHandset::State() const {
  HandsetState state;
  {
    std::lock_guard lock(settingsMutex_);
    state.product = product_;
    state.major = major_;
    state.minor = minor_;
    state.ackDelay = ackDelay_;
    state.versionReply = versionReply_;
  }
  state.plugged = model_.Plugged();
  state.opened = model_.Opened();
  state.window = static_cast<std::uint32_t>(model_.Window());
  state.message = model_.NotifyMessage();
  state.ringer = model_.RingerState();
  state.indicator = model_.IndicatorOn();
  state.activity = model_.KeyActivityOn();
  state.tone = model_.StoredRingTone();
  state.uploads = model_.CompletedUploads();
  state.drops = model_.PendingDrops();
  return state;
}

void SimHandset::OnTranscriptLine(const sim::TranscriptLine& line) {
  const auto event = FormatModelEvent(line.time, line.channel, line.payload);
  if (!event) return;
  std::lock_guard lock(events_);
  BroadcastLocked(*event);
  PublishStateLocked(line.time);
}

void SimHandset::PublishStateLocked(std::uint64_t time) {
  std::string state = FormatState(State());
  if (state == lastState_) return;
  lastState_ = state;
  BroadcastLocked("state " + std::to_string(time) + " " + state);
}

void SimHandset::BroadcastLocked(const std::string& line) {
  for (auto& [id, sink] : sinks_) sink(line);
}

}  // namespace hidmar_sim
