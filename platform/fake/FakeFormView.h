// The login window and the toolkit that makes it, as plain fields.
#pragma once

#include "platform/FormLayout.h"
#include "platform/FormView.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fake {

class FakeFormView : public plat::IFormView {
public:
  explicit FakeFormView(plat::IFormEvents& events);

  std::string Caption() override { return caption; }
  void SetCaption(const std::string& c) override { caption = c; }
  std::string Text(plat::ControlId control) override;
  void SetText(plat::ControlId control, const std::string& text) override;
  std::string ProgressText() override { return progressText; }
  void SetProgressText(const std::string& text) override;
  bool Visible(plat::ControlId control) override;
  void SetVisible(plat::ControlId control, bool visible) override;
  bool Enabled(plat::ControlId control) override { return !disabled.count(control); }
  void SetEnabled(plat::ControlId control, bool enabled) override;
  int ItemIndex() override { return itemIndex; }
  void SetItemIndex(int index) override { itemIndex = index; }
  void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  void Show() override;
  void Close() override { closed = true; }

  // What an operator does.
  void Click(plat::ControlId button) { events_.ButtonClick(button); }
  // The window's close box: the logic hears of it, then the window goes.
  void CloseBox() {
    events_.FormClose();
    closed = true;
  }
  void SelectMode(int index);
  void Type(plat::ControlId box, const std::string& text) { texts[box] = text; }

  std::string caption = plat::kFormCaption;
  std::map<plat::ControlId, std::string> texts;
  std::string progressText;
  // Every progress text shown, in order, clearings included.
  std::vector<std::string> progressShown;
  std::map<plat::ControlId, bool> visible;
  std::set<plat::ControlId> disabled;
  int itemIndex = 0;
  bool timerEnabled = false;
  bool shown = false;
  bool closed = false;

private:
  plat::IFormEvents& events_;
};

class FakeToolkit : public plat::IToolkit {
public:
  std::unique_ptr<plat::IFormView> CreateLoginWindow(plat::IFormEvents& events) override;
  // Runs the timer while it is enabled, as the queue would, then returns.
  void RunMessageLoop() override;
  FakeFormView* view = nullptr;
  plat::IFormEvents* events = nullptr;
  bool loopSawShownWindow = false;
};

} // namespace fake
