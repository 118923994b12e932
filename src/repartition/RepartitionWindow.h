// The AutoPartition window (Form2): built at run time over the main window, it lists the removable
// disks and the partition layouts and starts the repartition run.
#pragma once

#include <functional>
#include <vector>

#include "platform/Platform.h"
#include "run/RunContext.h"
#include "run/RunView.h"

namespace qel {

// The window and its controls while it exists.
struct RepartitionControls {
    WindowId window = 0;        // the window itself
    ControlId Label1F2 = 0;     // heading
    ControlId ComboBox1F2 = 0;  // the removable disks
    ControlId CheckBox1F2 = 0;  // layout: one FAT32 partition
    ControlId CheckBox2F2 = 0;  // layout: NTFS plus a hidden FAT32 partition
    ControlId Label3F2 = 0;     // "FAT32 Size"
    ControlId ComboBox2F2 = 0;  // unit of the size: "MB" or "GB"
    ControlId Edit1V = 0;       // size of the FAT32 partition of the two-partition layout
    ControlId CheckBox3F2 = 0;  // clean the disk first
    ControlId Button1F2 = 0;    // "OK": starts the repartition run
    ControlId Label2F2 = 0;     // the run's progress line; created by the run
};

// Heights of the main window's controls that the window's controls take as their own.
struct ReferenceHeights {
    int option = 0;   // "Format to FAT32"
    int chooser = 0;  // the drive chooser
    int button = 0;   // "OK"
    int label = 0;    // the chooser's heading
};

// What the repartition window and its run need from the window they sit over, beyond what a run
// shows: the screen's scale, reference sizes, and events bound to the window's handlers.
class RepartitionHost : public RunView {
public:
    virtual int scaledPixels(int designed) const = 0;
    virtual ReferenceHeights referenceHeights() = 0;
    virtual Text repartitionTitle() = 0;  // the caption of "AutoPartition"

    // A bound check box is toggled by a click, and its handler runs on every change of its tick;
    // setBoxTicked is the one way a run changes such a tick.
    virtual void bindCheckBox(ControlId box, std::function<void()> handler) = 0;
    virtual void bindClick(ControlId control, std::function<void()> handler) = 0;
    virtual void bindClose(WindowId window, std::function<void()> handler) = 0;
    virtual void unbind(ControlId control) = 0;
    virtual void unbindClose(WindowId window) = 0;
    virtual void setBoxTicked(ControlId box, bool ticked) = 0;

protected:
    ~RepartitionHost() = default;
};

class RepartitionWindow {
public:
    RepartitionWindow(RunContext& context, RepartitionHost& host)
        : context_(context), host_(host) {}
    RepartitionWindow(const RepartitionWindow&) = delete;
    RepartitionWindow& operator=(const RepartitionWindow&) = delete;

    bool isOpen() const { return open_; }
    const RepartitionControls& controls() const { return w_; }

    // "AutoPartition": opens the window over the main window (or brings the open one forward);
    // without an eligible disk a notice is shown instead.
    void open();
    // The timer's share while the window is open and enabled: refreshes its disk list, and ends
    // the window when no disk is left.
    void refreshDiskList();
    // The close handler: enables the main window and destroys the window.
    void close();
    // The run's progress line, once the run has created it.
    void setProgressLine(ControlId line) { w_.Label2F2 = line; }

private:
    void build(const std::vector<Text>& disks);
    void bindHandlers();
    void destroy();
    std::vector<Text> removableDisks();
    void showNoEligibleDisk();
    void checkBoxClick(ControlId box);
    void confirmCleanDisk(ControlId box);
    void confirmLayout(ControlId box, ControlId other, bool fat32Only, ControlId diskList);
    void startRun();

    RunContext& context_;
    RepartitionHost& host_;
    RepartitionControls w_;
    bool open_ = false;
    bool refreshing_ = false;
};

// The letter list of a notice: " [E:, G:] " for the drive letters on the disk with this decimal
// number, " " when there are none.
Text DriveLettersOnDisk(Platform& sys, const Text& diskNumber);

// The notice of a layout option (CheckBox1F2 one FAT32 partition, CheckBox2F2 NTFS + FAT32) for
// a letter list, in the interface language.
Text LayoutNotice(const TextTable& texts, bool fat32Only, const Text& letters);

}  // namespace qel
