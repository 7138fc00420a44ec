// How the models reach the simulated programs' windows.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Window.h"

namespace sim {

class WindowPoster {
 public:
  virtual ~WindowPoster() = default;
  // Posts a message to a window's thread. `keepAlive` owns whatever wParam or lParam point into
  // and is released only after the message has been handled. False when the window is gone.
  virtual bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                      std::shared_ptr<const void> keepAlive = nullptr) = 0;
};

}  // namespace sim
