// Message boxes, cursor, message pump and file dialogs, recorded.
#pragma once

#include "platform/Platform.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fake {

struct ShownMessage {
  plat::MessageKind kind;
  std::string text;
  bool withIcon;
};

class FakeUi : public plat::IUi {
public:
  std::vector<ShownMessage> messages;
  bool iconsOn = false;
  bool busy = false;
  int processMessagesCalls = 0;
  std::vector<std::optional<std::string>> folderAnswers, fileAnswers;
  std::vector<std::pair<std::string, std::string>> folderRequests, fileRequests;
  // Every question asked, in order, and the answers to give them, in order;
  // a question beyond the scripted answers is answered No, as a box closed.
  std::vector<std::string> questions;
  std::vector<bool> yesNoAnswers;
  // Runs inside ShowMessage, like an operator acting while a box is open.
  std::function<void(const ShownMessage&)> onMessage;
  // Runs inside ProcessMessages: the pending messages of the queue.
  std::function<void()> onProcessMessages;

  void UseMessageIcons() override { iconsOn = true; }
  void ShowMessage(plat::MessageKind kind, const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void SetBusyCursor(bool b) override { busy = b; }
  void ProcessMessages() override;
  std::optional<std::string> PickFolder(const std::string& title,
                                        const std::string& okLabel) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter) override;
};

} // namespace fake
