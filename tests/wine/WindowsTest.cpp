// Windows and controls of the seam against the real window manager: their state, the events
// they report and the boundary that keeps a handler's exception out of Windows' frames.

#include <stdexcept>

#include "WineTestSupport.h"

#include <gtest/gtest.h>

namespace qel {
namespace {

using wine_test::pumpUntil;
using wine_test::RecordingSink;

class Win32Windows : public ::testing::Test {
protected:
    void SetUp() override {
        sys.setEventSink(&sink);
        WindowSpec params;
        params.title = u"QEL test window";
        params.clientWidth = 249;
        params.clientHeight = 187;
        params.minimizeBox = true;
        window = sys.createWindow(params);
        ASSERT_NE(window, 0u);
    }

    ControlId add(ControlKind kind, const Text& caption, Rect rect, int tabOrder = -1) {
        ControlSpec params;
        params.kind = kind;
        params.caption = caption;
        params.rect = rect;
        params.tabOrder = tabOrder;
        return sys.createControl(window, params);
    }

    HWND hwndOf(ControlId control) { return reinterpret_cast<HWND>(sys.nativeControl(control)); }
    HWND windowHwnd() { return reinterpret_cast<HWND>(sys.nativeWindow(window)); }

    Win32Platform sys;
    RecordingSink sink;
    WindowId window = 0;
};

TEST_F(Win32Windows, ClientSizeIsExactAtCreationAndAfterResizing) {
    EXPECT_EQ(sys.clientSize(window), std::make_pair(249, 187));
    sys.setClientSize(window, 250, 191);
    EXPECT_EQ(sys.clientSize(window), std::make_pair(250, 191));
    sys.setWindowTitle(window, u"Tiêu đề");
    wchar_t title[32] = {};
    GetWindowTextW(windowHwnd(), title, 32);
    EXPECT_EQ(win32::fromWide(title), u"Tiêu đề");
    const LONG style = GetWindowLongW(windowHwnd(), GWL_STYLE);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);  // a fixed single border
}

TEST_F(Win32Windows, ControlsKeepTheirCaptionsBoundsAndStates) {
    const ControlId label = add(ControlKind::Label, u"Chọn ổ đĩa", {8, 10, 179, 16});
    const ControlId button = add(ControlKind::Button, u"OK", {192, 32, 49, 25}, 1);
    ControlSpec editSpec;
    editSpec.kind = ControlKind::Edit;
    editSpec.caption = u"512";
    editSpec.rect = {8, 60, 60, 21};
    editSpec.digitsOnly = true;
    editSpec.align = TextAlign::Right;
    const ControlId edit = sys.createControl(window, editSpec);

    EXPECT_EQ(sys.caption(label), u"Chọn ổ đĩa");
    sys.setCaption(label, u"Select the drive");
    EXPECT_EQ(sys.caption(label), u"Select the drive");
    EXPECT_EQ(sys.bounds(button), (Rect{192, 32, 49, 25}));
    sys.setBounds(button, {10, 20, 60, 30});
    EXPECT_EQ(sys.bounds(button), (Rect{10, 20, 60, 30}));
    sys.setEnabled(button, false);
    EXPECT_FALSE(sys.enabled(button));
    sys.setVisible(label, false);
    EXPECT_FALSE(IsWindowVisible(hwndOf(label)));
    EXPECT_EQ(sys.caption(edit), u"512");
    EXPECT_EQ(GetWindowLongW(hwndOf(edit), GWL_STYLE) & (ES_NUMBER | ES_RIGHT),
              ES_NUMBER | ES_RIGHT);
    EXPECT_GT(sys.textWidth(label, u"a much longer text"), sys.textWidth(label, u"short"));

    sys.setWindowEnabled(window, false);
    EXPECT_FALSE(sys.windowEnabled(window));
    sys.setWindowEnabled(window, true);
    EXPECT_TRUE(sys.windowEnabled(window));
    EXPECT_GE(sys.screenDpi(), 72);
}

// Columns holding ink in the rows above the underline of a text drawn at the top of a bitmap.
int inkedColumns(HDC dc, int width, int rows) {
    const COLORREF background = GetPixel(dc, 0, 0);
    int columns = 0;
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < rows; ++y)
            if (GetPixel(dc, x, y) != background) {
                ++columns;
                break;
            }
    return columns;
}

