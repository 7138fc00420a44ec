// Milliseconds from the performance counter, for the timing probes and tests under Wine.
#pragma once

#include <windows.h>

namespace e2e {

inline double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

}  // namespace e2e
