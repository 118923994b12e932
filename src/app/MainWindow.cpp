#include "app/MainWindow.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "app/DisabledWhileInScope.h"
#include "app/ExtractionRun.h"
#include "app/GetSevenZipFile.h"
#include "disk/DeviceQueries.h"
#include "disk/DriveList.h"
#include "run/WorkFolder.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

constexpr int kDesignDpi = 96;
constexpr int kWindowFontHeight = -11;
constexpr int kControlFontHeight = -13;
constexpr std::uint32_t kLinkBlue = 0xFF0000;  // COLORREF 0x00BBGGRR
constexpr std::uint32_t kTimerMilliseconds = 1000;
constexpr int kProgressLabelWidth = 97;  // at 96 pixels per inch
constexpr int kLabel1FontHeight = -13;   // Label1's font, at 96 pixels per inch

// One control of the designed window, at 96 pixels per inch.
struct DesignedControl {
    ControlId MainWindow::*field;
    ControlKind kind;
    const char16_t* caption;
    Rect rect;
    int tabOrder;
    bool ansiCharset;
    TextAlign align;
};

// clang-format off
const DesignedControl kDesignedControls[] = {
    // field                  kind                        designed caption                       left, top, width, height tab ANSI   alignment
    {&MainWindow::Label1,     ControlKind::Label,         u"Select the drive to extract files:", {8, 10, 179, 16},    -1, true,  TextAlign::Left},
    {&MainWindow::Label3,     ControlKind::Label,         u"VI",                                 {229, 10, 12, 16},   -1, false, TextAlign::Right},
    {&MainWindow::ComboBox1,  ControlKind::DropDownList,  u"",                                   {8, 32, 177, 24},     0, false, TextAlign::Left},
    {&MainWindow::Button1,    ControlKind::Button,        u"OK",                                 {192, 32, 49, 25},    1, false, TextAlign::Centre},
    {&MainWindow::CheckBox3,  ControlKind::CheckBox,      u"Using HDD",                          {8, 63, 233, 17},     6, true,  TextAlign::Left},
    {&MainWindow::CheckBox1,  ControlKind::CheckBox,      u"Format to FAT32",                    {8, 86, 233, 17},     2, true,  TextAlign::Left},
    {&MainWindow::CheckBox2,  ControlKind::CheckBox,      u"Auto install bootloader",            {8, 108, 233, 20},    5, true,  TextAlign::Left},
    {&MainWindow::Button2,    ControlKind::Button,        u"Get 7-Zip file",                     {8, 134, 113, 25},    3, false, TextAlign::Centre},
    {&MainWindow::Button3,    ControlKind::Button,        u"AutoPartition",                      {127, 134, 115, 25},  4, false, TextAlign::Centre},
    {&MainWindow::Label2,     ControlKind::Label,         kVersionText,                          {189, 165, 52, 16},  -1, false, TextAlign::Right},
};
// clang-format on

// MulDiv: value × numerator ÷ denominator, rounded to the nearest integer, halves away from zero.
int mulDiv(int value, int numerator, int denominator) {
    const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    const std::int64_t magnitude = (product < 0 ? -product : product) + denominator / 2;
    const auto rounded = static_cast<int>(magnitude / denominator);
    return product < 0 ? -rounded : rounded;
}

// Right-aligned labels size themselves to their caption, as labels of the designed window do: a
// caption wider than the designed rectangle widens it to the left, so that its right edge stays;
// a caption that fits keeps the designed width. Top and height stay as they are.
void fitRightAlignedLabel(MainWindow& form, const DesignedControl& designed) {
    const ControlId label = form.*designed.field;
    const int designedWidth = form.scaledPixels(designed.rect.width);
    const int designedRight = form.scaledPixels(designed.rect.left) + designedWidth;
    Rect rect = form.sys.bounds(label);
    rect.width = std::max(designedWidth, form.sys.textWidth(label, form.sys.caption(label)));
    rect.left = designedRight - rect.width;
    form.sys.setBounds(label, rect);
}

// The language link and the version label, fitted after every change of the captions.
void fitCaptionLabels(MainWindow& form) {
    for (const auto& designed : kDesignedControls)
        if (designed.kind == ControlKind::Label && designed.align == TextAlign::Right)
            fitRightAlignedLabel(form, designed);
}

}  // namespace