// A bitmap of the screen's kind to draw or copy into.
struct Canvas {
    Canvas(int width, int height)
        : screen(GetDC(nullptr)),
          dc(CreateCompatibleDC(screen)),
          bitmap(CreateCompatibleBitmap(screen, width, height)),
          previous(SelectObject(dc, bitmap)) {
        RECT all{0, 0, width, height};
        FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }
    HDC screen;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
};

// A right-aligned link refitted to its caption after each change, as the language link is,
// draws the whole caption on one line, as wide as the same text drawn freely in its font.
TEST_F(Win32Windows, ALinkFittedToItsCaptionDrawsAllOfIt) {
    ControlSpec link;
    link.kind = ControlKind::Label;
    link.caption = u"VI";
    link.rect = {229, 10, 12, 16};
    link.align = TextAlign::Right;
    link.handCursor = true;
    link.font.underline = true;
    link.font.color = 0xFF0000;
    const ControlId label = sys.createControl(window, link);
    sys.showWindow(window);
    for (const Text caption : {u"EN", u"VI", u"EN", u"VI"}) {
        SCOPED_TRACE(toUtf8(caption));
        sys.setCaption(label, caption);
        const int width = std::max(12, sys.textWidth(label, caption));
        sys.setBounds(label, {241 - width, 10, width, 16});
        UpdateWindow(windowHwnd());

        constexpr int kTextRows = 11;  // the underline lies below them
        Canvas drawn(width, 16);
        const HDC labelDc = GetDC(hwndOf(label));
        BitBlt(drawn.dc, 0, 0, width, 16, labelDc, 0, 0, SRCCOPY);
        ReleaseDC(hwndOf(label), labelDc);
        Canvas free(100, 16);
        const auto font = reinterpret_cast<HFONT>(SendMessageW(hwndOf(label), WM_GETFONT, 0, 0));
        const HGDIOBJ previous = SelectObject(free.dc, font);
        SetBkMode(free.dc, TRANSPARENT);
        RECT line{0, 0, 100, 16};
        DrawTextW(free.dc, win32::wide(caption), -1, &line, DT_SINGLELINE);
        SelectObject(free.dc, previous);
        EXPECT_EQ(inkedColumns(drawn.dc, width, kTextRows), inkedColumns(free.dc, 100, kTextRows));
    }
}

TEST_F(Win32Windows, ACheckBoxReportsClicksButLeavesItsTickToTheProgram) {
    const ControlId box = add(ControlKind::CheckBox, u"Format to FAT32", {8, 86, 233, 17}, 2);
    SendMessageW(hwndOf(box), BM_CLICK, 0, 0);
    ASSERT_EQ(sink.clicks, std::vector<ControlId>{box});
    EXPECT_FALSE(sys.checked(box));
    sys.setChecked(box, true);
    EXPECT_TRUE(sys.checked(box));
    EXPECT_EQ(sink.clicks.size(), 1u);  // the program's own change reports nothing
}

