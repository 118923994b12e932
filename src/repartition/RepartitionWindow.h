// The AutoPartition window (Form2): built at run time over the main window, it lists the removable
// disks and the partition layouts and starts the repartition run.
#pragma once

#include "platform/Platform.h"

namespace qel {

class MainWindow;

// The window and its controls while it exists; the main window owns it through Form2.
class RepartitionWindow {
public:
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

// The click handler of the three option boxes: acts only when the box is now ticked. A layout
// option shows what it will do to the chosen disk and keeps that notice in ldautopart; "Clean
// Disk" explains itself.
void CheckBoxF2Click(MainWindow& form, ControlId box);

// The close handler of the window: enables the main window and destroys the window.
void Form2Close(MainWindow& form);

// The letter list of a notice: " [E:, G:] " for the drive letters on the disk with this decimal
// number, " " when there are none.
Text DriveLettersOnDisk(Platform& sys, const Text& diskNumber);

// The notice of a layout option (CheckBox1F2 one FAT32 partition, CheckBox2F2 NTFS + FAT32) for
// a letter list, in the interface language.
Text LayoutNotice(const MainWindow& form, bool fat32Only, const Text& letters);

// The repartition run's entry point: the click handler of the window's "OK" button. It reads the
// window's controls, repartitions the chosen disk and ends the program.
void RepartitionDisk(MainWindow& form);

}  // namespace qel