MainWindow::MainWindow(Platform& platform) : sys(platform) {}

MainWindow::~MainWindow() {
    sys.setEventSink(nullptr);
}

int MainWindow::scaled(int designed) const {
    return mulDiv(designed, dpi_, kDesignDpi);
}

void MainWindow::create() {
    dpi_ = sys.screenDpi();
    sys.setEventSink(this);

    WindowSpec window;
    window.title = kWindowTitle;
    window.clientWidth = scaled(249);
    window.clientHeight = scaled(187);
    window.font.height = scaled(kWindowFontHeight);
    window.minimizeBox = true;
    window.taskbarTitle = kApplicationTitle;
    Form1 = sys.createWindow(window);

    for (const auto& designed : kDesignedControls) {
        ControlSpec params;
        params.kind = designed.kind;
        params.caption = designed.caption;
        params.rect = {scaled(designed.rect.left), scaled(designed.rect.top),
                       scaled(designed.rect.width), scaled(designed.rect.height)};
        params.font.height = scaled(kControlFontHeight);
        params.font.ansiCharset = designed.ansiCharset;
        params.tabOrder = designed.tabOrder;
        params.align = designed.align;
        if (designed.field == &MainWindow::Label3) {  // the language link
            params.font.color = kLinkBlue;
            params.font.underline = true;
            params.handCursor = true;
        }
        params.wordWrap = designed.field == &MainWindow::CheckBox2;
        this->*designed.field = sys.createControl(Form1, params);
    }
    setTickedSilently(CheckBox2, true);

    guarded([this] { FormCreate(); });
    sys.showWindow(Form1);
    sys.startTimer(Form1, kTimerMilliseconds);
}

// ---- ticks and the event boundary ------------------------------------------------------------

void MainWindow::setTicked(ControlId box, bool isTicked) {
    if (sys.checked(box) == isTicked) return;
    sys.setChecked(box, isTicked);
    runCheckBoxHandler(box);
}

void MainWindow::setTickedSilently(ControlId box, bool isTicked) {
    sys.setChecked(box, isTicked);
}

void MainWindow::runCheckBoxHandler(ControlId box) {
    if (box == CheckBox1) {
        CheckBox1Click();
    } else if (box == CheckBox2) {
        CheckBox2Click();
    } else if (const auto found = extraClickHandlers.find(box); found != extraClickHandlers.end()) {
        const auto handler = found->second;  // the handler may change the map
        handler();
    }
}

bool MainWindow::isCheckBox(ControlId control) const {
    return control == CheckBox1 || control == CheckBox2 || control == CheckBox3 ||
           extraCheckBoxes.count(control) != 0;
}

void MainWindow::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const UnexpectedError& error) {
        sys.messageBox(error.message(), kApplicationTitle, win::MB_ICONERROR);
    } catch (const std::exception& error) {
        sys.messageBox(fromUtf8(error.what()), kApplicationTitle, win::MB_ICONERROR);
    }
}

void MainWindow::onClick(ControlId control) {
    guarded([this, control] {
        if (isCheckBox(control)) {
            setTicked(control, !ticked(control));  // the boxes do not tick themselves
        } else if (control == Button1) {
            Button1Click();
        } else if (control == Button2) {
            Button2Click();
        } else if (control == Button3) {
            Button3Click();
        } else if (control == Label3) {
            Label3Click();
        } else if (const auto found = extraClickHandlers.find(control);
                   found != extraClickHandlers.end()) {
            const auto handler = found->second;
            handler();
        }
    });
}

void MainWindow::onSelectionChange(ControlId control) {
    if (control == ComboBox1) guarded([this] { ComboBox1Change(); });
}

void MainWindow::onTimer(WindowId window) {
    if (window == Form1) guarded([this] { Timer1Timer(); });
}

void MainWindow::onClose(WindowId window) {
    if (window == Form1) {
        sys.postQuit();  // closing the main window ends the program
    } else if (const auto found = extraCloseHandlers.find(window);
               found != extraCloseHandlers.end()) {
        const auto handler = found->second;
        guarded(handler);
    }
}

// ---- the chooser -----------------------------------------------------------------------------

