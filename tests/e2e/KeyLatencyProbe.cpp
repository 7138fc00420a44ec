// key_latency_probe PRESSES HANDSET_PIPE CLIENT_PIPE: the time from a key press at the handset
// simulator to the client command it causes at the softphone simulator, through whatever path
// joins them (the real Hidmar.dll on the virtual HID device, or the sim library). Presses the
// client key, whose FOCUS goes to the client directly rather than through the command queue, so
// the figure is the key's road: the simulator's pipe, the handset model, the HID path, Teliox's
// window and key dispatch, the client library's message and the softphone simulator's event.
// Prints every press in milliseconds, then the median and the worst.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "companions/hidmar/sim/win32/PipeChannel.h"
#include "companions/tarvoapi/sim/win32/ControlPipe.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: key_latency_probe PRESSES HANDSET_PIPE CLIENT_PIPE\n");
    return 64;
  }
  const int presses = std::atoi(argv[1]);
  softphone_sim::ControlClient client;
  if (!client.Connect(argv[3], 15000)) {
    std::fprintf(stderr, "no softphone simulator on %s\n", argv[3]);
    return 2;
  }
  win32::UniqueHandle pipe = hidmar_sim::PipeChannel::Connect(argv[2], 15000);
  if (!pipe) {
    std::fprintf(stderr, "no handset on %s\n", argv[2]);
    return 2;
  }
  hidmar_sim::PipeChannel handset(pipe.release(), [](hidmar_sim::PipeChannel&, std::string) {}, [] {});
  handset.Start();

  // Warm-up presses, not counted, until the client library is attached and the key acts.
  bool acting = false;
  for (int i = 0; i < 20 && !acting; ++i) {
    handset.Send("key client");
    acting = client.Wait("cmd! FOCUS", 2000).has_value();
  }
  if (!acting) {
    std::fprintf(stderr, "the client key never reached the client\n");
    return 3;
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> ms;
  for (int i = 0; i < presses; ++i) {
    client.Monitor(150);  // what came before, and a pause between presses
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    handset.Send("key client");
    if (!client.Wait("cmd! FOCUS", 5000)) {
      std::fprintf(stderr, "press %d: no FOCUS within 5 s\n", i + 1);
      return 3;
    }
    QueryPerformanceCounter(&end);
    ms.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
    std::printf("press %3d  %7.2f ms\n", i + 1, ms.back());
  }
  std::vector<double> sorted = ms;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                          : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
  std::printf("presses %zu  median %.2f ms  worst %.2f ms  best %.2f ms\n", sorted.size(), median, sorted.back(),
              sorted.front());
  return 0;
}
