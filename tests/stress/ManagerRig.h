// The audio device manager's watcher on real threads. A main window answers the watcher's
// requests after a while (a wizard or a "device changed" dialog the user takes time over), opens
// the settings dialog at random (stopping the watcher, often while it is inside a library call
// or a request, and starting a successor after it as the main window does) and changes the
// user's settings; the audio library's queries fail or stall and Windows' default devices change
// at random. Every call a watcher makes is checked: no action once it was stopped, and nothing at
// all before its predecessor has ended.
#pragma once

#include <gtest/gtest.h>

#include "common/SettingsKey.h"
#include "devicemanager/app/ManagerSettings.h"
#include "devicemanager/watcher/DeviceWatcher.h"
#include "sim/MemoryRegistry.h"
#include "tests/fuzz/FakeDialogs.h"
#include "tests/fuzz/FakeManagerPorts.h"
#include "tests/stress/StressKit.h"

namespace stress {

class ManagerRig {
 public:
  ManagerRig(ScaledClock& clock, Threads& threads, std::uint64_t seed, Tally& tally)
      : clock_(clock), threads_(threads), tally_(tally), random_(seed), audioRandom_(seed + 1) {
    const std::string key = std::string("HKCU\\") + devicemanager::kManagerKey;
    registry_.PutDword(key, devicemanager::kDeviceWizard, 1);
    registry_.PutDword(key, devicemanager::kWizardAutomatic, 1);
    registry_.PutKey(std::string("HKCU\\") + devicemanager::kSoundMapperKey);
    registry_.SetObserver([this](const sim::RegistryChange&) { OnWatcherCall("wrote the registry", true); });
  }

  void Start() {
    StartWatcher(nullptr);
    threads_.Start("manager main window", [this](std::stop_token stop) { MainWindow(stop); });
  }

  // While the faults go on: what the watchers did wrong so far, and stopped watchers that do not end.
  void Check(std::vector<std::string>& faults) {
    std::lock_guard lock(mutex_);
    for (auto& w : watched_) {
      if (w->ended) continue;
      if (w->proc->WaitEnded(0)) {
        w->ended = Steady::now();
        continue;
      }
      if (!w->stopped) continue;
      // Counted from its stop, or from its predecessor's end when that came later.
      auto from = w->stoppedAt;
      if (w->predecessor) {
        if (!w->predecessor->ended) continue;
        from = std::max(from, *w->predecessor->ended);
      }
      if (Steady::now() - from > kStopLimit && !w->late) {
        w->late = true;
        violations_.push_back("watcher #" + std::to_string(w->number) + " has not ended " +
                              std::to_string(Millis(Steady::now() - from)) + " ms after its stop");
      }
    }
    faults.insert(faults.end(), violations_.begin(), violations_.end());
    violations_.clear();
  }

  // The main window stops its watcher for good (the library still failing and stalling): every
  // watcher must end, none having acted after its stop, and no registry key may be left open.
  void SettleAndCheck(std::vector<std::string>& faults) {
    settle_ = true;
    ASSERT_TRUE(WaitFor([&] { return settled_.load(); }, 10s)) << "the manager's main window did not settle";
    const bool ended = WaitFor(
        [&] {
          std::lock_guard lock(mutex_);
          return std::all_of(watched_.begin(), watched_.end(), [](const auto& w) { return w->proc->WaitEnded(0); });
        },
        kStopLimit + Scaled(20000));
    EXPECT_TRUE(ended) << "a watcher did not end after its stop";
    Check(faults);
    if (ended) {
      EXPECT_EQ(registry_.OpenHandleCount(), 0u) << "registry keys left open by the watchers";
    }
  }

