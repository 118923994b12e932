#include "repartition/RepartitionWindow.h"

#include "disk/DeviceQueries.h"
#include "disk/RemovableDisks.h"
#include "repartition/RepartitionRun.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

constexpr int kClientWidth = 320;
constexpr int kGap = 8;
// The main window's controls that serve as size references all use 13-pixel fonts.
constexpr int kReferenceFontHeight = -13;
constexpr int kEditHeight = 21;  // an edit box's natural height with that font
constexpr const char16_t* kWindowFace = u"MS Sans Serif";
constexpr const char16_t* kArial = u"Arial";

// Builds the window's controls in their order, each placed relative to one built before it.
class Form2Builder {
public:
    Form2Builder(RunContext& context, RepartitionHost& host, RepartitionControls& w)
        : host_(host),
          sys_(context.sys),
          texts_(context.texts),
          w_(w),
          heights_(host.referenceHeights()),
          width_(px(kClientWidth)) {}

    void build(const std::vector<Text>& disks) {
        buildDiskChoice(disks);
        buildLayoutOptions();
        buildSizeRow();
        buildCleanDiskAndOk();
    }

private:
    int px(int designed) const { return host_.scaledPixels(designed); }
    int below(ControlId control) const { return sys_.bounds(control).bottom() + px(kGap); }

    ControlSpec params(ControlKind kind, const Text& caption, const Rect& rect,
                       const char16_t* face) const {
        ControlSpec s;
        s.kind = kind;
        s.caption = caption;
        s.rect = rect;
        s.font.face = face;
        s.font.height = px(kReferenceFontHeight);
        return s;
    }
    ControlId create(const ControlSpec& s) { return sys_.createControl(w_.window, s); }

    // A word-wrapped option box across the window, as high as the main window's CheckBox1.
    ControlId option(const Text& caption, int top, int tabOrder) {
        const Rect rect{px(kGap), top, width_ - px(2 * kGap), heights_.option};
        ControlSpec s = params(ControlKind::CheckBox, caption, rect, kArial);
        s.wordWrap = true;
        s.tabOrder = tabOrder;
        return create(s);
    }

    void buildDiskChoice(const std::vector<Text>& disks) {
        ControlSpec heading =
            params(ControlKind::Label, texts_.llistdisk, {0, px(kGap), width_, px(45)}, kArial);
        heading.align = TextAlign::Centre;
        heading.verticallyCentred = true;
        heading.wordWrap = true;
        w_.Label1F2 = create(heading);

        const Rect rect{px(kGap), below(w_.Label1F2), width_ - px(2 * kGap), heights_.chooser};
        ControlSpec chooser = params(ControlKind::DropDownList, u"", rect, kWindowFace);
        chooser.tabOrder = 0;
        w_.ComboBox1F2 = create(chooser);
        sys_.setItems(w_.ComboBox1F2, disks);
        sys_.setSelectedIndex(w_.ComboBox1F2, static_cast<int>(disks.size()) - 1);
    }

    void buildLayoutOptions() {
        w_.CheckBox1F2 = option(texts_.lfat32only + u" (" + texts_.lrecommended + u")",
                                below(w_.ComboBox1F2), 1);
        w_.CheckBox2F2 = option(texts_.lfat32ntfs, below(w_.CheckBox1F2), 2);
    }

    // "FAT32 Size" with the size box and its unit list, both disabled until "FAT32 && NTFS".
    void buildSizeRow() {
        const int height = px(kEditHeight);
        const int top = below(w_.CheckBox2F2);
        const int left = sys_.bounds(w_.CheckBox2F2).left + px(19);
        ControlSpec label =
            params(ControlKind::Label, u"FAT32 Size", {left, top, 0, height}, kArial);
        label.verticallyCentred = true;
        w_.Label3F2 = create(label);
        Rect labelRect = sys_.bounds(w_.Label3F2);
        labelRect.width = sys_.textWidth(w_.Label3F2, u"FAT32 Size");
        sys_.setBounds(w_.Label3F2, labelRect);

        const int unitWidth = px(60);
        ControlSpec unit =
            params(ControlKind::DropDownList, u"",
                   {width_ - unitWidth - px(kGap), top, unitWidth, height}, kWindowFace);
        unit.enabled = false;
        unit.tabOrder = 3;
        w_.ComboBox2F2 = create(unit);
        sys_.setItems(w_.ComboBox2F2, {u"MB", u"GB"});
        sys_.setSelectedIndex(w_.ComboBox2F2, 0);

        const int sizeLeft = labelRect.right() + px(4);
        ControlSpec size =
            params(ControlKind::Edit, u"160",
                   {sizeLeft, top, width_ - sizeLeft - px(12) - unitWidth, height}, kArial);
        size.align = TextAlign::Right;
        size.digitsOnly = true;
        size.enabled = false;
        w_.Edit1V = create(size);
    }

