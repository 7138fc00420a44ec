#include "sim/WaveOutModel.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <list>
#include <map>
#include <mutex>

namespace sim {

using platform::WaveBlock;
using platform::WaveOutHandle;

namespace {

constexpr std::uint32_t kMmInvalParam = 11;
constexpr std::uint16_t kWaveFormatPcm = 1;
// Handles look like small pointers and never collide with 0 or a window handle of the tests.
constexpr WaveOutHandle kFirstHandle = 0xB000;
constexpr WaveOutHandle kHandleStep = 8;

// Byte offset reached `ms` milliseconds into playback, rounded down to whole sample frames.
std::uint64_t BytesIn(std::uint64_t ms, const platform::WaveFormat& format) {
  const std::uint64_t bytes = ms * format.bytesPerSecond / 1000;
  return bytes - bytes % format.blockAlign;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

struct WaveOutModel::State {
  struct Entry {
    std::uint64_t id = 0;
    WaveBlock* block = nullptr;
    std::vector<std::uint8_t> data;
    std::uint64_t runOffset = 0;  // bytes of the run before this block
    std::uint64_t endTime = 0;
    std::uint64_t scheduled = 0;  // scheduler id, 0 until known
  };
  struct Stream {
    WaveOutHandle handle = 0;
    std::string device;
    platform::WaveFormat format;
    platform::WindowHandle window = 0;
    std::deque<Entry> queue;
    std::uint64_t runStart = 0;
    std::uint64_t runBytes = 0;
    bool started = false;
    std::uint64_t startTime = 0;
    std::vector<std::uint8_t> samples;
  };

  State(VirtualClock& c, Transcript& t, WindowPoster& p) : clock(c), transcript(t), poster(p) {}

  Stream* Find(WaveOutHandle handle) {
    const auto it = open.find(handle);
    return it == open.end() ? nullptr : it->second;
  }

  VirtualClock& clock;
  Transcript& transcript;
  WindowPoster& poster;
  std::mutex mutex;
  // Every stream opened (only the open ones when closed ones are not kept); a list keeps their
  // addresses when one goes.
  std::list<Stream> streams;
  bool keepClosed = true;
  std::map<WaveOutHandle, Stream*> open;
  WaveOutHandle nextHandle = kFirstHandle;
  std::uint64_t nextEntry = 1;
};

WaveOutModel::WaveOutModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster)
    : scheduler_(scheduler), state_(std::make_shared<State>(clock, transcript, poster)) {}

WaveOutModel::~WaveOutModel() {
  std::vector<std::uint64_t> pending;
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& stream : state_->streams) {
      for (const auto& entry : stream.queue) {
        if (entry.scheduled) pending.push_back(entry.scheduled);
      }
    }
  }
  for (const auto id : pending) scheduler_.Cancel(id);
}

std::uint32_t WaveOutModel::Open(WaveOutHandle& handle, const std::string& device, const platform::WaveFormat& format,
                                 platform::WindowHandle window) {
  if (format.formatTag != kWaveFormatPcm || format.channels == 0 || format.blockAlign == 0 ||
      format.bytesPerSecond == 0) {
    return kWaveErrBadFormat;
  }
  const std::uint64_t now = state_->clock.Now();
  {
    std::lock_guard lock(state_->mutex);
    State::Stream& stream = state_->streams.emplace_back();
    stream.handle = state_->nextHandle;
    state_->nextHandle += kHandleStep;
    stream.device = device;
    stream.format = format;
    stream.window = window;
    stream.startTime = now;
    state_->open[stream.handle] = &stream;
    handle = stream.handle;
  }
  state_->transcript.Add("wave", "open " + Quote(device));
  state_->poster.PostTo(window, platform::kMmWomOpen, handle, 0);
  return platform::kMmSuccess;
}

std::uint32_t WaveOutModel::Prepare(WaveOutHandle handle, WaveBlock& block) {
  std::lock_guard lock(state_->mutex);
  if (!state_->Find(handle)) return platform::kMmInvalidHandle;
  block.prepared = true;
  return platform::kMmSuccess;
}

