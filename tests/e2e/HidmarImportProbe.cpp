// Imports Hidmar.dll the way a program linked against its import library does: by ordinal, at
// load time. The program starting at all proves the loader resolved all six numbers; the calls
// then check the answers with no handset attached. Exit code: 0, or the number of the first
// check that failed.
#include <cstdio>

#include "companions/hidmar/HidmarExports.h"

int main() {
  const unsigned char report[8] = {0xC0, 0x00, 0x00, 0x42};
  HidmarSetNotifyMessage(0x464);
  if (HidmarWriteReport(report, 7) != 0) return 1;
  if (HidmarFindDevice(0x11F1, 0x1402) != 0) return 2;
  if (HidmarOpenDevice(nullptr) != 0) return 3;
  HidmarCloseDevice();
  HidmarReleaseLibrary();
  std::puts("imported by ordinal");
  return 0;
}
