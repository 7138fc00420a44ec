// What the key tones and the handset's audio cost on the user-interface thread: one synthesized
// tone block, and one full lookup of the handset's devices (registry walk and device list), which
// every volume step and the volume dialog's 500 ms refresh repeat.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bridge/audio/HandsetAudio.h"
#include "bridge/audio/ToneSynth.h"
#include "sim/AudioWorld.h"

namespace {

void FillToneBlock(benchmark::State& state) {
  bridge::ToneSynthesizer synth;
  std::uint8_t block[bridge::kToneBlockSamples];
  int key = 0;
  for (auto _ : state) {
    // Alternating keys, so the phase increments are recomputed as they are between keys.
    const auto& pair = bridge::KeyToneTable[key++ % 16];
    synth.FillToneBlock(block, static_cast<int>(pair.low), static_cast<int>(pair.high), true);
    benchmark::DoNotOptimize(block);
  }
  state.SetLabel("one 1000-sample block (90.7 ms of sound)");
}
BENCHMARK(FillToneBlock);

class NoPoster final : public sim::WindowPoster {
 public:
  bool PostTo(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t,
              std::shared_ptr<const void>) override {
    return true;
  }
};

void HandsetDeviceLookup(benchmark::State& state) {
  sim::VirtualClock clock{sim::VirtualClock::Options{false, 0}};
  sim::Scheduler scheduler{clock};
  sim::Transcript transcript{clock};
  NoPoster poster;
  sim::MemoryRegistry registry;
  sim::AudioWorld world{clock, scheduler, transcript, poster, registry};
  // A desk with a few other devices listed before the handset's.
  world.AddPlayback("Speakers (High Definition Audio)");
  world.AddRecording("Microphone (High Definition Audio)");
  world.AddMixer("Speakers (High Definition Audio)", sim::AudioWorld::HandsetMixerLayout());
  world.AddHandset("USB Phone", 0x1402);
  bridge::HandsetAudio audio(
      registry, [] { return platform::VersionInfo{2, 5, 1, 2600}; }, world,
      [] { return bridge::HandsetAudio::HandsetIdentity{true, 0x1402}; });
  for (auto _ : state) benchmark::DoNotOptimize(audio.FindMixer(0x1402));
  state.SetLabel("registry walk and mixer list, in-memory world");
}
BENCHMARK(HandsetDeviceLookup);

}  // namespace

BENCHMARK_MAIN();