Text MainWindow::chooserText() {
    const auto list = sys.items(ComboBox1);
    const int index = sys.selectedIndex(ComboBox1);
    if (index < 0 || index >= static_cast<int>(list.size())) return {};
    return list[static_cast<std::size_t>(index)];
}

Text MainWindow::chosenDriveRoot() {
    const Text text = chooserText();
    if (text.empty()) return {};
    return Text(1, text.front()) + u":";
}

// ---- handlers --------------------------------------------------------------------------------

void MainWindow::FormCreate() {
    const Text workBase = WorkBase(sys);
    if (directoryExists(sys, WorkFolder(workBase))) DeleteWorkFolder(sys, Form1, workBase);
    Label3Click();
    refreshDriveList();
    itemindex = sys.selectedIndex(ComboBox1);
    context.systemDrive = sys.environmentVariable(u"SYSTEMDRIVE").value_or(Text());
    settleSystemPaths();
    fitWindowToControls();
}

void MainWindow::settleSystemPaths() {
    // A 32-bit program on 64-bit Windows reaches the system's own tools through Sysnative.
    const bool redirected = IsWow64(sys) && sys.windowsVersion().major >= 6;
    const Text& sysdrive = context.systemDrive;
    context.systemDir = redirected ? u"Sysnative" : u"System32";
    context.formatPath = sysdrive + u"\\Windows\\" + context.systemDir + u"\\format.com";
    if (directoryExists(sys, sysdrive + u"\\I386\\System32"))
        context.formatPath = sysdrive + u"\\I386\\System32\\format.com";
}

void MainWindow::fitWindowToControls() {
    const int clientWidth = sys.clientSize(Form1).first;
    Rect checkBox1 = sys.bounds(CheckBox1);
    checkBox1.width = clientWidth - 8;
    sys.setBounds(CheckBox1, checkBox1);
    const Rect button2 = sys.bounds(Button2);
    const Rect button3 = sys.bounds(Button3);
    Rect label2 = sys.bounds(Label2);
    label2.top = button3.bottom() + 8;
    sys.setBounds(Label2, label2);
    sys.setClientSize(Form1, button3.right() + button2.left, label2.bottom() + 8);
}

// Rewrites the chooser only when the eligible drives' items differ from what it shows, then
// selects the last removable drive and applies the format-option rule.
void MainWindow::refreshDriveList() {
    const DriveListing listing = ListEligibleDrives(sys, ticked(CheckBox3));
    if (listing.items == sys.items(ComboBox1)) return;  // unchanged: the user's selection stays
    sys.setItems(ComboBox1, listing.items);
    if (!listing.items.empty()) {  // an empty list leaves "Format to FAT32" as it is
        sys.setSelectedIndex(ComboBox1, listing.selected);
        applyFormatOptionRule();
    }
    // A rewritten list moves the selection; the remembered index follows it, so that picking
    // another entry afterwards is always seen as a change.
    itemindex = sys.selectedIndex(ComboBox1);
}

void MainWindow::Timer1Timer() {
    if (!repartition.isOpen() && sys.enabled(Button1)) refreshDriveList();
    if (repartition.isOpen() && sys.windowEnabled(repartition.controls().window))
        repartition.refreshDiskList();
}

void MainWindow::ComboBox1Change() {
    const int index = sys.selectedIndex(ComboBox1);
    if (index == itemindex) return;
    setTicked(CheckBox1, false);
    applyFormatOptionRule();
    itemindex = index;
}

void MainWindow::applyFormatOptionRule() {
    const bool allowed = FormatOptionAllowed(sys, chosenDriveRoot());
    if (!allowed) setTicked(CheckBox1, false);  // a disabled option must not stay ticked
    sys.setEnabled(CheckBox1, allowed);
}

void MainWindow::CheckBox1Click() {
    if (chooserText().empty()) {
        setTicked(CheckBox1, false);
        return;
    }
    applyFormatOptionRule();
    if (!ticked(CheckBox1)) return;
    const Text warning = formatText(texts.llwarn, chosenDriveRoot());
    if (LangMessageDlg(sys, texts, warning, DialogKind::Warning, kButtonsOkCancel,
                       {u"OK", texts.lcancel}) == kResultCancel)
        setTicked(CheckBox1, false);
}

