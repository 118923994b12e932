// Top-level windows, their child controls, timers and the message loop through the Win32 API.
// Events go to the seam's sink unchanged; the portable window models decide what they mean.

#include <algorithm>
#include <utility>

#include "win32/Win32Bind.h"
#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"
#include "win32/Win32Ui.h"

#include <commctrl.h>

namespace qel {

using win32::fromWide;
using win32::wide;

namespace {

constexpr wchar_t kWindowClass[] = L"QELDuzuWindow";
constexpr UINT_PTR kTimerId = 1;
// Control ids start above the dialog manager's own ids (IDOK, IDCANCEL …).
constexpr unsigned kFirstControlId = 0x100;

BOOL CALLBACK takeFirstIconName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) noexcept {
    *reinterpret_cast<HICON*>(found) = LoadIconW(GetModuleHandleW(nullptr), name);
    return FALSE;  // the first icon group is the program's icon
}

HICON programIcon() {
    HICON icon = nullptr;
    EnumResourceNamesW(GetModuleHandleW(nullptr), RT_GROUP_ICON, takeFirstIconName,
                       reinterpret_cast<LONG_PTR>(&icon));
    return icon;
}

LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    // No exception may unwind into Windows' frames: the last resort is to drop it here.
    try {
        if (message == WM_NCCREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        }
        auto* ui = reinterpret_cast<Win32Platform::Ui*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (ui != nullptr && ui->handleMessage(hwnd, message, wParam, lParam, result))
            return result;
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void registerWindowClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hIcon = programIcon();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassExW(&windowClass);
    }();
    static_cast<void>(atom);
}

// A label that is both word-wrapped and vertically centred is drawn by the window itself
// (SS_CENTERIMAGE would turn its wrapping off): see drawWrappedCentredLabel.
bool drawnByWindow(const ControlSpec& params) {
    return params.kind == ControlKind::Label && params.wordWrap && params.verticallyCentred;
}

DWORD labelStyle(const ControlSpec& params) {
    DWORD style = params.align == TextAlign::Centre  ? SS_CENTER
                  : params.align == TextAlign::Right ? SS_RIGHT
                  : params.wordWrap                  ? SS_LEFT
                                                     : SS_LEFTNOWORDWRAP;
    if (drawnByWindow(params)) {
        style = SS_OWNERDRAW;
    } else if (params.verticallyCentred) {
        style |= SS_CENTERIMAGE;
    }
    if (params.handCursor) style |= SS_NOTIFY;  // a link label reports its clicks
    return style;
}

DWORD editStyle(const ControlSpec& params) {
    DWORD style = ES_AUTOHSCROLL;
    if (params.digitsOnly) style |= ES_NUMBER;
    if (params.align == TextAlign::Right) style |= ES_RIGHT;
    if (params.align == TextAlign::Centre) style |= ES_CENTER;
    return style;
}

struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ControlClass controlClass(const ControlSpec& params) {
    const DWORD multiline = params.wordWrap ? BS_MULTILINE : 0;
    switch (params.kind) {
        case ControlKind::Label:
            return {L"STATIC", labelStyle(params), 0};
        case ControlKind::Button:
            return {L"BUTTON", static_cast<DWORD>(BS_PUSHBUTTON) | multiline, 0};
        case ControlKind::CheckBox:
            // Not an automatic check box: the program sets the tick itself when it is clicked.
            return {L"BUTTON", static_cast<DWORD>(BS_CHECKBOX) | multiline, 0};
        case ControlKind::DropDownList:
            return {L"COMBOBOX", static_cast<DWORD>(CBS_DROPDOWNLIST) | WS_VSCROLL, 0};
        case ControlKind::Edit:
            return {L"EDIT", editStyle(params), WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", 0, 0};
}

Text windowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    if (length <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    const int copied = GetWindowTextW(hwnd, buffer.data(), length + 1);
    return fromWide(buffer.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

// Draws a word-wrapped label with its lines centred vertically in the control, in its font and
// colour on the face colour.
void drawWrappedCentredLabel(const DRAWITEMSTRUCT& item, const ControlSpec& params) {
    const HDC dc = item.hDC;
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    const auto font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(
        dc, (item.itemState & ODS_DISABLED) != 0 ? GetSysColor(COLOR_GRAYTEXT) : params.font.color);
    const UINT format = DT_WORDBREAK | (params.align == TextAlign::Centre  ? DT_CENTER
                                        : params.align == TextAlign::Right ? DT_RIGHT
                                                                           : DT_LEFT);
    const Text text = windowText(item.hwndItem);
    RECT lines = item.rcItem;
    DrawTextW(dc, wide(text), -1, &lines, format | DT_CALCRECT);
    RECT box = item.rcItem;
    box.top += std::max<LONG>(0, (box.bottom - box.top - (lines.bottom - lines.top)) / 2);
    DrawTextW(dc, wide(text), -1, &box, format);
    SelectObject(dc, previous);
}

class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_ != nullptr) ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

}  // namespace

// ---- helpers shared with the message dialog ----

namespace win32 {

int dpiOf(HWND window) {
    using ForWindow = UINT(WINAPI*)(HWND);
    using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto forWindow =
        win32::lookUpFunction<ForWindow>(L"user32.dll", "GetDpiForWindow");
    if (window != nullptr && forWindow != nullptr) {
        if (const UINT dpi = forWindow(window); dpi != 0) return static_cast<int>(dpi);
    }
    static const auto forMonitor =
        win32::lookUpFunction<ForMonitor>(L"shcore.dll", "GetDpiForMonitor");
    if (forMonitor != nullptr) {
        const HMONITOR monitor = window != nullptr
                                     ? MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY)
                                     : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
        UINT dpiX = 0;
        UINT dpiY = 0;
        if (SUCCEEDED(forMonitor(monitor, 0 /* effective DPI */, &dpiX, &dpiY)) && dpiY != 0)
            return static_cast<int>(dpiY);
    }
    const WindowDc screen(nullptr);
    const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : 96;
}

RECT workAreaOf(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    const HMONITOR monitor = window != nullptr
                                 ? MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY)
                                 : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return area;
}

void centreWindow(HWND window, const RECT& area) {
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const RECT work = workAreaOf(window);
    int left = area.left + (area.right - area.left - width) / 2;
    int top = area.top + (area.bottom - area.top - height) / 2;
    left = std::max<int>(work.left, std::min<int>(left, work.right - width));
    top = std::max<int>(work.top, std::min<int>(top, work.bottom - height));
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setClientAreaSize(HWND window, int width, int height) {
    // The frame is measured rather than computed, so that any border, caption or DPI counts.
    RECT frame{};
    RECT client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    const int extraWidth = (frame.right - frame.left) - (client.right - client.left);
    const int extraHeight = (frame.bottom - frame.top) - (client.bottom - client.top);
    SetWindowPos(window, nullptr, 0, 0, width + extraWidth, height + extraHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace win32

// ---- the tables ----

Win32Platform::Ui::~Ui() {
    std::vector<HWND> open;
    for (const auto& [id, window] : windows) open.push_back(window.hwnd);
    // Destroying an owner takes its owned windows with it; those are then no windows any more.
    for (const HWND hwnd : open)
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
    if (applicationWindow != nullptr) DestroyWindow(applicationWindow);
}

HWND Win32Platform::Ui::ensureApplicationWindow(const Text& title) {
    if (applicationWindow == nullptr) {
        const RECT work = win32::workAreaOf(nullptr);
        applicationWindow = CreateWindowExW(
            0, kWindowClass, wide(title), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
            (work.left + work.right) / 2, (work.top + work.bottom) / 2, 0, 0, nullptr, nullptr,
            GetModuleHandleW(nullptr), this);
    } else {
        SetWindowTextW(applicationWindow, wide(title));
    }
    return applicationWindow;
}

// The taskbar entry stands for the windows it owns: activating it activates them, closing it
// closes the first of them, minimising and restoring it hides and shows them.
bool Win32Platform::Ui::handleApplicationMessage(UINT message, WPARAM wParam, LRESULT& result) {
    result = 0;
    switch (message) {
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE && !IsIconic(applicationWindow)) {
                const HWND popup = GetLastActivePopup(applicationWindow);
                if (popup != applicationWindow && IsWindowEnabled(popup)) SetActiveWindow(popup);
            }
            return true;
        case WM_CLOSE:
            if (const HWND first = mainWindow()) PostMessageW(first, WM_CLOSE, 0, 0);
            return true;
        case WM_SIZE:
            if (wParam == SIZE_RESTORED) {
                for (const HWND hidden : std::exchange(hiddenWithEntry, {}))
                    if (IsWindow(hidden)) ShowWindow(hidden, SW_SHOW);
            }
            return false;
        default:
            return false;
    }
}

HWND Win32Platform::Ui::windowHandle(WindowId id) const {
    const auto found = windows.find(id);
    return found == windows.end() ? nullptr : found->second.hwnd;
}

HWND Win32Platform::Ui::controlHandle(ControlId id) const {
    const auto found = controls.find(id);
    return found == controls.end() ? nullptr : found->second.hwnd;
}

HWND Win32Platform::Ui::mainWindow() const {
    return windows.empty() ? nullptr : windows.begin()->second.hwnd;
}

std::vector<HWND> Win32Platform::Ui::windowsEnabled(bool enabled) const {
    std::vector<HWND> list;
    for (const auto& [id, window] : windows)
        if ((IsWindowEnabled(window.hwnd) != FALSE) == enabled) list.push_back(window.hwnd);
    return list;
}

KeepDisabled::~KeepDisabled() {
    for (const HWND window : windows_)
        if (IsWindow(window)) EnableWindow(window, FALSE);
}

HFONT Win32Platform::Ui::font(const FontSpec& params) {
    auto key = std::make_tuple(params.face, params.height, params.underline, params.ansiCharset);
    auto& slot = fonts[key];
    if (!slot) {
        slot.reset(CreateFontW(
            params.height, 0, 0, 0, FW_NORMAL, FALSE, params.underline ? TRUE : FALSE, FALSE,
            static_cast<DWORD>(params.ansiCharset ? ANSI_CHARSET : DEFAULT_CHARSET),
            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
            wide(params.face)));
    }
    return slot.get();
}

void Win32Platform::Ui::applyTabOrder(WindowId window) {
    // Tab moves through the children in their z-order; tab stops are put in tabOrder's order.
    std::vector<std::pair<int, HWND>> stops;
    for (const auto& [id, control] : controls)
        if (control.parent == window && control.params.tabOrder >= 0)
            stops.emplace_back(control.params.tabOrder, control.hwnd);
    std::stable_sort(stops.begin(), stops.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    HWND previous = HWND_TOP;
    for (const auto& [order, hwnd] : stops) {
        SetWindowPos(hwnd, previous, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
        previous = hwnd;
    }
}

void Win32Platform::Ui::fitDropDownList(const Control& control) {
    // The dropped list shows every item: the height given to a drop-down list is the field's
    // height plus the list's.
    const auto count = std::max<LRESULT>(SendMessageW(control.hwnd, CB_GETCOUNT, 0, 0), 1);
    SendMessageW(control.hwnd, CB_SETMINVISIBLE, static_cast<WPARAM>(count), 0);
    const auto itemHeight =
        std::max<LRESULT>(SendMessageW(control.hwnd, CB_GETITEMHEIGHT, 0, 0), 1);
    RECT field{};
    GetWindowRect(control.hwnd, &field);
    const int height = static_cast<int>(field.bottom - field.top + itemHeight * count + 2);
    SetWindowPos(control.hwnd, nullptr, 0, 0, field.right - field.left, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Platform::Ui::forget(HWND hwnd) {
    const auto window = windowIds.find(hwnd);
    if (window == windowIds.end()) return;
    const WindowId id = window->second;
    for (auto control = controls.begin(); control != controls.end();) {
        if (control->second.parent == id) {
            controlIds.erase(control->second.hwnd);
            control = controls.erase(control);
        } else {
            ++control;
        }
    }
    windows.erase(id);
    windowIds.erase(window);
}

const Win32Platform::Ui::Control* Win32Platform::Ui::controlOf(HWND hwnd) const {
    const auto found = controlIds.find(hwnd);
    return found == controlIds.end() ? nullptr : &controls.at(found->second);
}

void Win32Platform::Ui::reportCommand(HWND from, WORD code) {
    const auto found = controlIds.find(from);
    if (found == controlIds.end() || sink == nullptr) return;
    const ControlId id = found->second;
    switch (controls.at(id).params.kind) {
        case ControlKind::DropDownList:
            if (code == CBN_SELCHANGE) sink->onSelectionChange(id);
            break;
        case ControlKind::Edit:
            break;
        default:  // buttons, check boxes and link labels: BN_CLICKED and STN_CLICKED are both 0
            if (code == BN_CLICKED) sink->onClick(id);
            break;
    }
}

bool Win32Platform::Ui::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result) {
    if (hwnd == applicationWindow && applicationWindow != nullptr)
        return handleApplicationMessage(message, wParam, result);
    const auto window = windowIds.find(hwnd);
    const WindowId windowId = window == windowIds.end() ? 0 : window->second;
    result = 0;
    switch (message) {
        case WM_SYSCOMMAND:  // a window standing on the taskbar entry minimises with it
            if ((wParam & 0xFFF0) != SC_MINIMIZE || applicationWindow == nullptr ||
                GetWindow(hwnd, GW_OWNER) != applicationWindow)
                return false;
            hiddenWithEntry.push_back(hwnd);
            ShowWindow(hwnd, SW_HIDE);
            ShowWindow(applicationWindow, SW_MINIMIZE);
            return true;
        case WM_COMMAND:
            reportCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
            return true;
        case WM_TIMER:
            if (wParam != kTimerId || windowId == 0) return false;
            if (sink != nullptr) sink->onTimer(windowId);
            return true;
        case WM_CLOSE:  // the sink decides whether the window goes
            if (sink != nullptr && windowId != 0) sink->onClose(windowId);
            return true;
        case WM_CTLCOLORSTATIC: {  // labels and check boxes: their colour on the face colour
            const Control* control = controlOf(reinterpret_cast<HWND>(lParam));
            if (control == nullptr || control->params.kind == ControlKind::Edit) return false;
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, control->params.font.color);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            return true;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            const Control* control = controlOf(item->hwndItem);
            if (control == nullptr || !drawnByWindow(control->params)) return false;
            drawWrappedCentredLabel(*item, control->params);
            result = TRUE;
            return true;
        }
        case WM_SETCURSOR: {
            const Control* control = controlOf(reinterpret_cast<HWND>(wParam));
            if (control == nullptr || !control->params.handCursor) return false;
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            result = TRUE;
            return true;
        }
        case WM_NCDESTROY:
            if (applicationWindow != nullptr && GetWindow(hwnd, GW_OWNER) == applicationWindow)
                ShowWindow(applicationWindow, SW_HIDE);  // the entry goes with its window
            forget(hwnd);
            return false;
        default:
            return false;
    }
}

// ---- the seam: windows ----

Win32Platform::Win32Platform() : ui_(std::make_unique<Ui>()) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    registerWindowClass();
}

std::uintptr_t Win32Platform::nativeWindow(WindowId window) const {
    return reinterpret_cast<std::uintptr_t>(ui_->windowHandle(window));
}

std::uintptr_t Win32Platform::nativeControl(ControlId control) const {
    return reinterpret_cast<std::uintptr_t>(ui_->controlHandle(control));
}

void Win32Platform::setEventSink(EventSink* sink) {
    ui_->sink = sink;
}

int Win32Platform::screenDpi() {
    return win32::dpiOf(ui_->mainWindow());
}

WindowId Win32Platform::createWindow(const WindowSpec& params) {
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (params.minimizeBox) style |= WS_MINIMIZEBOX;
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (params.alwaysOnTop) exStyle |= WS_EX_TOPMOST;
    HWND owner = ui_->windowHandle(params.owner);
    if (owner == nullptr && !params.taskbarTitle.empty())
        owner = ui_->ensureApplicationWindow(params.taskbarTitle);
    const WindowId id = ui_->nextWindow++;
    const HWND hwnd =
        CreateWindowExW(exStyle, kWindowClass, wide(params.title), style, CW_USEDEFAULT,
                        CW_USEDEFAULT, params.clientWidth, params.clientHeight, owner, nullptr,
                        GetModuleHandleW(nullptr), ui_.get());
    if (hwnd == nullptr) return 0;
    ui_->windows[id] = Ui::Window{hwnd, params, false};
    ui_->windowIds[hwnd] = id;
    win32::setClientAreaSize(hwnd, params.clientWidth, params.clientHeight);
    return id;
}

void Win32Platform::showWindow(WindowId window) {
    const auto found = ui_->windows.find(window);
    if (found == ui_->windows.end()) return;
    Ui::Window& entry = found->second;
    if (!entry.shown) {  // placed once, at its final size, when it first appears
        RECT area = win32::workAreaOf(entry.hwnd);
        if (const HWND over = ui_->windowHandle(entry.params.centreOver))
            GetWindowRect(over, &area);
        win32::centreWindow(entry.hwnd, area);
        entry.shown = true;
    }
    const HWND owner = GetWindow(entry.hwnd, GW_OWNER);
    if (owner != nullptr && owner == ui_->applicationWindow && !IsWindowVisible(owner))
        ShowWindow(owner, SW_SHOWNA);
    ShowWindow(entry.hwnd, SW_SHOW);
    UpdateWindow(entry.hwnd);
}

void Win32Platform::destroyWindow(WindowId window) {
    if (const HWND hwnd = ui_->windowHandle(window)) DestroyWindow(hwnd);
}

void Win32Platform::bringToFront(WindowId window) {
    const HWND hwnd = ui_->windowHandle(window);
    if (hwnd == nullptr) return;
    if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
    BringWindowToTop(hwnd);
    SetForegroundWindow(hwnd);
}

void Win32Platform::setWindowEnabled(WindowId window, bool on) {
    if (const HWND hwnd = ui_->windowHandle(window)) EnableWindow(hwnd, on ? TRUE : FALSE);
}

bool Win32Platform::windowEnabled(WindowId window) {
    const HWND hwnd = ui_->windowHandle(window);
    return hwnd != nullptr && IsWindowEnabled(hwnd);
}

void Win32Platform::setClientSize(WindowId window, int width, int height) {
    if (const HWND hwnd = ui_->windowHandle(window)) win32::setClientAreaSize(hwnd, width, height);
}

std::pair<int, int> Win32Platform::clientSize(WindowId window) {
    RECT client{};
    if (const HWND hwnd = ui_->windowHandle(window)) GetClientRect(hwnd, &client);
    return {client.right - client.left, client.bottom - client.top};
}

void Win32Platform::setWindowTitle(WindowId window, const Text& title) {
    if (const HWND hwnd = ui_->windowHandle(window)) SetWindowTextW(hwnd, wide(title));
}

void Win32Platform::startTimer(WindowId window, std::uint32_t milliseconds) {
    if (const HWND hwnd = ui_->windowHandle(window))
        SetTimer(hwnd, kTimerId, milliseconds, nullptr);
}

// ---- the seam: controls ----

ControlId Win32Platform::createControl(WindowId parent, const ControlSpec& params) {
    const HWND parentHwnd = ui_->windowHandle(parent);
    if (parentHwnd == nullptr) return 0;
    const ControlClass kind = controlClass(params);
    DWORD style = WS_CHILD | kind.style;
    if (params.visible) style |= WS_VISIBLE;
    if (!params.enabled) style |= WS_DISABLED;
    if (params.tabOrder >= 0) style |= WS_TABSTOP;
    const ControlId id = ui_->nextControl++;
    const auto childId = static_cast<UINT_PTR>(kFirstControlId + id % (0x10000 - kFirstControlId));
    const HWND hwnd =
        CreateWindowExW(kind.exStyle, kind.name, wide(params.caption), style, params.rect.left,
                        params.rect.top, params.rect.width, params.rect.height, parentHwnd,
                        reinterpret_cast<HMENU>(childId), GetModuleHandleW(nullptr), nullptr);
    if (hwnd == nullptr) return 0;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(ui_->font(params.font)), FALSE);
    ui_->controls[id] = Ui::Control{hwnd, parent, params};
    ui_->controlIds[hwnd] = id;
    if (params.kind == ControlKind::DropDownList) ui_->fitDropDownList(ui_->controls[id]);
    if (params.tabOrder >= 0) ui_->applyTabOrder(parent);
    return id;
}

void Win32Platform::destroyControl(ControlId control) {
    const auto found = ui_->controls.find(control);
    if (found == ui_->controls.end()) return;
    const HWND hwnd = found->second.hwnd;
    ui_->controlIds.erase(hwnd);
    ui_->controls.erase(found);
    DestroyWindow(hwnd);
}

void Win32Platform::setCaption(ControlId control, const Text& text) {
    if (const HWND hwnd = ui_->controlHandle(control)) SetWindowTextW(hwnd, wide(text));
}

Text Win32Platform::caption(ControlId control) {
    const HWND hwnd = ui_->controlHandle(control);
    return hwnd == nullptr ? Text() : windowText(hwnd);
}

void Win32Platform::setEnabled(ControlId control, bool on) {
    if (const HWND hwnd = ui_->controlHandle(control)) EnableWindow(hwnd, on ? TRUE : FALSE);
}

bool Win32Platform::enabled(ControlId control) {
    const HWND hwnd = ui_->controlHandle(control);
    return hwnd != nullptr && IsWindowEnabled(hwnd);
}

void Win32Platform::setVisible(ControlId control, bool visible) {
    if (const HWND hwnd = ui_->controlHandle(control))
        ShowWindow(hwnd, visible ? SW_SHOW : SW_HIDE);
}

void Win32Platform::setBounds(ControlId control, const Rect& rect) {
    const auto found = ui_->controls.find(control);
    if (found == ui_->controls.end()) return;
    // Drawn afresh: copied bits of the old place would mix with the new drawing, which paints
    // only the part that was not copied.
    SetWindowPos(found->second.hwnd, nullptr, rect.left, rect.top, rect.width, rect.height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    InvalidateRect(found->second.hwnd, nullptr, TRUE);
    if (found->second.params.kind == ControlKind::DropDownList) ui_->fitDropDownList(found->second);
}

Rect Win32Platform::bounds(ControlId control) {
    const HWND hwnd = ui_->controlHandle(control);
    if (hwnd == nullptr) return {};
    RECT frame{};
    GetWindowRect(hwnd, &frame);
    MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&frame), 2);
    return Rect{frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top};
}

void Win32Platform::setChecked(ControlId control, bool on) {
    if (const HWND hwnd = ui_->controlHandle(control))
        SendMessageW(hwnd, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32Platform::checked(ControlId control) {
    const HWND hwnd = ui_->controlHandle(control);
    return hwnd != nullptr && SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Platform::setItems(ControlId control, const std::vector<Text>& list) {
    const auto found = ui_->controls.find(control);
    if (found == ui_->controls.end()) return;
    const HWND hwnd = found->second.hwnd;
    SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
    SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
    for (const Text& item : list)
        SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item)));
    SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
    ui_->fitDropDownList(found->second);
    InvalidateRect(hwnd, nullptr, TRUE);
}

std::vector<Text> Win32Platform::items(ControlId control) {
    std::vector<Text> list;
    const HWND hwnd = ui_->controlHandle(control);
    if (hwnd == nullptr) return list;
    const auto count = SendMessageW(hwnd, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        const auto length = SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length < 0) {
            list.emplace_back();
            continue;
        }
        std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
        const auto copied = SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                         reinterpret_cast<LPARAM>(buffer.data()));
        list.push_back(
            fromWide(buffer.data(), static_cast<std::size_t>(std::max<LRESULT>(copied, 0))));
    }
    return list;
}

