#include "common/Progress.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

TEST(ProgressText, DownloadFigures) {
  struct Case {
    uint64_t received;
    std::optional<uint64_t> total, rate;
    const char* text;
  } cases[] = {
      {0, 105 * kMiB, std::nullopt, "0.0 of 105.0 MB (0%)"},
      {12 * kMiB + kMiB / 2, 100 * kMiB, 4 * kMiB, "12.5 of 100.0 MB (12%), 4.0 MB/s"},
      // 100% only once the last byte is in.
      {100 * kMiB - 1, 100 * kMiB, std::nullopt, "100.0 of 100.0 MB (99%)"},
      {100 * kMiB, 100 * kMiB, kMiB / 10, "100.0 of 100.0 MB (100%), 0.1 MB/s"},
      // No announced length, or an empty one: only what has come.
      {3 * kMiB, std::nullopt, 2 * kMiB, "3.0 MB, 2.0 MB/s"},
      {0, 0, std::nullopt, "0.0 MB"},
      // Near the file cap the percentage must not overflow.
      {(4ull << 30) - 1, 4ull << 30, std::nullopt, "4096.0 of 4096.0 MB (99%)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(launch::DownloadProgressText(c.received, c.total, c.rate), c.text) << c.text;
  EXPECT_EQ(launch::ExtractionProgressText(1234, 3002), "1234 of 3002 files");
}

class RecordingView : public launch::ILaunchView {
public:
  void SetStatusText(const std::string&) override {}
  void ShowProgress(const std::string& text) override { shown.push_back(text); }
  void ProcessMessages() override {}
  std::string HostText() override { return {}; }
  void SetHostText(const std::string&) override {}
  std::string UserNameText() override { return {}; }
  std::string PasswordText() override { return {}; }
  int SelectedMode() override { return -1; }
  void HideBrowse() override {}
  std::vector<std::string> shown;
};

// A few times a second, not at every read: thousands of redraws a second
// would cost more than the transfer. The first and the last figure always
// show, and the text goes with the transfer.
TEST(ProgressDisplay, RedrawsAFewTimesASecondAndClearsAfter) {
  fake::FakeSystem clock;
  RecordingView view;
  {
    launch::ProgressDisplay progress(view, clock);
    progress.Items(1, 4); // first: shown
    clock.tick += 100;
    progress.Items(2, 4); // too soon
    clock.tick += launch::kProgressRedrawMs;
    progress.Items(3, 4);
    progress.Items(4, 4); // the last: shown however soon
  }
  EXPECT_EQ(view.shown,
            (std::vector<std::string>{"1 of 4 files", "3 of 4 files", "4 of 4 files", ""}));
}

// The rate is an average from the start of the transfer, left out until
// half a second has passed.
TEST(ProgressDisplay, RateFromTheStartOfTheTransfer) {
  fake::FakeSystem clock;
  RecordingView view;
  launch::ProgressDisplay progress(view, clock);
  clock.tick += 300;
  progress.Bytes(kMiB, 8 * kMiB);
  clock.tick += 700;
  progress.Bytes(3 * kMiB, 8 * kMiB);
  EXPECT_EQ(view.shown,
            (std::vector<std::string>{"1.0 of 8.0 MB (12%)", "3.0 of 8.0 MB (37%), 3.0 MB/s"}));
}

} // namespace