void MainWindow::CheckBox2Click() {
    if (!ticked(CheckBox2)) return;
    const Text notice = texts.lang == u"vi" ? u"Công cụ này sẽ tự động cài đặt Grub2, Syslinux và "
                                              u"Clover [chỉ FAT32] trên ổ đĩa này!"
                                            : u"We will automatically install Grub2, Syslinux and "
                                              u"Clover [FAT32 only] on this drive!";
    if (LangMessageDlg(sys, texts, notice, DialogKind::Information, kButtonsOkCancel,
                       {u"OK", texts.lcancel}) == kResultCancel)
        setTicked(CheckBox2, false);
}

void MainWindow::Label3Click() {
    const Text lang = sys.caption(Label3) == u"VI" ? u"vi" : u"en";
    applyLanguage(texts, lang);
    const LanguageCaptions captions = captionsFor(lang);
    sys.setCaption(Label1, captions.label1);
    sys.setCaption(Label3, captions.label3);
    sys.setCaption(Button2, captions.button2);
    sys.setCaption(Button3, captions.button3);
    sys.setCaption(CheckBox2, captions.checkBox2);
    sys.setCaption(CheckBox3, captions.checkBox3);
    sys.setCaption(CheckBox1, texts.lautoformat);
    fitCaptionLabels(*this);
}

void MainWindow::Button2Click() {
    // The button takes no second press while the archive is written.
    const DisabledControl button(sys, Button2);
    SaveSevenZipFile(context);
}

void MainWindow::Button3Click() {
    repartition.open();
}

void MainWindow::Button1Click() {
    const Text driveRoot = chosenDriveRoot();
    if (driveRoot.empty()) return;
    // "OK" stays disabled for the whole run, so that the run cannot start again while it pumps
    // messages, and the drive chooser is not refreshed under it.
    const DisabledControl okButton(sys, Button1);
    RunExtraction(context, *this, driveRoot);
}

// ---- the view of the runs --------------------------------------------------------------------

int MainWindow::ask(const Text& message, DialogKind kind, int buttons,
                    const std::vector<Text>& captions) {
    return LangMessageDlg(sys, texts, message, kind, buttons, captions);
}

void MainWindow::showSupportError() {
    ShowSupportError(sys, texts);
}

void MainWindow::tell(const Text& text, const Text& caption, std::uint32_t flags) {
    sys.messageBox(text, caption, flags);
}

void MainWindow::showOptionCaption(RunOption option, const Text& caption) {
    sys.setCaption(optionBox(option), caption);
}

// The progress label is built on first use, below "Get 7-Zip file" and level with the version
// label.
void MainWindow::showProgress(const Text& caption) {
    if (Label2V != 0) {
        sys.setCaption(Label2V, caption);
        sys.setVisible(Label2V, true);
        return;
    }
    ControlSpec label;
    label.kind = ControlKind::Label;
    label.caption = caption;
    label.rect = {sys.bounds(Button2).left, sys.bounds(Label2).top, scaled(kProgressLabelWidth),
                  sys.bounds(Label1).height};
    label.font.height = scaled(kLabel1FontHeight);
    Label2V = sys.createControl(Form1, label);
}

void MainWindow::hideProgress() {
    if (Label2V != 0) sys.setVisible(Label2V, false);
}

void MainWindow::showStatus(const Text& caption) {
    sys.setCaption(Label2, caption);
}

void MainWindow::setInputEnabled(bool enabled) {
    sys.setWindowEnabled(Form1, enabled);
}

// ---- the repartition window's host -----------------------------------------------------------

ReferenceHeights MainWindow::referenceHeights() {
    return {sys.bounds(CheckBox1).height, sys.bounds(ComboBox1).height, sys.bounds(Button1).height,
            sys.bounds(Label1).height};
}

void MainWindow::bindCheckBox(ControlId box, std::function<void()> handler) {
    extraCheckBoxes.insert(box);
    extraClickHandlers[box] = std::move(handler);
}

void MainWindow::bindClick(ControlId control, std::function<void()> handler) {
    extraClickHandlers[control] = std::move(handler);
}

void MainWindow::bindClose(WindowId window, std::function<void()> handler) {
    extraCloseHandlers[window] = std::move(handler);
}

void MainWindow::unbind(ControlId control) {
    extraCheckBoxes.erase(control);
    extraClickHandlers.erase(control);
}

}  // namespace qel
