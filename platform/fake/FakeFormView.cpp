#include "platform/fake/FakeFormView.h"

namespace fake {

FakeFormView::FakeFormView(plat::IFormEvents& events) : events_(events) {
  for (const plat::ControlLayout& c : plat::kLoginFormLayout) {
    texts[c.id] = c.caption;
    visible[c.id] = true;
  }
}

std::string FakeFormView::Text(plat::ControlId control) {
  return texts[control];
}

void FakeFormView::SetText(plat::ControlId control, const std::string& text) {
  texts[control] = text;
}

void FakeFormView::SetProgressText(const std::string& text) {
  progressText = text;
  progressShown.push_back(text);
}

bool FakeFormView::Visible(plat::ControlId control) {
  return visible[control];
}

void FakeFormView::SetVisible(plat::ControlId control, bool v) {
  visible[control] = v;
}

void FakeFormView::SetEnabled(plat::ControlId control, bool enabled) {
  if (enabled)
    disabled.erase(control);
  else
    disabled.insert(control);
}

void FakeFormView::Show() {
  shown = true;
  events_.FormShow();
}

void FakeFormView::SelectMode(int index) {
  if (itemIndex == index)
    return;
  itemIndex = index;
  events_.OperationalModeSelected(index);
}

std::unique_ptr<plat::IFormView> FakeToolkit::CreateLoginWindow(plat::IFormEvents& e) {
  auto created = std::make_unique<FakeFormView>(e);
  view = created.get();
  events = &e;
  return created;
}

void FakeToolkit::RunMessageLoop() {
  loopSawShownWindow = view && view->shown;
  // The only queued work a test needs from the loop is the timer's tick.
  while (view && !view->closed && view->timerEnabled)
    events->Timer1Timer();
}

} // namespace fake
