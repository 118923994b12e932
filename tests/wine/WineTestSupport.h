// Helpers of the tests that run the Win32 side under Wine: a temporary folder and a sink that
// records the events of the message loop.
#pragma once

#include <functional>
#include <vector>

#include "platform/Platform.h"
#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"

namespace qel::wine_test {

// A fresh folder under %TEMP%, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const Text& path() const { return path_; }
    Text operator/(const Text& name) const { return path_ + u"\\" + name; }

private:
    Text path_;
};

struct RecordingSink : EventSink {
    std::vector<ControlId> clicks;
    std::vector<ControlId> selections;
    std::vector<WindowId> timers;
    std::vector<WindowId> closes;
    std::function<void()> onClickAction;  // runs inside onClick (may throw)

    void onClick(ControlId control) override {
        clicks.push_back(control);
        if (onClickAction) onClickAction();
    }
    void onSelectionChange(ControlId control) override { selections.push_back(control); }
    void onTimer(WindowId window) override { timers.push_back(window); }
    void onClose(WindowId window) override { closes.push_back(window); }
};

// The number of handles open in this process, found by asking each possible handle value
// (Wine's GetProcessHandleCount always says 0).
int openHandleCount();

// Pumps messages until the condition holds or the time runs out; true when it held.
bool pumpUntil(Win32Platform& platform, const std::function<bool()>& condition,
               DWORD timeoutMs = 5000);

}  // namespace qel::wine_test
