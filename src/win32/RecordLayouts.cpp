// Compile-time proof that the portable record layouts and the seam's Windows values agree with the
// platform headers of the build's target (i686 and x86_64 alike). Nothing here runs.

#include <cstddef>
#include <type_traits>

#include "disk/Records.h"
#include "platform/Platform.h"

// The seam's constants share their names with macros of <windows.h>, so they are captured under
// other names before the headers come in, and compared after.
// clang-format off
#define QEL_SEAM_CONSTANTS(X)                                                                     \
    X(GENERIC_READ) X(GENERIC_WRITE) X(FILE_SHARE_READ) X(FILE_SHARE_WRITE)                      \
    X(CREATE_ALWAYS) X(OPEN_EXISTING) X(OPEN_ALWAYS)                                              \
    X(FILE_ATTRIBUTE_READONLY) X(FILE_ATTRIBUTE_HIDDEN) X(FILE_ATTRIBUTE_SYSTEM)                  \
    X(FILE_ATTRIBUTE_DIRECTORY) X(FILE_ATTRIBUTE_ARCHIVE) X(FILE_ATTRIBUTE_NORMAL)                \
    X(FILE_BEGIN) X(FILE_CURRENT) X(FILE_END)                                                     \
    X(DRIVE_UNKNOWN) X(DRIVE_NO_ROOT_DIR) X(DRIVE_REMOVABLE) X(DRIVE_FIXED) X(DRIVE_REMOTE)       \
    X(DRIVE_CDROM) X(DRIVE_RAMDISK)                                                               \
    X(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) X(IOCTL_DISK_GET_DRIVE_LAYOUT_EX)                     \
    X(IOCTL_DISK_GET_DRIVE_GEOMETRY) X(IOCTL_DISK_GET_LENGTH_INFO) X(IOCTL_DISK_SET_DRIVE_LAYOUT) \
    X(IOCTL_DISK_UPDATE_PROPERTIES) X(IOCTL_DISK_GET_PARTITION_INFO_EX)                           \
    X(IOCTL_DISK_SET_PARTITION_INFO) X(FSCTL_LOCK_VOLUME) X(FSCTL_UNLOCK_VOLUME)                  \
    X(FSCTL_DISMOUNT_VOLUME) X(FSCTL_ALLOW_EXTENDED_DASD_IO)                                      \
    X(SW_HIDE) X(SW_SHOWNORMAL)                                                                   \
    X(CREATE_NEW_PROCESS_GROUP) X(NORMAL_PRIORITY_CLASS) X(STARTF_USESHOWWINDOW)                  \
    X(KEY_READ) X(MB_OK) X(MB_ICONERROR) X(MB_ICONINFORMATION)                                    \
    X(FO_DELETE) X(FOF_SILENT) X(FOF_NOCONFIRMATION)
// clang-format on

namespace seam_values {
#define QEL_CAPTURE(name) constexpr auto name##_ = qel::win::name;
QEL_SEAM_CONSTANTS(QEL_CAPTURE)
#undef QEL_CAPTURE
}  // namespace seam_values

#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <shellapi.h>

// The name after ## is not expanded; the bare one becomes the header's value, taken in the seam's
// type.
#define QEL_CHECK(name)                                                                    \
    static_assert(seam_values::name##_ ==                                                  \
                      static_cast<std::remove_cv_t<decltype(seam_values::name##_)>>(name), \
                  "the seam's value of " #name " differs from the platform's");
QEL_SEAM_CONSTANTS(QEL_CHECK)
#undef QEL_CHECK

namespace r = qel::records;

// VOLUME_DISK_EXTENTS and DISK_EXTENT.
static_assert(r::volume_disk_extents::kCount == offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents));
static_assert(r::volume_disk_extents::kExtents == offsetof(VOLUME_DISK_EXTENTS, Extents));
static_assert(r::volume_disk_extents::kBufferSize >=
              sizeof(VOLUME_DISK_EXTENTS) + 9 * sizeof(DISK_EXTENT));
static_assert(r::disk_extent::kDiskNumber == offsetof(DISK_EXTENT, DiskNumber));
static_assert(r::disk_extent::kStartingOffset == offsetof(DISK_EXTENT, StartingOffset));
static_assert(r::disk_extent::kExtentLength == offsetof(DISK_EXTENT, ExtentLength));
static_assert(r::disk_extent::kSize == sizeof(DISK_EXTENT));

// DRIVE_LAYOUT_INFORMATION_EX and PARTITION_INFORMATION_EX.
static_assert(r::drive_layout_ex::kPartitionStyle ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionStyle));
static_assert(r::drive_layout_ex::kPartitionCount ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount));
static_assert(r::drive_layout_ex::kMbrSignature ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr) +
                  offsetof(DRIVE_LAYOUT_INFORMATION_MBR, Signature));
static_assert(r::drive_layout_ex::kEntries ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry));
static_assert(r::drive_layout_ex::kBufferSize ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                  16 * sizeof(PARTITION_INFORMATION_EX));
static_assert(r::partition_info_ex::kPartitionStyle ==
              offsetof(PARTITION_INFORMATION_EX, PartitionStyle));
static_assert(r::partition_info_ex::kStartingOffset ==
              offsetof(PARTITION_INFORMATION_EX, StartingOffset));
