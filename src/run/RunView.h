// What a run shows and asks. The runs never draw: the window they were started from implements
// this view, and a run reaches the user only through it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace qel {

// The main window's options that a run reads, clears and shows its progress in.
enum class RunOption {
    Format,      // "Format to FAT32"
    Bootloader,  // "Auto install bootloader"
};

class RunView {
public:
    // A message dialog in the interface language with replaceable button captions; the modal
    // result (1 OK, 2 Cancel or closed).
    virtual int ask(const Text& message, DialogKind kind, int buttons,
                    const std::vector<Text>& captions) = 0;
    // llerror as an error with one "OK" button.
    virtual void showSupportError() = 0;
    // A system message box.
    virtual void tell(const Text& text, const Text& caption, std::uint32_t flags) = 0;

    // An option's tick; a change runs the option's handler, as a click would.
    virtual bool ticked(RunOption option) = 0;
    virtual void setTicked(RunOption option, bool ticked) = 0;
    virtual void showOptionCaption(RunOption option, const Text& caption) = 0;

    // The extraction run's progress label, shown with a caption or hidden.
    virtual void showProgress(const Text& caption) = 0;
    virtual void hideProgress() = 0;
    // The window's status line (its version label).
    virtual void showStatus(const Text& caption) = 0;

    // The whole window takes input or not.
    virtual void setInputEnabled(bool enabled) = 0;
    // The window that owns what a run starts through the shell.
    virtual WindowId owner() = 0;
    // Opens the repartition window (or brings it forward).
    virtual void offerRepartition() = 0;

protected:
    ~RunView() = default;
};

// The window takes no input for as long as the scope lasts, however the scope is left.
class InputHeld {
public:
    explicit InputHeld(RunView& view) : view_(view) { view_.setInputEnabled(false); }
    ~InputHeld() { view_.setInputEnabled(true); }
    InputHeld(const InputHeld&) = delete;
    InputHeld& operator=(const InputHeld&) = delete;

private:
    RunView& view_;
};

}  // namespace qel