  // The programs end: requests are answered no more (the window is gone) and every watcher is
  // asked to stop, so their threads can be joined.
  void BeginClose() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
      for (auto& w : watched_) w->proc->RequestStop();
    }
    answered_.notify_all();
  }

 private:
  static constexpr platform::WindowHandle kMainWindow = 0x157;
  static constexpr auto kStopLimit = 3s;

  struct Watched {
    int number = 0;
    std::shared_ptr<devicemanager::DeviceWatcherProc> proc;
    Watched* predecessor = nullptr;
    // Under the rig's lock: inside a library call or a request; stopped while so (every action
    // after that call returned is one too many); stopped at all, and when.
    bool parked = false, strict = false, stopped = false, late = false;
    const char* inside = "";  // the call it is parked in, and then the one it was stopped in
    Steady::time_point stoppedAt;
    std::optional<Steady::time_point> ended;
  };
  static inline thread_local Watched* tlsWatched = nullptr;

  // The calling watcher is inside a call for the object's life.
  class Park {
   public:
    Park(ManagerRig& rig, const char* what) : rig_(rig), w_(tlsWatched) { Set(true, what); }
    ~Park() { Set(false, nullptr); }

   private:
    void Set(bool parked, const char* what) {
      if (!w_) return;
      std::lock_guard lock(rig_.mutex_);
      w_->parked = parked;
      if (!w_->strict && what) w_->inside = what;
    }
    ManagerRig& rig_;
    Watched* const w_;
  };

  // Windows' devices, under the world's lock.
  struct World {
    std::vector<std::string> inputs{"Microphone", "Headset Microphone"}, outputs{"Speakers", "Headset Earphone"};
    std::string defaultIn = "Microphone", defaultOut = "Speakers";
  };

  class Audio final : public platform::AudioControl {
   public:
    explicit Audio(ManagerRig& rig) : rig_(rig) {}
    int UpdateAudioDevice(const char*) override {
      return rig_.Call("refreshed the device list", false, [](bool, World&) { return 1; });
    }
    std::uint32_t WaveInGetNumDevs() override {
      return rig_.Call("counted the devices", false, [](bool, World& w) { return static_cast<int>(w.inputs.size()); });
    }
    std::uint32_t WaveOutGetNumDevs() override {
      return rig_.Call("counted the devices", false, [](bool, World& w) { return static_cast<int>(w.outputs.size()); });
    }
    int WaveInGetDevCaps(std::uint32_t device, char* name, int size) override {
      return rig_.Call("read a device name", false,
                       [&](bool fail, World& w) { return Name(fail, w.inputs, device, name, size); });
    }
    int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) override {
      return rig_.Call("read a device name", false,
                       [&](bool fail, World& w) { return Name(fail, w.outputs, device, name, size); });
    }
    int GetDefaultAudioDevice(char* input, char* output) override {
      return rig_.Call("queried the default devices", false, [&](bool fail, World& w) {
        if (fail) return 0;
        Copy(w.defaultIn, input, platform::kAudioNameSize);
        Copy(w.defaultOut, output, platform::kAudioNameSize);
        return 1;
      });
    }
    int SetDefaultAudioDevice(const char* input, const char* output) override {
      return rig_.Call("set the default devices", true, [&](bool fail, World& w) {
        if (fail) return 0;
        w.defaultIn = input;
        w.defaultOut = output;
        return 1;
      });
    }

   private:
    static void Copy(const std::string& text, char* to, int size) {
      const auto n = std::min(text.size(), static_cast<std::size_t>(size - 1));
      std::memcpy(to, text.data(), n);
      to[n] = '\0';
    }
    static int Name(bool fail, const std::vector<std::string>& names, std::uint32_t device, char* to, int size) {
      if (fail || device >= names.size() || size <= 0) return 0;
      Copy(names[device], to, size);
      return 1;
    }
    ManagerRig& rig_;
  };

  // The fuzz targets' desktop of no other windows, with the watcher's two ways to the main window
  // routed to the rig.
  class Desktop final : public fuzz::FakeDesktop {
   public:
    explicit Desktop(ManagerRig& rig) : rig_(rig) {}
    bool Post(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
      rig_.OnWatcherCall("posted to the main window", true);
      rig_.tally_.Add("manager.watchers gave up");
      return true;
    }
    std::intptr_t Send(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
      rig_.OnWatcherCall("asked the main window", true);
      return rig_.Request();
    }

   private:
    ManagerRig& rig_;
  };

  class NullUi final : public fuzz::QuietUi {
   public:
    std::string LoadText(int) override { return {}; }
    std::intptr_t RunModal(int, platform::DialogPresenter&, platform::DialogWindow*) override { return -1; }
  };

  // Every library call: checked, parked, maybe stalled, maybe failed, and now and then the
  // devices change under it.
  template <typename Body>
  int Call(const char* what, bool action, Body body) {
    OnWatcherCall(what, action);
    Park park(*this, what);
    int stall = 0;
    bool fail = false;
    {
      std::lock_guard lock(worldMutex_);
      if (audioRandom_.Chance(0.05)) stall = audioRandom_.Between(1, 400);
      fail = audioRandom_.Chance(0.08);
      if (audioRandom_.Chance(0.03)) ChangeDevices();
    }
    if (stall > 0) {
      tally_.Add("manager.library calls stalled");
      Nap(Scaled(stall));
    }
    if (fail) tally_.Add("manager.library calls failed");
    std::lock_guard lock(worldMutex_);
    return body(fail, world_);
  }

  // Under the world's lock.
  void ChangeDevices() {
    static const std::vector<std::string> kInputs = {"Microphone", "Headset Microphone", "Line In",
                                                     std::string(255, 'i')};
    static const std::vector<std::string> kOutputs = {"Speakers", "Headset Earphone", "Digital Out",
                                                      std::string(255, 'o')};
    if (audioRandom_.Chance(0.3)) {
      const auto pick = [&](const std::vector<std::string>& all) {
        std::vector<std::string> some;
        for (const auto& name : all) {
          if (audioRandom_.Chance(0.6)) some.push_back(name);
        }
        return some;
      };
      world_.inputs = pick(kInputs);
      world_.outputs = pick(kOutputs);
    }
    world_.defaultIn = kInputs[audioRandom_.Between(0, 3)];
    world_.defaultOut = kOutputs[audioRandom_.Between(0, 3)];
    tally_.Add("manager.device changes");
  }

  void OnWatcherCall(const char* what, bool action) {
    Watched* const w = tlsWatched;
    if (!w) return;
    std::lock_guard lock(mutex_);
    if (w->predecessor && !w->predecessor->proc->WaitEnded(0)) {
      violations_.push_back("watcher #" + std::to_string(w->number) + " " + what + " before #" +
                            std::to_string(w->predecessor->number) + " had ended");
    }
    if (!action) return;
    tally_.Add("manager.watcher actions");
    if (w->strict) {
      violations_.push_back("watcher #" + std::to_string(w->number) + " " + what + " after it was stopped while it " +
                            w->inside + " and that call had returned");
    }
  }

  struct PendingRequest {
    std::optional<Steady::time_point> due;  // set when the main window first sees it
    bool answered = false;
  };

  // A request of a watcher to the main window, answered by the main window's thread.
  std::intptr_t Request() {
    const auto request = std::make_shared<PendingRequest>();
    Park park(*this, "asked the main window");
    WaitScope scope(Scaled(4000));
    std::unique_lock lock(mutex_);
    if (closing_) return 0;
    requests_.push_back(request);
    tally_.Add("manager.requests");
    answered_.wait(lock, [&] { return request->answered || closing_; });
    return 0;
  }

  void StartWatcher(Watched* predecessor) {
    std::lock_guard lock(mutex_);
    if (closing_) return;
    auto& w = *watched_.emplace_back(std::make_unique<Watched>());
    w.number = static_cast<int>(watched_.size());
    w.predecessor = predecessor;
    w.proc = std::make_shared<devicemanager::DeviceWatcherProc>(ports_, kMainWindow,
                                                                predecessor ? predecessor->proc : nullptr);
    current_ = &w;
    threads_.Start("watcher #" + std::to_string(w.number), [&w](std::stop_token) {
      tlsWatched = &w;
      w.proc->Run();
    });
    tally_.Add("manager.watchers started");
  }

  // The settings dialog opens: the current watcher is asked to stop (the dialog does not wait).
  void StopCurrent(bool whileParked, const std::stop_token& stop) {
    Watched* w = nullptr;
    {
      std::lock_guard lock(mutex_);
      w = current_;
    }
    if (!w) return;
    if (whileParked) {
      WaitFor(
          [&] {
            AnswerRequests();
            std::lock_guard lock(mutex_);
            return w->parked || stop.stop_requested();
          },
          Scaled(4000));
    }
    std::lock_guard lock(mutex_);
    if (w->stopped) return;
    w->proc->RequestStop();
    w->stopped = true;
    w->strict = w->parked;
    w->stoppedAt = Steady::now();
    tally_.Add(w->strict ? "manager.stops inside a call" : "manager.stops elsewhere");
  }

  // Answers the requests whose time has come; the user may have chosen devices meanwhile.
  void AnswerRequests() {
    std::lock_guard lock(mutex_);
    const auto now = Steady::now();
    std::erase_if(requests_, [&](const std::shared_ptr<PendingRequest>& request) {
      if (!request->due) request->due = now + Scaled(random_.Between(0, 3000));
      if (now < *request->due) return false;
      if (random_.Chance(0.3)) ChooseDevices();
      request->answered = true;
      return true;
    });
    answered_.notify_all();
  }

  // The user's choice of devices and of the automatic mode, written as the dialogs write them.
  void ChooseDevices() {
    std::string input, output;
    {
      std::lock_guard lock(worldMutex_);
      input = random_.Chance(0.7) ? world_.defaultIn : "Gone Microphone";
      output = random_.Chance(0.1) ? "" : world_.defaultOut;
    }
    devicemanager::WriteManagerDevices(registry_, input, output);
    CSettingsKey key(registry_);
    if (key.Create(platform::kHkeyCurrentUser, devicemanager::kManagerKey)) {
      key.WriteDword(devicemanager::kWizardAutomatic, random_.Chance(0.5) ? 1 : 0);
    }
  }

  void MainWindow(const std::stop_token& stop) {
    std::optional<Steady::time_point> settingsCloseAt;
    auto nextAction = Steady::now();
    while (!stop.stop_requested()) {
      AnswerRequests();
      const auto now = Steady::now();
      if (settingsCloseAt && (now >= *settingsCloseAt || settle_)) {
        // The settings dialog closes; a successor starts after the old watcher when enabled.
        settingsCloseAt.reset();
        CSettingsKey key(registry_);
        if (!settle_ && key.Create(platform::kHkeyCurrentUser, devicemanager::kManagerKey)) {
          key.WriteDword(devicemanager::kDeviceWizard, random_.Chance(0.1) ? 0 : 1);
          key.Close();
        }
        if (random_.Chance(0.7)) ChooseDevices();
        if (!settle_ && devicemanager::ReadManagerFlag(registry_, devicemanager::kDeviceWizard, 0) == 1) {
          Watched* predecessor = nullptr;
          {
            std::lock_guard lock(mutex_);
            predecessor = current_;
          }
          StartWatcher(predecessor);
        }
      } else if (settle_ && !settled_) {
        StopCurrent(false, stop);
        settled_ = true;
      } else if (!settle_ && !settingsCloseAt && now >= nextAction) {
        const int roll = random_.Between(0, 99);
        if (roll < 50) {
          StopCurrent(random_.Chance(0.6), stop);
          settingsCloseAt = Steady::now() + Scaled(random_.Between(0, 3000));
        } else {
          ChooseDevices();
        }
        nextAction = Steady::now() + Scaled(random_.Between(500, 6000));
      }
      Nap(Scaled(50));
    }
  }

  ScaledClock& clock_;
  Threads& threads_;
  Tally& tally_;
  Random random_;       // the main window's
  Random audioRandom_;  // the library's, under the world's lock
  sim::MemoryRegistry registry_;
  Audio audio_{*this};
  Desktop desktop_{*this};
  NullUi ui_;
  devicemanager::ManagerPorts ports_{registry_, clock_, desktop_, ui_, audio_};
  std::atomic<bool> settle_{false}, settled_{false};
  std::mutex worldMutex_;
  World world_;
  // The watchers, their requests and what they did wrong.
  std::mutex mutex_;
  std::condition_variable answered_;
  std::deque<std::unique_ptr<Watched>> watched_;
  Watched* current_ = nullptr;
  std::vector<std::shared_ptr<PendingRequest>> requests_;
  std::vector<std::string> violations_;
  bool closing_ = false;
};

}  // namespace stress