    void buildCleanDiskAndOk() {
        w_.CheckBox3F2 =
            option(texts_.lcleandisk + u" (" + texts_.lrecommended + u")", below(w_.Edit1V), 4);
        sys_.setChecked(w_.CheckBox3F2, true);  // ticked before its handler is attached

        const Rect rect{px(75), below(w_.CheckBox3F2), width_ - px(150), heights_.button};
        ControlSpec ok = params(ControlKind::Button, u"OK", rect, kWindowFace);
        ok.align = TextAlign::Centre;
        ok.tabOrder = 5;
        w_.Button1F2 = create(ok);
    }

    RepartitionHost& host_;
    Platform& sys_;
    const TextTable& texts_;
    RepartitionControls& w_;
    ReferenceHeights heights_;
    int width_;
};

Text selectedItem(Platform& sys, ControlId list) {
    const auto items = sys.items(list);
    const int index = sys.selectedIndex(list);
    if (index < 0 || index >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(index)];
}

}  // namespace

// ---- opening and closing ---------------------------------------------------------------------

void RepartitionWindow::open() {
    Platform& sys = context_.sys;
    if (open_) {  // one repartition window at a time: the open one comes forward
        sys.bringToFront(w_.window);
        return;
    }
    const std::vector<Text> disks = removableDisks();
    if (disks.empty()) {
        showNoEligibleDisk();
        host_.setInputEnabled(true);
        return;
    }
    build(disks);
    bindHandlers();
    sys.setClientSize(w_.window, host_.scaledPixels(kClientWidth),
                      sys.bounds(w_.Button1F2).bottom() + host_.scaledPixels(kGap));
    sys.showWindow(w_.window);
    open_ = true;
}

void RepartitionWindow::build(const std::vector<Text>& disks) {
    w_ = {};
    WindowSpec params;
    params.title = host_.repartitionTitle();
    params.clientWidth = host_.scaledPixels(kClientWidth);
    params.font.face = kWindowFace;
    params.font.height = host_.scaledPixels(kReferenceFontHeight);
    params.alwaysOnTop = true;
    params.centreOver = host_.owner();
    params.owner = host_.owner();
    w_.window = context_.sys.createWindow(params);
    Form2Builder(context_, host_, w_).build(disks);
}

void RepartitionWindow::bindHandlers() {
    for (const ControlId box : {w_.CheckBox1F2, w_.CheckBox2F2, w_.CheckBox3F2})
        host_.bindCheckBox(box, [this, box] { checkBoxClick(box); });
    host_.bindClick(w_.Button1F2, [this] { startRun(); });
    host_.bindClose(w_.window, [this] { close(); });
}

void RepartitionWindow::close() {
    host_.setInputEnabled(true);
    if (open_) destroy();
}

// Destroys the window with its controls and forgets their handlers.
void RepartitionWindow::destroy() {
    for (const ControlId control : {w_.CheckBox1F2, w_.CheckBox2F2, w_.CheckBox3F2, w_.Button1F2})
        host_.unbind(control);
    host_.unbindClose(w_.window);
    context_.sys.destroyWindow(w_.window);
    open_ = false;
}

// The removable disks; a disk list that cannot be read shows the support error and ends the
// program, with the disks found so far still listed.
std::vector<Text> RepartitionWindow::removableDisks() {
    RepartitionDiskList listed = ListRepartitionDisks(context_.sys);
    if (listed.unreadable) {
        host_.showSupportError();
        context_.sys.postQuit();
    }
    return std::move(listed.items);
}

void RepartitionWindow::showNoEligibleDisk() {
    host_.ask(context_.texts.lnosupportrepart, DialogKind::Information, kButtonsOk, {u"OK"});
}

void RepartitionWindow::refreshDiskList() {
    // The disk list's support error is modal, and the timer may tick while it is open; one
    // refresh at a time keeps those ticks from stacking further dialogs.
    if (refreshing_) return;
    refreshing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{refreshing_};

    const std::vector<Text> disks = removableDisks();
    if (!open_) return;
    if (disks.empty()) {
        destroy();
        showNoEligibleDisk();
        return;
    }
    Platform& sys = context_.sys;
    if (disks == sys.items(w_.ComboBox1F2)) return;  // unchanged: the selection stays
    sys.setItems(w_.ComboBox1F2, disks);
    sys.setSelectedIndex(w_.ComboBox1F2, static_cast<int>(disks.size()) - 1);
}

// ---- the options -----------------------------------------------------------------------------

