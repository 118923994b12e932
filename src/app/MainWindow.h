// The main window "QEL Ruru Zudererod" (TForm1): its controls, fields and event handlers. It binds
// events to handlers and is the view of the runs it starts; the runs themselves live beside it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>

#include "platform/Platform.h"
#include "repartition/RepartitionWindow.h"
#include "run/RunContext.h"
#include "run/RunView.h"
#include "texts/TextTable.h"

namespace qel {

inline constexpr const char16_t* kWindowTitle = u"QEL Ruru Zudererod";
inline constexpr const char16_t* kVersionText = u"v0.9.5.16";

class MainWindow : public EventSink, public RepartitionHost {
public:
    explicit MainWindow(Platform& sys);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Builds the window and its controls at the designed layout (scaled to the screen's DPI),
    // runs FormCreate and shows the window with its timer running.
    void create();

    Platform& sys;
    TextTable texts;                                // lang and every l… field
    RunContext context{sys, texts, {}, {}, {}};     // the system paths are found by FormCreate
    RepartitionWindow repartition{context, *this};  // Form2, open or not

    // The window and its controls (ids of the seam).
    WindowId Form1 = 0;
    ControlId Label1 = 0, Label3 = 0, ComboBox1 = 0, Button1 = 0, CheckBox3 = 0, CheckBox1 = 0,
              CheckBox2 = 0, Button2 = 0, Button3 = 0, Label2 = 0;
    ControlId Label2V = 0;  // the progress label of an extraction run; 0 until created

    // Private fields of TForm1.
    int itemindex = -1;

    // Event handlers.
    void FormCreate();
    void Timer1Timer();
    void ComboBox1Change();
    void CheckBox1Click();
    void CheckBox2Click();
    void Label3Click();   // the language switch
    void Button1Click();  // OK: the extraction run
    void Button2Click();  // Get 7-Zip file
    void Button3Click();  // AutoPartition

    // A check box's click handler runs whenever its tick changes, also when the program changes
    // it. setTicked is the one way the program changes a tick; setTickedSilently changes it
    // without running the handler, where the program must not.
    void setTicked(ControlId box, bool ticked);
    void setTickedSilently(ControlId box, bool ticked);
    bool ticked(ControlId box) { return sys.checked(box); }

    // Runs a handler at the boundary of a window event: an unexpected error that got through the
    // handler's own clean-up is shown in a message box and goes no further.
    void guarded(const std::function<void()>& handler);

    // EventSink: events from the message loop.
    void onClick(ControlId control) override;
    void onSelectionChange(ControlId control) override;
    void onTimer(WindowId window) override;
    void onClose(WindowId window) override;

    // Handlers bound to controls of run-time built windows (the repartition window). A check box
    // listed in extraCheckBoxes is toggled by a click and its handler runs on every tick change.
    std::map<ControlId, std::function<void()>> extraClickHandlers;
    std::set<ControlId> extraCheckBoxes;
    std::map<WindowId, std::function<void()>> extraCloseHandlers;

    // The chooser's text: its selected item ("" when nothing is selected).
    Text chooserText();
    // The format-option rule: "Format to FAT32" is enabled unless the chosen drive is the system
    // drive or the drive of the current directory; when disabled it is also cleared.
    void applyFormatOptionRule();

    // The drive root of the chooser's current text: its first character and ":" ("" if empty).
    Text chosenDriveRoot();

    // RunView: what the runs started here show and ask.
    int ask(const Text& message, DialogKind kind, int buttons,
            const std::vector<Text>& captions) override;
    void showSupportError() override;
    void tell(const Text& text, const Text& caption, std::uint32_t flags) override;
    bool ticked(RunOption option) override { return ticked(optionBox(option)); }
    void setTicked(RunOption option, bool isTicked) override {
        setTicked(optionBox(option), isTicked);
    }
    void showOptionCaption(RunOption option, const Text& caption) override;
    void showProgress(const Text& caption) override;
    void hideProgress() override;
    void showStatus(const Text& caption) override;
    void setInputEnabled(bool enabled) override;
    WindowId owner() override { return Form1; }
    void offerRepartition() override { Button3Click(); }

    // RepartitionHost: what the repartition window needs from this window.
    int scaledPixels(int designed) const override { return scaled(designed); }
    ReferenceHeights referenceHeights() override;
    Text repartitionTitle() override { return sys.caption(Button3); }
    void bindCheckBox(ControlId box, std::function<void()> handler) override;
    void bindClick(ControlId control, std::function<void()> handler) override;
    void bindClose(WindowId window, std::function<void()> handler) override;
    void unbind(ControlId control) override;
    void unbindClose(WindowId window) override { extraCloseHandlers.erase(window); }
    void setBoxTicked(ControlId box, bool isTicked) override { setTicked(box, isTicked); }

private:
    ControlId optionBox(RunOption option) const {
        return option == RunOption::Format ? CheckBox1 : CheckBox2;
    }
    void runCheckBoxHandler(ControlId box);
    bool isCheckBox(ControlId control) const;
    void refreshDriveList();
    void settleSystemPaths();
    void fitWindowToControls();
    int scaled(int designed) const;  // from 96 pixels per inch to the screen's density
    int dpi_ = 96;
};

}  // namespace qel
