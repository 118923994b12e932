#include "texts/TextTable.h"

namespace qel {
namespace {

struct TableEntry {
    Text TextTable::*field;
    const char16_t* vietnamese;
    const char16_t* english;
};

// Every text field in both languages. "&&" shows as one ampersand in captions and dialogs.
const TableEntry kEntries[] = {
    {&TextTable::lwarn, u"Cảnh báo", u"Warning"},
    {&TextTable::lerror, u"Lỗi", u"Error"},
    {&TextTable::linfo, u"Thông tin", u"Information"},
    {&TextTable::llerror, u"Lỗi, vui lòng liên hệ tác giả để được hỗ trợ!",
     u"Error, please contact to author for support!"},
    {&TextTable::lformaterror, u"Lỗi, không thể định dạng ổ đĩa này!",
     u"Error, can not format this drive!"},
    {&TextTable::lautoformat, u"Định dạng sang FAT32", u"Format to FAT32"},
    {&TextTable::lformatting, u"Đang định dạng...", u"Formatting..."},
    {&TextTable::lformatted, u"Đã định dạng...", u"Formatted..."},
    {&TextTable::lextract, u"Đang giải nén, vui lòng chờ...", u"Extracting, please wait..."},
    {&TextTable::lcanceled, u"Đã hủy", u"Canceled"},
    {&TextTable::lcancel, u"Hủy bỏ", u"Cancel"},
    {&TextTable::lrunapp, u"Đang khởi chạy QELCreator.exe...", u"Launching QELCreator.exe..."},
    {&TextTable::lsaved, u"Tập tin đã được lưu tại ./RAZEvor.7z (Mật khẩu: tubrisk)",
     u"File saved in ./RAZEvor.7z (Password: tubrisk)"},
    {&TextTable::llistdisk, u"Dưới đây là danh sách các đĩa cứng mà bạn có thể phân vùng lại",
     u"Here is a list of the disk that you can repartition"},
    {&TextTable::lfat32only, u"Chỉ FAT32", u"FAT32 only"},
    {&TextTable::lfat32ntfs, u"FAT32 && NTFS", u"FAT32 && NTFS"},
    {&TextTable::lcleandisk, u"Làm sạch đĩa", u"Clean Disk"},
    {&TextTable::lrecommended, u"Khuyến nghị", u"Recommended"},
    {&TextTable::lchoose, u"Vui lòng chọn một trong các tùy chọn 1 hoặc 2.",
     u"Please choose one of the options 1 or 2."},
    {&TextTable::lfcopy, u"Đang chép các tập tin", u"Copying files"},
    {&TextTable::linstalling, u"Đang cài đặt", u"Installing"},
    {&TextTable::lpart1, u"Đang tạo phân vùng thứ nhất", u"Creating the first partition"},
    {&TextTable::lpart2, u"Đang tạo phân vùng thứ hai", u"Creating second partition"},
    {&TextTable::lpartnew, u"Đang tạo phân vùng mới", u"Creating new partition"},
    {&TextTable::lunplug, u"Có lỗi gì đó đã xãy ra, vui lòng rút USB và cắm nó trở lại.",
     u"Something went wrong, please unplug the USB and plug it back in."},
    {&TextTable::lsize, u"Kích thước phân vùng FAT32 cần có giá trị từ 160MB đến ",
     u"The FAT32 partition size should be between 160MB and "},
    {&TextTable::lfatsize, u"Bạn cần phải nhập kích thước cho phân vùng FAT32.",
     u"You need to enter a size for the FAT32 partition."},
    {&TextTable::llwarn,
     u"Cảnh báo:\r\nTất cả dữ liệu trên ổ '%s' sẽ bị mất.\r\nPhân vùng này sẽ được định dạng sang "
     u"FAT32.",
     u"Warning:\r\nALL data on drive '%s' will be lost.\r\nThis partition will be formatted to "
     u"FAT32."},
    {&TextTable::llrepart,
     u"Thiết bị đĩa này cần phải phân vùng lại.\r\nBạn có thể sử dụng DiskPart hoặc GParted hoặc "
     u"bất cứ công cụ nào đó mà bạn muốn.\r\nMiễn sao thiết bị này được phân lại lại có giá trị "
     u"\"Start LBA\" lớn hơn 123 sector (62,976 bytes).\r\n\r\nBạn có muốn chúng tôi sẽ giúp bạn "
     u"tự động phân vùng cho thiết bị này không?",
     u"This disk devices need to repartition.\r\nYou can use DiskPart or GParted or any tools that "
     u"you want.\r\nAs long as this device is assigned to the \"Start LBA\" value greater than 123 "
     u"sectors (62,976 bytes).\r\n\r\nDo you want us to help you to automatically partition this "
     u"device?"},
    {&TextTable::lnosupportrepart,
     u"Hiện tại không có đĩa cứng nào trên PC của bạn được hỗ trợ để phân vùng lại.\r\nCông cụ này "
     u"chỉ hỗ trợ phân vùng lại cho các thiết bị tháo rời như USB, SD Cards.",
     u"There are no hard disk on your PC is supported to repartition.\r\nThis tool only supports "
     u"repartition for removable devices such as USB, SD Cards."},
    {&TextTable::lcleandesc,
     u"Loại bỏ bất kỳ và tất cả các phân vùng hoặc volume được định dạng từ đĩa với trọng "
     u"tâm.\r\nTrên master boot record (MBR), chỉ thông tin phân vùng MBR và thông tin khu vực ẩn "
     u"được ghi đè.\r\n\r\nTùy chọn này luôn được khuyến nghị ở đây.",
     u"Removes any and all partition or volume formatting from the disk with focus.\r\nOn master "
     u"boot record (MBR) disks, only the MBR partitioning information and hidden sector "
     u"information are overwritten.\r\n\r\nThis option is recommended here."},
    {&TextTable::lntfsxp,
     u"Bạn đang sử dụng %s.\r\nĐể sử dụng tùy chọn \"FAT32 && NTFS\", bạn cần phải bật tùy chọn "
     u"\"Optimize for performance\" của USB.\r\nHoặc khởi động vào Windows 7 hoặc các phiên bản "
     u"mới hơn để tiếp tục.\r\nHãy hỏi Google về cách bật tùy chọn \"Optimize for performance\" và "
     u"thử lại.",
     u"You are using %s.\r\nTo use the option \"FAT32 && NTFS\", you need to turn on the option to "
     u"\"Optimize for performance\" of USB.\r\nOr boot into Windows 7 or newer versions to "
     u"continue.\r\nAsk Google about how to turn on the option to \"Optimize for performance\" and "
     u"try again."},
};

bool isVietnamese(const Text& lang) {
    return lang == u"vi";
}

}  // namespace

void applyLanguage(TextTable& table, const Text& lang) {
    const bool vietnamese = isVietnamese(lang);
    for (const auto& entry : kEntries)
        table.*entry.field = vietnamese ? entry.vietnamese : entry.english;
    table.lang = vietnamese ? u"vi" : u"en";
}

LanguageCaptions captionsFor(const Text& lang) {
    if (isVietnamese(lang))
        return {u"Chọn ổ đĩa để giải nén tập tin:",
                u"EN",
                u"Lấy tệp 7-Zip",
                u"Tự động phân vùng",
                u"Cài đặt Bootloader",
                u"Sử dụng Ổ đĩa cứng"};
    return {u"Select the drive to extract files:",
            u"VI",
            u"Get 7-Zip file",
            u"AutoPartition",
            u"Auto install Bootloader",
            u"Use Hard Disk Drive"};
}

}  // namespace qel
