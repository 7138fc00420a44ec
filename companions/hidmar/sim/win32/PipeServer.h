// The library's side of the simulator link: serves the pipe, one PipeChannel per simulator
// connected, each subscribed to the handset's events and answered command by command.
//
// Lives as long as the process (the library is never unloaded once it runs), so it has no stop:
// at process exit Windows ends its threads where they stand.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "companions/hidmar/sim/SimHandset.h"
#include "companions/hidmar/sim/win32/PipeChannel.h"

namespace hidmar_sim {

class PipeServer {
 public:
  PipeServer(SimHandset& handset, std::string name);
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // False when the name is served already (another program with the sim library): the
  // handset then runs without a simulator.
  bool Start();

 private:
  struct Connection {
    std::unique_ptr<PipeChannel> channel;
    int subscription = 0;
  };

  void Serve(HANDLE first);
  void Accept(HANDLE pipe);
  void ReapClosed();
  HANDLE NewInstance(bool first);

  SimHandset& handset_;
  const std::string name_;
  std::mutex mutex_;
  std::list<Connection> connections_;
  std::thread thread_;
};

}  // namespace hidmar_sim
