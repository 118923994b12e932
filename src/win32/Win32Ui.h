// The tables behind the seam's window and control ids, shared by the window code and the message
// dialog. It brings in <windows.h>, after the seam's headers.
#pragma once

#include <map>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"

namespace qel {

namespace win32 {

struct FontDeleter {
    void operator()(HFONT font) const {
        if (font != nullptr) DeleteObject(font);
    }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// The dots per inch of a window's monitor (or of the primary monitor when there is no window).
int dpiOf(HWND window);

// Moves a window so that it is centred on a rectangle, kept inside the work area of the monitor.
void centreWindow(HWND window, const RECT& area);
RECT workAreaOf(HWND window);

// Resizes a top-level window so that its client area gets the given size.
void setClientAreaSize(HWND window, int width, int height);

}  // namespace win32

// Keeps the windows that the program has disabled disabled across a modal box or dialog, whose
// end would otherwise enable its owner whatever the program had set.
class KeepDisabled {
public:
    explicit KeepDisabled(std::vector<HWND> windows) : windows_(std::move(windows)) {}
    ~KeepDisabled();
    KeepDisabled(const KeepDisabled&) = delete;
    KeepDisabled& operator=(const KeepDisabled&) = delete;

private:
    std::vector<HWND> windows_;
};

struct Win32Platform::Ui {
    struct Window {
        HWND hwnd = nullptr;
        WindowSpec params;
        bool shown = false;
    };
    struct Control {
        HWND hwnd = nullptr;
        WindowId parent = 0;
        ControlSpec params;
    };

    std::map<WindowId, Window> windows;
    std::map<ControlId, Control> controls;
    std::map<HWND, WindowId> windowIds;
    std::map<HWND, ControlId> controlIds;
    std::map<std::tuple<Text, int, bool, bool>, win32::FontHandle> fonts;
    EventSink* sink = nullptr;
    // The program's entry on the taskbar when a window asks for one under another title: a
    // window without size that owns it (windows with an owner have no entry of their own).
    HWND applicationWindow = nullptr;
    std::vector<HWND> hiddenWithEntry;  // windows hidden while the entry is minimised
    WindowId nextWindow = 1;
    ControlId nextControl = 1;

    ~Ui();

    HWND windowHandle(WindowId id) const;
    HWND controlHandle(ControlId id) const;
    // The program's first window still open: the owner of message boxes and dialogs.
    HWND mainWindow() const;
    // The program's top-level windows that are enabled, or disabled, now.
    std::vector<HWND> windowsEnabled(bool enabled) const;

    HFONT font(const FontSpec& params);
    void applyTabOrder(WindowId window);
    void fitDropDownList(const Control& control);

    const Control* controlOf(HWND hwnd) const;  // null for windows that are no control of ours
    // A control's notification, reported to the sink as a click or a choice.
    void reportCommand(HWND from, WORD code);
    // Message handling of the program's windows; false lets Windows handle the message.
    bool handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void forget(HWND hwnd);
    HWND ensureApplicationWindow(const Text& title);
    bool handleApplicationMessage(UINT message, WPARAM wParam, LRESULT& result);
};

}  // namespace qel