void Win32Platform::setSelectedIndex(ControlId control, int index) {
    if (const HWND hwnd = ui_->controlHandle(control))
        SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Platform::selectedIndex(ControlId control) {
    const HWND hwnd = ui_->controlHandle(control);
    if (hwnd == nullptr) return -1;
    const auto index = SendMessageW(hwnd, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

int Win32Platform::textWidth(ControlId control, const Text& text) {
    const HWND hwnd = ui_->controlHandle(control);
    if (hwnd == nullptr) return 0;
    const WindowDc dc(hwnd);
    if (dc.get() == nullptr) return 0;
    const auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = SelectObject(dc.get(), font);
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), wide(text), static_cast<int>(text.size()), &size);
    SelectObject(dc.get(), previous);
    return size.cx;
}

// ---- the message loop ----

namespace {

// Keyboard navigation (Tab, arrows, Enter, Esc) inside the program's windows; other messages are
// dispatched as usual.
void dispatch(const Win32Platform::Ui& ui, MSG& msg) {
    const HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && ui.windowIds.count(root) != 0 && IsDialogMessageW(root, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

int Win32Platform::runMessageLoop() {
    MSG msg{};
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        if (got == -1) return 1;
        dispatch(*ui_, msg);
    }
}

void Win32Platform::pumpPendingMessages() {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The quit request belongs to the outer loop: put it back and stop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        dispatch(*ui_, msg);
    }
}

void Win32Platform::postQuit() {
    PostQuitMessage(0);
}

int Win32Platform::messageBox(const Text& text, const Text& title, std::uint32_t flags) {
    const KeepDisabled keep(ui_->windowsEnabled(false));
    return MessageBoxW(ui_->mainWindow(), wide(text), wide(title), flags);
}

}  // namespace qel