static_assert(r::partition_info_ex::kPartitionLength ==
              offsetof(PARTITION_INFORMATION_EX, PartitionLength));
static_assert(r::partition_info_ex::kPartitionNumber ==
              offsetof(PARTITION_INFORMATION_EX, PartitionNumber));
static_assert(r::partition_info_ex::kRewritePartition ==
              offsetof(PARTITION_INFORMATION_EX, RewritePartition));
static_assert(r::partition_info_ex::kMbrPartitionType ==
              offsetof(PARTITION_INFORMATION_EX, Mbr) +
                  offsetof(PARTITION_INFORMATION_MBR, PartitionType));
static_assert(r::partition_info_ex::kMbrBootIndicator ==
              offsetof(PARTITION_INFORMATION_EX, Mbr) +
                  offsetof(PARTITION_INFORMATION_MBR, BootIndicator));
static_assert(r::partition_info_ex::kMbrRecognizedPartition ==
              offsetof(PARTITION_INFORMATION_EX, Mbr) +
                  offsetof(PARTITION_INFORMATION_MBR, RecognizedPartition));
static_assert(r::partition_info_ex::kMbrHiddenSectors ==
              offsetof(PARTITION_INFORMATION_EX, Mbr) +
                  offsetof(PARTITION_INFORMATION_MBR, HiddenSectors));
static_assert(r::partition_info_ex::kSize == sizeof(PARTITION_INFORMATION_EX));

// DISK_GEOMETRY.
static_assert(r::disk_geometry::kCylinders == offsetof(DISK_GEOMETRY, Cylinders));
static_assert(r::disk_geometry::kMediaType == offsetof(DISK_GEOMETRY, MediaType));
static_assert(r::disk_geometry::kTracksPerCylinder == offsetof(DISK_GEOMETRY, TracksPerCylinder));
static_assert(r::disk_geometry::kSectorsPerTrack == offsetof(DISK_GEOMETRY, SectorsPerTrack));
static_assert(r::disk_geometry::kBytesPerSector == offsetof(DISK_GEOMETRY, BytesPerSector));
static_assert(r::disk_geometry::kSize == sizeof(DISK_GEOMETRY));
static_assert(RemovableMedia == 11 && FixedMedia == 12);

// GET_LENGTH_INFORMATION.
static_assert(r::length_information::kLength == offsetof(GET_LENGTH_INFORMATION, Length));
static_assert(r::length_information::kSize == sizeof(GET_LENGTH_INFORMATION));

// FILE_FS_SIZE_INFORMATION (declared by <winternl.h>) and its information class.
static_assert(r::fs_size_information::kTotalAllocationUnits ==
              offsetof(FILE_FS_SIZE_INFORMATION, TotalAllocationUnits));
static_assert(r::fs_size_information::kAvailableAllocationUnits ==
              offsetof(FILE_FS_SIZE_INFORMATION, AvailableAllocationUnits));
static_assert(r::fs_size_information::kSectorsPerAllocationUnit ==
              offsetof(FILE_FS_SIZE_INFORMATION, SectorsPerAllocationUnit));
static_assert(r::fs_size_information::kBytesPerSector ==
              offsetof(FILE_FS_SIZE_INFORMATION, BytesPerSector));
static_assert(r::fs_size_information::kSize == sizeof(FILE_FS_SIZE_INFORMATION));
static_assert(FileFsSizeInformation == 3);

// DRIVE_LAYOUT_INFORMATION with four PARTITION_INFORMATION entries.
static_assert(r::drive_layout::kPartitionCount ==
              offsetof(DRIVE_LAYOUT_INFORMATION, PartitionCount));
static_assert(r::drive_layout::kSignature == offsetof(DRIVE_LAYOUT_INFORMATION, Signature));
static_assert(r::drive_layout::kEntries == offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry));
static_assert(r::drive_layout::kSizeWithFourEntries ==
              offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) +
                  4 * sizeof(PARTITION_INFORMATION));
static_assert(r::drive_layout::kSizeWithFourEntries ==
              sizeof(DRIVE_LAYOUT_INFORMATION) + 3 * sizeof(PARTITION_INFORMATION));
static_assert(r::partition_info::kStartingOffset ==
              offsetof(PARTITION_INFORMATION, StartingOffset));
static_assert(r::partition_info::kPartitionLength ==
              offsetof(PARTITION_INFORMATION, PartitionLength));
static_assert(r::partition_info::kHiddenSectors == offsetof(PARTITION_INFORMATION, HiddenSectors));
static_assert(r::partition_info::kPartitionNumber ==
              offsetof(PARTITION_INFORMATION, PartitionNumber));
static_assert(r::partition_info::kPartitionType == offsetof(PARTITION_INFORMATION, PartitionType));
static_assert(r::partition_info::kBootIndicator == offsetof(PARTITION_INFORMATION, BootIndicator));
static_assert(r::partition_info::kRecognizedPartition ==
              offsetof(PARTITION_INFORMATION, RecognizedPartition));
static_assert(r::partition_info::kRewritePartition ==
              offsetof(PARTITION_INFORMATION, RewritePartition));
static_assert(r::partition_info::kSize == sizeof(PARTITION_INFORMATION));

// The start-up record of a child process is given its own size; the 32-bit program's is 68 bytes.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);
