// The extraction run on a machine with no window at all: everything it shows goes through the
// view it is given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ExtractionRun.h"
#include "native/options/OptionsBench.h"

namespace qel {
namespace {

constexpr WindowId kOwner = 77;

// Records what a run shows and answers every dialog with OK.
class RecordingView : public RunView {
public:
    int ask(const Text& message, DialogKind, int, const std::vector<Text>&) override {
        shown.push_back(u"ask " + message);
        return kResultOk;
    }
    void showSupportError() override { shown.push_back(u"support error"); }
    void tell(const Text& text, const Text&, std::uint32_t) override {
        shown.push_back(u"tell " + text);
    }
    bool ticked(RunOption option) override {
        return option == RunOption::Format ? format : bootloader;
    }
    void setTicked(RunOption option, bool ticked) override {
        (option == RunOption::Format ? format : bootloader) = ticked;
        shown.push_back(u"tick " + Text(ticked ? u"on" : u"off"));
    }
    void showOptionCaption(RunOption, const Text& caption) override {
        shown.push_back(u"caption " + caption);
    }
    void showProgress(const Text& caption) override { shown.push_back(u"progress " + caption); }
    void hideProgress() override { shown.push_back(u"progress hidden"); }
    void showStatus(const Text& caption) override { shown.push_back(u"status " + caption); }
    void setInputEnabled(bool enabled) override {
        shown.push_back(enabled ? u"input on" : u"input off");
    }
    WindowId owner() override { return kOwner; }
    void offerRepartition() override { shown.push_back(u"repartition"); }

    bool format = false;
    bool bootloader = true;
    std::vector<Text> shown;
};

TEST(RunWithoutWindow, ShowsItsProgressThroughTheViewAndStartsTheCompanion) {
    options_test::Bench bench(options_test::Stick{.firstSector = 32});  // no core image fits
    TextTable texts;
    applyLanguage(texts, u"en");
    RunContext context{bench.machine, texts, u"C:", u"System32", u"C:\\Windows\\format.com"};
    RecordingView view;
    view.bootloader = false;
    RunExtraction(context, view, u"E:");
    EXPECT_EQ(view.shown,
              (std::vector<Text>{u"tick off", u"input off", u"progress " + texts.lextract,
                                 u"progress hidden", u"progress " + texts.lrunapp, u"input on"}));
    ASSERT_EQ(bench.machine.shellExecutes().size(), 1u);
    EXPECT_EQ(bench.machine.shellExecutes()[0].window, kOwner);
    EXPECT_FALSE(bench.machine.hasDirectory(options_test::kWorkFolder));
    EXPECT_EQ(bench.machine.quitRequests(), 1);
    EXPECT_EQ(bench.machine.openHandles() + bench.machine.openProcesses(), 0);
}

TEST(RunWithoutWindow, AStickWithoutRoomForGrub2OffersRepartitioningAndCreatesNothing) {
    options_test::Bench bench(options_test::Stick{.firstSector = 32});
    TextTable texts;
    applyLanguage(texts, u"en");
    RunContext context{bench.machine, texts, u"C:", u"System32", u"C:\\Windows\\format.com"};
    RecordingView view;
    RunExtraction(context, view, u"E:");
    EXPECT_EQ(view.shown, (std::vector<Text>{u"ask " + texts.llrepart, u"repartition"}));
    EXPECT_FALSE(bench.machine.hasDirectory(options_test::kWorkFolder));
    EXPECT_TRUE(bench.machine.processes().empty());
}

}  // namespace
}  // namespace qel
