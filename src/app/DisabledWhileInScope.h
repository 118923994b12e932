// A control or window that takes no input for as long as the scope lasts, and is enabled again
// however the scope is left (exceptions included).
#pragma once

#include "platform/Platform.h"

namespace qel {

class DisabledControl {
public:
    DisabledControl(Platform& sys, ControlId control) : sys_(sys), control_(control) {
        sys_.setEnabled(control_, false);
    }
    ~DisabledControl() { sys_.setEnabled(control_, true); }
    DisabledControl(const DisabledControl&) = delete;
    DisabledControl& operator=(const DisabledControl&) = delete;

private:
    Platform& sys_;
    ControlId control_;
};

class DisabledWindow {
public:
    DisabledWindow(Platform& sys, WindowId window) : sys_(sys), window_(window) {
        sys_.setWindowEnabled(window_, false);
    }
    ~DisabledWindow() { sys_.setWindowEnabled(window_, true); }
    DisabledWindow(const DisabledWindow&) = delete;
    DisabledWindow& operator=(const DisabledWindow&) = delete;

private:
    Platform& sys_;
    WindowId window_;
};

}  // namespace qel