std::uint32_t WaveOutModel::Unprepare(WaveOutHandle handle, WaveBlock& block) {
  std::lock_guard lock(state_->mutex);
  const State::Stream* stream = state_->Find(handle);
  if (!stream) return platform::kMmInvalidHandle;
  const bool queued = std::any_of(stream->queue.begin(), stream->queue.end(),
                                  [&](const State::Entry& entry) { return entry.block == &block; });
  if (queued) return platform::kWaveErrStillPlaying;
  block.prepared = false;
  return platform::kMmSuccess;
}

std::uint32_t WaveOutModel::Write(WaveOutHandle handle, WaveBlock& block) {
  const std::uint64_t now = state_->clock.Now();
  std::uint64_t entryId = 0;
  std::uint64_t endTime = 0;
  {
    std::lock_guard lock(state_->mutex);
    State::Stream* stream = state_->Find(handle);
    if (!stream) return platform::kMmInvalidHandle;
    if (!block.prepared) return kWaveErrUnprepared;
    if (!block.data && block.length) return kMmInvalParam;
    for (const auto& entry : stream->queue) {
      if (entry.block == &block) return platform::kWaveErrStillPlaying;
    }
    const platform::WaveFormat& format = stream->format;
    if (stream->queue.empty()) {
      // An idle device starts playing at once; the gap since the last run is silence in the dump.
      if (!stream->started) {
        stream->started = true;
        stream->startTime = now;
      }
      const std::uint64_t offset = BytesIn(now - stream->startTime, format);
      if (offset > stream->samples.size()) {
        const std::uint8_t silence = format.bitsPerSample == 8 ? 0x80 : 0x00;
        stream->samples.resize(offset, silence);
      }
      stream->runStart = now;
      stream->runBytes = 0;
    }
    State::Entry& entry = stream->queue.emplace_back();
    entry.id = entryId = state_->nextEntry++;
    entry.block = &block;
    entry.data.assign(block.data, block.data + block.length);
    entry.runOffset = stream->runBytes;
    stream->runBytes += block.length;
    entry.endTime = endTime = stream->runStart + stream->runBytes * 1000 / format.bytesPerSecond;
    block.done = false;
  }
  state_->transcript.Add("wave", "write " + std::to_string(block.length));
  const std::uint64_t scheduled = scheduler_.At(endTime, [weak = std::weak_ptr<State>(state_)] {
    if (const auto state = weak.lock()) Complete(*state);
  });
  std::lock_guard lock(state_->mutex);
  for (auto& stream : state_->streams) {
    for (auto& entry : stream.queue) {
      if (entry.id == entryId) entry.scheduled = scheduled;
    }
  }
  return platform::kMmSuccess;
}

// Finishes every block whose end has come, in queue order, whichever completion fired: blocks
// end in order even when two writers' scheduling raced.
void WaveOutModel::Complete(State& state) {
  const std::uint64_t now = state.clock.Now();
  struct Done {
    platform::WindowHandle window;
    WaveOutHandle handle;
    WaveBlock* block;
  };
  std::vector<Done> done;
  {
    std::lock_guard lock(state.mutex);
    for (auto& [handle, stream] : state.open) {
      while (!stream->queue.empty() && stream->queue.front().endTime <= now) {
        State::Entry& entry = stream->queue.front();
        stream->samples.insert(stream->samples.end(), entry.data.begin(), entry.data.end());
        entry.block->done = true;
        done.push_back({stream->window, handle, entry.block});
        stream->queue.pop_front();
      }
    }
  }
  for (const auto& item : done) {
    state.poster.PostTo(item.window, platform::kMmWomDone, item.handle, reinterpret_cast<std::intptr_t>(item.block));
  }
}

std::uint32_t WaveOutModel::SetVolume(WaveOutHandle handle, std::uint32_t volume) {
  {
    // The output's own volume does not change what the dump holds; only the call is shown.
    std::lock_guard lock(state_->mutex);
    if (!state_->Find(handle)) return platform::kMmInvalidHandle;
  }
  char text[32];
  std::snprintf(text, sizeof text, "volume 0x%08X", static_cast<unsigned>(volume));
  state_->transcript.Add("wave", text);
  return platform::kMmSuccess;
}