TEST_F(Win32Windows, DropDownListItemsSelectionAndTheUsersChoice) {
    const ControlId list = add(ControlKind::DropDownList, u"", {8, 32, 177, 24}, 0);
    sys.setItems(list, {u"E: [8 GB] FAT32", u"F: [16 GB] NTFS", u"G: [32 GB] exFAT"});
    EXPECT_EQ(sys.items(list),
              (std::vector<Text>{u"E: [8 GB] FAT32", u"F: [16 GB] NTFS", u"G: [32 GB] exFAT"}));
    EXPECT_EQ(sys.selectedIndex(list), -1);
    sys.setSelectedIndex(list, 1);
    EXPECT_EQ(sys.selectedIndex(list), 1);
    EXPECT_EQ(sys.caption(list), u"F: [16 GB] NTFS");
    EXPECT_TRUE(sink.selections.empty());  // a choice made by the program is not reported
    sys.setItems(list, {u"E: [8 GB] FAT32"});
    EXPECT_EQ(sys.selectedIndex(list), -1);

    // The dropped list has room for every item, however many there are.
    std::vector<Text> many;
    for (int drive = 0; drive < 15; ++drive) many.push_back(Text(1, u'E' + drive) + u": [8 GB]");
    sys.setItems(list, many);
    RECT dropped{};
    SendMessageW(hwndOf(list), CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    const auto itemHeight = SendMessageW(hwndOf(list), CB_GETITEMHEIGHT, 0, 0);
    EXPECT_GE(dropped.bottom - dropped.top, 15 * itemHeight);

    // The user's choice arrives as the list's selection-change notification.
    SendMessageW(windowHwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwndOf(list)), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(hwndOf(list)));
    EXPECT_EQ(sink.selections, std::vector<ControlId>{list});
    EXPECT_TRUE(sink.clicks.empty());
}

