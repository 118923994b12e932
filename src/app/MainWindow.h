// The main window "QEL Ruru Zudererod" (TForm1): its controls, fields and event handlers.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>

#include "platform/Platform.h"
#include "texts/TextTable.h"

namespace qel {

class RepartitionWindow;

inline constexpr const char16_t* kApplicationTitle = u"QEL Duzu";
inline constexpr const char16_t* kWindowTitle = u"QEL Ruru Zudererod";
inline constexpr const char16_t* kVersionText = u"v0.9.5.16";

class MainWindow : public EventSink {
public:
    explicit MainWindow(Platform& sys);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Builds the window and its controls at the designed layout (scaled to the screen's DPI),
    // runs FormCreate and shows the window with its timer running.
    void create();

    Platform& sys;
    TextTable texts;  // lang and every l… field

    // The window and its controls (ids of the seam).
    WindowId Form1 = 0;
    ControlId Label1 = 0, Label3 = 0, ComboBox1 = 0, Button1 = 0, CheckBox3 = 0, CheckBox1 = 0,
              CheckBox2 = 0, Button2 = 0, Button3 = 0, Label2 = 0;
    ControlId Label2V = 0;  // the progress label of an extraction run; 0 until created

    // Private fields of TForm1.
    Text formatpath;
    Text sysdrive;
    Text sysdir;
    int itemindex = -1;
    std::unique_ptr<RepartitionWindow> Form2;  // the repartition window while it exists

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

    // The repartition window's share of the timer: refreshes its disk list. Called by Timer1Timer
    // while that window exists and is enabled; defined with the repartition window.
    void refreshRepartitionDiskList();

    // The chooser's text: its selected item ("" when nothing is selected).
    Text chooserText();
    // The format-option rule: "Format to FAT32" is enabled unless the chosen drive is the system
    // drive or the drive of the current directory; when disabled it is also cleared.
    void applyFormatOptionRule();

    // The drive root of the chooser's current text: its first character and ":" ("" if empty).
    Text chosenDriveRoot();

    // A designed measure at 96 pixels per inch, scaled to the screen (windows built at run time).
    int scaledPixels(int designed) const { return scaled(designed); }

private:
    void runCheckBoxHandler(ControlId box);
    bool isCheckBox(ControlId control) const;
    void refreshDriveList();
    void settleSystemPaths();
    void fitWindowToControls();
    int scaled(int designed) const;  // from 96 pixels per inch to the screen's density
    int dpi_ = 96;
};

}  // namespace qel