std::uint32_t WaveOutModel::Reset(WaveOutHandle handle) {
  const std::uint64_t now = state_->clock.Now();
  platform::WindowHandle window = 0;
  std::vector<WaveBlock*> handedBack;
  std::vector<std::uint64_t> cancelled;
  {
    std::lock_guard lock(state_->mutex);
    State::Stream* stream = state_->Find(handle);
    if (!stream) return platform::kMmInvalidHandle;
    window = stream->window;
    if (!stream->queue.empty()) {
      // Only the block at the head has been sounding; keep what of it was heard.
      const State::Entry& head = stream->queue.front();
      const std::uint64_t reached = BytesIn(now - stream->runStart, stream->format);
      const std::uint64_t heard =
          reached > head.runOffset ? std::min<std::uint64_t>(reached - head.runOffset, head.data.size()) : 0;
      stream->samples.insert(stream->samples.end(), head.data.begin(),
                             head.data.begin() + static_cast<std::ptrdiff_t>(heard));
    }
    for (const auto& entry : stream->queue) {
      entry.block->done = true;
      handedBack.push_back(entry.block);
      if (entry.scheduled) cancelled.push_back(entry.scheduled);
    }
    stream->queue.clear();
  }
  state_->transcript.Add("wave", "reset");
  for (const auto id : cancelled) scheduler_.Cancel(id);
  for (WaveBlock* block : handedBack) {
    state_->poster.PostTo(window, platform::kMmWomDone, handle, reinterpret_cast<std::intptr_t>(block));
  }
  return platform::kMmSuccess;
}

std::uint32_t WaveOutModel::Close(WaveOutHandle handle) {
  platform::WindowHandle window = 0;
  bool refused = false;
  {
    std::lock_guard lock(state_->mutex);
    State::Stream* stream = state_->Find(handle);
    if (!stream) return platform::kMmInvalidHandle;
    refused = !stream->queue.empty();
    if (!refused) {
      window = stream->window;
      state_->open.erase(handle);
      if (!state_->keepClosed) state_->streams.remove_if([&](const State::Stream& s) { return &s == stream; });
    }
  }
  if (refused) {
    state_->transcript.Add("wave", "close refused");
    return platform::kWaveErrStillPlaying;
  }
  state_->transcript.Add("wave", "close");
  state_->poster.PostTo(window, platform::kMmWomClose, handle, 0);
  return platform::kMmSuccess;
}

void WaveOutModel::KeepNoClosedStreams() {
  std::lock_guard lock(state_->mutex);
  state_->keepClosed = false;
}

std::vector<WaveStream> WaveOutModel::Streams() const {
  std::lock_guard lock(state_->mutex);
  std::vector<WaveStream> streams;
  for (const auto& stream : state_->streams) {
    streams.push_back({stream.device, stream.format, stream.startTime, stream.samples});
  }
  return streams;
}

bool WaveOutModel::WriteWav(const WaveStream& stream, const std::string& path) {
  const auto& format = stream.format;
  const auto dataSize = static_cast<std::uint32_t>(stream.samples.size());
  const std::uint32_t pad = dataSize & 1;  // chunks are word-aligned; the pad byte is not counted
  std::vector<std::uint8_t> header;
  const auto tag = [&](const char* fourCc) { header.insert(header.end(), fourCc, fourCc + 4); };
  tag("RIFF");
  PutLe(header, 4 + (8 + 16) + (8 + dataSize + pad), 4);
  tag("WAVE");
  tag("fmt ");
  PutLe(header, 16, 4);
  PutLe(header, format.formatTag, 2);
  PutLe(header, format.channels, 2);
  PutLe(header, format.samplesPerSecond, 4);
  PutLe(header, format.bytesPerSecond, 4);
  PutLe(header, format.blockAlign, 2);
  PutLe(header, format.bitsPerSample, 2);
  tag("data");
  PutLe(header, dataSize, 4);

  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  file.write(reinterpret_cast<const char*>(stream.samples.data()), static_cast<std::streamsize>(dataSize));
  if (pad) file.put('\0');
  return static_cast<bool>(file.flush());
}

}  // namespace sim
