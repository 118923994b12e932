// The image machine's windows, controls and dialogs: kept in memory so that the window models
// run unchanged, and printed as text where the user would see them change.
#include <algorithm>

#include "ImageMachine.h"

namespace qel::image {

namespace {

std::string quoted(const Text& text) {
    return "\"" + toUtf8(text) + "\"";
}

const char* kindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
            return "label";
        case ControlKind::Button:
            return "button";
        case ControlKind::CheckBox:
            return "check box";
        case ControlKind::DropDownList:
            return "list";
        case ControlKind::Edit:
            return "edit box";
    }
    return "control";
}

const char* dialogKindName(DialogKind kind) {
    switch (kind) {
        case DialogKind::Warning:
            return "warning";
        case DialogKind::Error:
            return "error";
        case DialogKind::Information:
            return "information";
    }
    return "dialog";
}

// The message with every line indented under the dialog's heading.
std::string indented(const Text& message) {
    std::string out;
    std::string line;
    for (const char c : toUtf8(message)) {
        if (c == '\r') continue;
        if (c == '\n') {
            out += "    | " + line + "\n";
            line.clear();
        } else {
            line += c;
        }
    }
    return out + "    | " + line;
}

}  // namespace

Text ImageMachine::controlLabel(ControlId id) const {
    const auto& c = controls_.at(id);
    const auto& w = windows_.at(c.parent);
    return w.params.title + u" / " + ascii(kindName(c.params.kind));
}

WindowId ImageMachine::createWindow(const WindowSpec& params) {
    const WindowId id = nextUiId_++;
    windows_[id] = UiWindow{params, false, true, false, 0};
    return id;
}

void ImageMachine::showWindow(WindowId window) {
    auto& w = windows_.at(window);
    if (!w.shown) say("[window] " + quoted(w.params.title) + " shown");
    w.shown = true;
}

void ImageMachine::destroyWindow(WindowId window) {
    auto& w = windows_.at(window);
    w.destroyed = true;
    for (auto& [id, c] : controls_)
        if (c.parent == window) c.destroyed = true;
    say("[window] " + quoted(w.params.title) + " closed");
}

void ImageMachine::setWindowEnabled(WindowId window, bool enabled) {
    auto& w = windows_.at(window);
    if (w.enabled != enabled && w.shown)
        say("[window] " + quoted(w.params.title) + (enabled ? " enabled" : " disabled"));
    w.enabled = enabled;
}

void ImageMachine::setClientSize(WindowId window, int width, int height) {
    windows_.at(window).params.clientWidth = width;
    windows_.at(window).params.clientHeight = height;
}

std::pair<int, int> ImageMachine::clientSize(WindowId window) {
    const auto& params = windows_.at(window).params;
    return {params.clientWidth, params.clientHeight};
}

void ImageMachine::setWindowTitle(WindowId window, const Text& title) {
    windows_.at(window).params.title = title;
}

void ImageMachine::startTimer(WindowId window, std::uint32_t milliseconds) {
    windows_.at(window).timerMs = milliseconds;
}

ControlId ImageMachine::createControl(WindowId parent, const ControlSpec& params) {
    const ControlId id = nextUiId_++;
    UiControl c;
    c.parent = parent;
    c.params = params;
    controls_[id] = c;
    if (windows_.at(parent).shown && params.visible && !params.caption.empty())
        say("[" + toUtf8(controlLabel(id)) + "] " + quoted(params.caption));
    return id;
}

// Caption changes of a shown window are what the user watches during a run.
void ImageMachine::setCaption(ControlId control, const Text& caption) {
    auto& c = controls_.at(control);
    const bool changed = c.params.caption != caption;
    c.params.caption = caption;
    if (changed && windows_.at(c.parent).shown && c.params.visible &&
        c.params.kind != ControlKind::Edit)
        say("[" + toUtf8(controlLabel(control)) + "] " + quoted(caption));
}

void ImageMachine::setEnabled(ControlId control, bool enabled) {
    controls_.at(control).params.enabled = enabled;
}

void ImageMachine::setVisible(ControlId control, bool visible) {
    auto& c = controls_.at(control);
    if (c.params.visible && !visible && windows_.at(c.parent).shown)
        say("[" + toUtf8(controlLabel(control)) + "] hidden: " + quoted(c.params.caption));
    c.params.visible = visible;
}

void ImageMachine::setBounds(ControlId control, const Rect& rect) {
    controls_.at(control).params.rect = rect;
}

void ImageMachine::setChecked(ControlId control, bool checked) {
    auto& c = controls_.at(control);
    if (c.checked != checked && windows_.at(c.parent).shown)
        say("[" + toUtf8(controlLabel(control)) + "] " + quoted(c.params.caption) +
            (checked ? " ticked" : " cleared"));
    c.checked = checked;
}

void ImageMachine::setItems(ControlId control, const std::vector<Text>& items) {
    auto& c = controls_.at(control);
    c.items = items;
    c.selected = -1;
}

void ImageMachine::setSelectedIndex(ControlId control, int index) {
    auto& c = controls_.at(control);
    c.selected = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
}

// Arial at 13 pixels is about 7 pixels a character on average.
int ImageMachine::textWidth(ControlId, const Text& text) {
    return static_cast<int>(text.size()) * 7;
}

int ImageMachine::messageDialog(const DialogSpec& params) {
    int result = -1;
    const std::string answer =
        options_.answers.empty() ? options_.defaultAnswer : options_.answers.front();
    if (!options_.answers.empty()) options_.answers.pop_front();
    for (const auto& button : params.buttons)
        if (equalsIgnoreAsciiCase(button.caption, fromUtf8(answer)) ||
            std::to_string(button.result) == answer)
            result = button.result;
    if (result < 0) {
        const bool cancel = equalsIgnoreAsciiCase(fromUtf8(answer), u"Cancel") || answer == "2";
        result = cancel ? params.closeResult : params.defaultResult;
    }
    std::string buttons;
    std::string chosen = "closed";
    for (const auto& button : params.buttons) {
        buttons += " [" + toUtf8(button.caption) + "]";
        if (button.result == result) chosen = toUtf8(button.caption);
    }
    say("[dialog, " + std::string(dialogKindName(params.kind)) + "] " + quoted(params.title) +
        "\n" + indented(params.message) + "\n    buttons:" + buttons + " -> " + chosen);
    return result;
}

int ImageMachine::messageBox(const Text& text, const Text& caption, std::uint32_t flags) {
    const char* icon = (flags & 0xF0) == win::MB_ICONERROR         ? "error"
                       : (flags & 0xF0) == win::MB_ICONINFORMATION ? "information"
                                                                   : "plain";
    say("[message box, " + std::string(icon) + "] " + quoted(caption) + "\n" + indented(text) +
        "\n    buttons: [OK] -> OK");
    return 1;  // IDOK
}

void ImageMachine::postQuit() {
    if (quitRequests_++ == 0) say("[program] asked to end");
}

}  // namespace qel::image
