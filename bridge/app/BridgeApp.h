// CBridgeApp: the bridge program's application object. InitInstance runs the program's whole
// life: language, single instance, the hidden main window and the message loop.
#pragma once

#include <memory>

#include "bridge/app/BridgeDlg.h"
#include "bridge/app/BridgePorts.h"

namespace bridge {

inline constexpr char kSingleInstanceMutex[] = "Teliox";

class CBridgeApp {
 public:
  explicit CBridgeApp(BridgePorts& ports) : ports_(ports) {}

  // Returns false once the program is over; the process then ends with exit code 0.
  bool InitInstance();
  // The main window while the program runs (null before and after).
  const CBridgeDlg* MainWindow() const { return mainWindow_.get(); }

 private:
  BridgePorts& ports_;
  std::unique_ptr<CBridgeDlg> mainWindow_;
};

}  // namespace bridge