TEST_F(Win32Windows, TheLinkLabelIsClickableAndTabStopsFollowTheirOrder) {
    ControlSpec link;
    link.kind = ControlKind::Label;
    link.caption = u"EN";
    link.rect = {220, 10, 24, 16};
    link.handCursor = true;
    link.font.underline = true;
    link.font.color = 0xFF0000;
    const ControlId linkId = sys.createControl(window, link);
    const ControlId second = add(ControlKind::Button, u"second", {8, 100, 60, 25}, 1);
    const ControlId third = add(ControlKind::Button, u"third", {80, 100, 60, 25}, 2);
    const ControlId first = add(ControlKind::Button, u"first", {150, 100, 60, 25}, 0);
    add(ControlKind::Label, u"plain label", {8, 140, 100, 16});

    SendMessageW(hwndOf(linkId), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(hwndOf(linkId), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(sink.clicks, std::vector<ControlId>{linkId});

    // Blue, underlined, in the given font, with the hand cursor over it.
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hwndOf(linkId), WM_GETFONT, 0, 0)),
               sizeof(font), &font);
    EXPECT_TRUE(font.lfUnderline);
    EXPECT_EQ(font.lfHeight, -13);
    EXPECT_EQ(win32::fromWide(font.lfFaceName), u"Arial");
    const HDC dc = GetDC(hwndOf(linkId));
    SendMessageW(windowHwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(hwndOf(linkId)));
    EXPECT_EQ(GetTextColor(dc), static_cast<COLORREF>(0xFF0000));
    ReleaseDC(hwndOf(linkId), dc);
    EXPECT_TRUE(SendMessageW(windowHwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(hwndOf(linkId)),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

    const HWND parent = windowHwnd();
    EXPECT_EQ(GetNextDlgTabItem(parent, hwndOf(first), FALSE), hwndOf(second));
    EXPECT_EQ(GetNextDlgTabItem(parent, hwndOf(second), FALSE), hwndOf(third));
    EXPECT_EQ(GetNextDlgTabItem(parent, hwndOf(third), FALSE), hwndOf(first));
}

TEST_F(Win32Windows, TimerTicksAndTheCloseBoxGoToTheSink) {
    sys.showWindow(window);
    sys.startTimer(window, 20);
    ASSERT_TRUE(pumpUntil(sys, [&] { return sink.timers.size() >= 2; }));
    EXPECT_EQ(sink.timers.front(), window);

    PostMessageW(windowHwnd(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil(sys, [&] { return !sink.closes.empty(); }));
    EXPECT_EQ(sink.closes.front(), window);
    EXPECT_TRUE(IsWindow(windowHwnd()));  // the sink decides; this one did nothing

    const ControlId button = add(ControlKind::Button, u"OK", {8, 8, 50, 25});
    sys.destroyWindow(window);
    EXPECT_EQ(sys.nativeWindow(window), 0u);
    EXPECT_EQ(sys.nativeControl(button), 0u);
    EXPECT_EQ(sys.caption(button), Text());
    EXPECT_EQ(sys.clientSize(window), std::make_pair(0, 0));
}

TEST_F(Win32Windows, AMinimisedWindowComesBackToTheFrontAndAControlGoes) {
    sys.showWindow(window);
    ShowWindow(windowHwnd(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(windowHwnd()));
    sys.bringToFront(window);
    EXPECT_FALSE(IsIconic(windowHwnd()));

    const ControlId button = add(ControlKind::Button, u"OK", {8, 8, 50, 25});
    const HWND hwnd = hwndOf(button);
    sys.destroyControl(button);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(sys.nativeControl(button), 0u);
    EXPECT_EQ(sys.caption(button), Text());
}

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

// The windows that get an entry on the taskbar: shown, no tool windows, and without owner
// unless they ask for an entry.
std::vector<Text> taskbarEntries() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    std::vector<Text> titles;
    for (const HWND hwnd : windows) {
        const LONG exStyle = GetWindowLongW(hwnd, GWL_EXSTYLE);
        if (!IsWindowVisible(hwnd) || (exStyle & WS_EX_TOOLWINDOW) != 0) continue;
        if (GetWindow(hwnd, GW_OWNER) != nullptr && (exStyle & WS_EX_APPWINDOW) == 0) continue;
        wchar_t title[64] = {};
        GetWindowTextW(hwnd, title, 64);
        titles.push_back(win32::fromWide(title));
    }
    return titles;
}

TEST_F(Win32Windows, TheTaskbarEntryCarriesTheProgramsTitleAndMinimisesTheWindow) {
    sys.destroyWindow(window);
    WindowSpec params;
    params.title = u"QEL Ruru Zudererod";
    params.taskbarTitle = u"QEL Duzu";
    params.clientWidth = 249;
    params.clientHeight = 187;
    params.minimizeBox = true;
    window = sys.createWindow(params);
    sys.showWindow(window);
    EXPECT_EQ(taskbarEntries(), std::vector<Text>{u"QEL Duzu"});
    wchar_t caption[64] = {};
    GetWindowTextW(windowHwnd(), caption, 64);
    EXPECT_EQ(win32::fromWide(caption), u"QEL Ruru Zudererod");
    const HWND entry = GetWindow(windowHwnd(), GW_OWNER);
    RECT frame{};
    GetWindowRect(entry, &frame);
    EXPECT_EQ(frame.right - frame.left, 0);  // nothing of it shows on the screen

    SendMessageW(windowHwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(entry));
    EXPECT_FALSE(IsWindowVisible(windowHwnd()));
    ShowWindow(entry, SW_RESTORE);
    EXPECT_TRUE(IsWindowVisible(windowHwnd()));

    SendMessageW(entry, WM_CLOSE, 0, 0);  // closing the entry asks the window
    ASSERT_TRUE(pumpUntil(sys, [&] { return !sink.closes.empty(); }));
    EXPECT_EQ(sink.closes.front(), window);
    sys.destroyWindow(window);
    EXPECT_TRUE(taskbarEntries().empty());
}

TEST_F(Win32Windows, AQuitRequestSurvivesTheNestedPump) {
    sys.postQuit();
    sys.pumpPendingMessages();  // the pump while a child runs must leave the request in place
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
}

TEST_F(Win32Windows, AnExceptionFromAHandlerStopsAtTheWindowProcedure) {
    const ControlId button = add(ControlKind::Button, u"Throw", {8, 8, 80, 25});
    sink.onClickAction = [] { throw std::runtime_error("handler failure"); };
    SendMessageW(hwndOf(button), BM_CLICK, 0, 0);
    SendMessageW(hwndOf(button), BM_CLICK, 0, 0);
    EXPECT_EQ(sink.clicks.size(), 2u);  // still running, and the window still answers
}

}  // namespace
}  // namespace qel