Text DriveLettersOnDisk(Platform& sys, const Text& diskNumber) {
    Text letters;
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
        const Text drive = Text(1, letter) + u":";
        const std::uint32_t type = sys.driveType(drive + u"\\");
        if (type != win::DRIVE_FIXED && type != win::DRIVE_REMOVABLE) continue;
        const std::uint32_t disk = GetVolumeDiskExtent(sys, u"\\\\.\\" + drive).DiskNumber;
        if (disk == kUnknownDiskNumber || decimal(disk) != diskNumber) continue;
        letters += (letters.empty() ? u"" : u", ") + drive;
    }
    return letters.empty() ? Text(u" ") : u" [" + letters + u"] ";
}

Text LayoutNotice(const TextTable& t, bool fat32Only, const Text& letters) {
    const bool vi = t.lang == u"vi";
    const Text q = u"\"";
    Text notice = vi ? u"Chú ý:\r\n1. Tất cả các phân vùng" + letters +
                           u"và dữ liệu trên đĩa này sẽ bị mất.\r\n"
                     : u"Attention:\r\n1. All partitions" + letters +
                           u"and data on this disk will be lost.\r\n";
    if (fat32Only) {
        notice += vi ? u"2. Chúng tôi sẽ tạo ra phân vùng mới ở định dạng FAT32.\r\n\r\n"
                       u"Nếu bạn muốn lưu trữ tập tin lớn hơn 4GB, hãy thử tùy chọn " +
                           q + t.lfat32ntfs + q + u"."
                     : u"2. We will create a new partition in FAT32 format.\r\n\r\n"
                       u"If you want to store files larger than 4GB, try " +
                           q + t.lfat32ntfs + q + u" option.";
    } else {
        notice += vi ? u"2. Chúng tôi sẽ tạo ra hai phân vùng mới (NTFS && FAT32). Phân vùng "
                       u"FAT32 sẽ bị ẩn.\r\n3. Tự động cài đặt Clover trên phân vùng FAT32.\r\n\r\n"
                       u"Nếu bạn không thể khởi động vào chế độ UEFI, hãy thử tùy chọn " +
                           q + t.lfat32only + q + u"."
                     : u"2. We will create two new partitions (NTFS && FAT32). FAT32 partition "
                       u"will be hidden.\r\n3. Auto install Clover on FAT32 partition.\r\n\r\n"
                       u"If you can not boot into UEFI mode, try " +
                           q + t.lfat32only + q + u" option.";
    }
    return notice;
}

void RepartitionWindow::confirmCleanDisk(ControlId box) {
    const TextTable& texts = context_.texts;
    const int answer = host_.ask(texts.lcleandesc, DialogKind::Information, kButtonsOkCancel,
                                 {u"OK", texts.lcancel});
    if (answer == kResultCancel && open_) context_.sys.setChecked(box, false);
}

void RepartitionWindow::confirmLayout(ControlId box, ControlId other, bool fat32Only,
                                      ControlId diskList) {
    Platform& sys = context_.sys;
    TextTable& texts = context_.texts;
    const Text letters = DriveLettersOnDisk(sys, DiskNumberOfItem(selectedItem(sys, diskList)));
    const Text previous = texts.ldautopart;
    texts.ldautopart = LayoutNotice(texts, fat32Only, letters);
    const int answer =
        host_.ask(texts.ldautopart, DialogKind::Warning, kButtonsOkCancel, {u"OK", texts.lcancel});
    if (!open_) return;  // the window went while the notice was open
    if (answer == kResultCancel) {
        // The confirmation of the run must describe the option that stays ticked.
        if (sys.checked(other)) texts.ldautopart = previous;
        host_.setBoxTicked(box, false);
    } else {
        sys.setChecked(other, false);
    }
}

// The click handler of the three option boxes: acts only when the box is now ticked. A layout
// option shows what it will do to the chosen disk and keeps that notice in ldautopart; "Clean
// Disk" explains itself.
void RepartitionWindow::checkBoxClick(ControlId box) {
    if (!open_ || !context_.sys.checked(box)) return;
    const RepartitionControls w = w_;  // a copy: a notice may outlive the window
    if (box == w.CheckBox3F2) return confirmCleanDisk(box);
    const bool fat32Only = box == w.CheckBox1F2;
    context_.sys.setEnabled(w.Edit1V, !fat32Only);
    context_.sys.setEnabled(w.ComboBox2F2, !fat32Only);
    confirmLayout(box, fat32Only ? w.CheckBox2F2 : w.CheckBox1F2, fat32Only, w.ComboBox1F2);
}

// ---- the run ---------------------------------------------------------------------------------

// The window's "OK": reads the window's controls, repartitions the chosen disk and ends the
// program.
void RepartitionWindow::startRun() {
    if (open_) RepartitionRun(context_, host_, *this).run();
}

}  // namespace qel
