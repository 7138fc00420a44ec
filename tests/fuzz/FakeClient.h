// What the fuzz targets' fake client libraries have in common: the library is always
// there, keeps every command it is sent, in order, and ignores the requests that need no answer.
// Each target adds the call queries and the rest.
#pragma once

#include <string>
#include <vector>

#include "platform/ClientApi.h"

namespace fuzz {

class RecordingClient : public platform::ClientApi {
 public:
  std::vector<std::string> commands;

  bool Initialize(platform::WindowHandle) override { return true; }
  void Connect2Tarvo() override {}
  void Disconnect2Tarvo() override {}
  void SendStringCommand(const char* command) override { commands.emplace_back(command); }
  bool SendCommandDirect(const char* command) override {
    commands.emplace_back(command);
    return true;
  }
  void SetCurrentCalltoOnHold() override {}
  void MinimizeTarvo() override {}
  void UpdateContactList1() override {}
};

}  // namespace fuzz
