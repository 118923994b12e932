// A control that takes no input for as long as the scope lasts, and is enabled again
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

}  // namespace qel
