#include "platform/fake/FakeUi.h"

namespace fake {

void FakeUi::ShowMessage(plat::MessageKind kind, const std::string& text) {
  bool icon = iconsOn && kind != plat::MessageKind::Confirmation;
  messages.push_back({kind, text, icon});
  if (onMessage)
    onMessage(messages.back());
}

bool FakeUi::AskYesNo(const std::string& text) {
  const size_t asked = questions.size();
  questions.push_back(text);
  return asked < yesNoAnswers.size() && yesNoAnswers[asked];
}

void FakeUi::ProcessMessages() {
  ++processMessagesCalls;
  if (onProcessMessages)
    onProcessMessages();
}

std::optional<std::string> FakeUi::PickFolder(const std::string& title,
                                              const std::string& okLabel) {
  folderRequests.emplace_back(title, okLabel);
  if (folderAnswers.empty())
    return std::nullopt;
  auto answer = folderAnswers.front();
  folderAnswers.erase(folderAnswers.begin());
  return answer;
}

std::optional<std::string> FakeUi::OpenFile(const std::string& title, const std::string& filter) {
  fileRequests.emplace_back(title, filter);
  if (fileAnswers.empty())
    return std::nullopt;
  auto answer = fileAnswers.front();
  fileAnswers.erase(fileAnswers.begin());
  return answer;
}

} // namespace fake
