#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

// A machine whose fonts draw every character the given number of pixels wide.
class FontMachine : public fake::FakeMachine {
public:
    explicit FontMachine(int pixelsPerCharacter) : pixels_(pixelsPerCharacter) {}
    int textWidth(ControlId, const Text& text) override {
        return static_cast<int>(text.size()) * pixels_;
    }

private:
    int pixels_;
};

// The language link and the version label grow to the left when their caption needs more than
// the designed width, in both languages, and keep the designed rectangle when it fits.
TEST(CaptionLabels, WideCaptionsGrowLeftwardsNarrowOnesKeepTheDesign) {
    FontMachine wide(10);
    MainWindow w(wide);
    w.create();
    EXPECT_EQ(wide.bounds(w.Label3), (Rect{221, 10, 20, 16}));   // "EN"
    EXPECT_EQ(wide.bounds(w.Label2), (Rect{151, 167, 90, 16}));  // "v0.9.5.16", top from sizing
    wide.userClick(w.Label3);
    EXPECT_EQ(wide.caption(w.Label3), u"VI");
    EXPECT_EQ(wide.bounds(w.Label3), (Rect{221, 10, 20, 16}));

    FontMachine narrow(4);
    MainWindow n(narrow);
    n.create();
    EXPECT_EQ(narrow.bounds(n.Label3), (Rect{229, 10, 12, 16}));
    EXPECT_EQ(narrow.bounds(n.Label2), (Rect{189, 167, 52, 16}));
    EXPECT_EQ(narrow.clientSize(n.Form1), std::make_pair(250, 191));
}

// The fit starts from the designed rectangle, not from whatever the label was given before.
TEST(CaptionLabels, LinkReturnsToTheDesignedWidthWhenItsCaptionFits) {
    FontMachine machine(5);
    MainWindow w(machine);
    w.create();
    machine.setBounds(w.Label3, {200, 10, 41, 16});
    w.Label3Click();
    EXPECT_EQ(machine.caption(w.Label3), u"VI");
    EXPECT_EQ(machine.bounds(w.Label3), (Rect{229, 10, 12, 16}));
}

}  // namespace
}  // namespace qel
