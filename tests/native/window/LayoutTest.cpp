#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::FakeMachine;

struct StartedWindow {
    explicit StartedWindow(int dpi) {
        machine.dpi = dpi;
        machine.setEnv(u"SYSTEMDRIVE", u"C:");
        window.create();
    }
    FakeMachine machine;
    MainWindow window{machine};
    Rect bounds(ControlId id) { return machine.bounds(id); }
};

TEST(Layout, DesignedWindowAfterCreationAt96Dpi) {
    StartedWindow w(96);
    const auto& form = w.machine.window(w.window.Form1);
    EXPECT_TRUE(form.shown);
    EXPECT_EQ(form.timerMs, 1000u);
    EXPECT_EQ(form.spec.title, u"QEL Ruru Zudererod");
    EXPECT_EQ(form.spec.font.height, -11);
    EXPECT_EQ(w.machine.clientSize(w.window.Form1), std::make_pair(250, 191));
    EXPECT_EQ(w.bounds(w.window.CheckBox1), (Rect{8, 86, 241, 17}));
    EXPECT_EQ(w.bounds(w.window.Label2), (Rect{189, 167, 52, 16}));
    EXPECT_EQ(w.bounds(w.window.ComboBox1), (Rect{8, 32, 177, 24}));
    EXPECT_EQ(w.bounds(w.window.Button3), (Rect{127, 134, 115, 25}));
}

}  // namespace
}  // namespace qel
