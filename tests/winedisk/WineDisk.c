/* A kernel-mode disk for the Wine tests: \\.\PHYSICALDRIVE<n> and its first partition's volume
 * \\.\E: served from an image file. Loaded by Wine's driver host; never shipped.
 *
 * The service key holds the parameters:
 *   Image       REG_SZ     the image, as an NT path (\??\unix\/path/to/stick.img)
 *   Counts      REG_SZ     a file, rewritten after every request, that counts the requests
 *   DiskNumber  REG_DWORD  the number n of PHYSICALDRIVE<n> (9 when absent)
 *
 * The disk is 512-byte sectors with an MBR partition table; the volume is the table's lowest
 * partition as the table stood when either device was last opened or asked to update. Reads and
 * writes must be whole sectors inside the device. The volume answers the file-system queries
 * (name, label, serial number) from its boot sector, as a mounted file system would, so that
 * Windows reports the volume's own file system for E:. Requests it does not know fail with
 * STATUS_INVALID_DEVICE_REQUEST and are counted as "unknown". */

/* ntifs.h first: the disk headers need its types. */
#include <ntifs.h>

#include <ntdddisk.h>
#include <ntddstor.h>
#include <ntddvol.h>

#define SECTOR 512
#define HEADS 255
#define SECTORS_PER_TRACK 63
#define PARTITION_TABLE 0x1BE

enum Request {
    R_OPEN,
    R_READ,
    R_WRITE,
    R_DEVICE_NUMBER,
    R_DISK_EXTENTS,
    R_GEOMETRY,
    R_GEOMETRY_EX,
    R_LENGTH,
    R_PARTITION_INFO,
    R_PARTITION_INFO_EX,
    R_SET_PARTITION_INFO,
    R_LAYOUT,
    R_LAYOUT_EX,
    R_SET_LAYOUT,
    R_SET_LAYOUT_EX,
    R_UPDATE_PROPERTIES,
    R_EXTENDED_DASD,
    R_LOCK,
    R_UNLOCK,
    R_DISMOUNT,
    R_VERIFY,
    R_FLUSH,
    R_VOLUME_INFO,
    R_UNKNOWN,
    R_COUNT
};
static const char* const requestNames[R_COUNT] = {"open",
                                                  "read",
                                                  "write",
                                                  "device-number",
                                                  "disk-extents",
                                                  "geometry",
                                                  "geometry-ex",
                                                  "length",
                                                  "partition-info",
                                                  "partition-info-ex",
                                                  "set-partition-info",
                                                  "layout",
                                                  "layout-ex",
                                                  "set-layout",
                                                  "set-layout-ex",
                                                  "update-properties",
                                                  "extended-dasd",
                                                  "lock",
                                                  "unlock",
                                                  "dismount",
                                                  "verify",
                                                  "flush",
                                                  "volume-information",
                                                  "unknown"};

typedef struct {
    BOOLEAN isVolume;
} Extension;

static struct {
    HANDLE image;
    HANDLE counts;
    LONGLONG imageSize;
    ULONG diskNumber;
    LONGLONG volumeStart; /* bytes */
    LONGLONG volumeLength;
    UCHAR volumeType;
    ULONG counters[R_COUNT];
    ULONG lastUnknownCode;
    PDEVICE_OBJECT disk;
    PDEVICE_OBJECT volume;
    WCHAR diskLinkName[64];
} g;

static UNICODE_STRING diskLink;
static UNICODE_STRING volumeLink = RTL_CONSTANT_STRING(L"\\DosDevices\\E:");

/* ---- the image ---- */

static NTSTATUS imageIo(BOOLEAN write, LONGLONG offset, void* buffer, ULONG length) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return write ? ZwWriteFile(g.image, NULL, NULL, NULL, &io, buffer, length, &at, NULL)
                 : ZwReadFile(g.image, NULL, NULL, NULL, &io, buffer, length, &at, NULL);
}

static ULONG le32(const UCHAR* p) {
    return p[0] | (ULONG)p[1] << 8 | (ULONG)p[2] << 16 | (ULONG)p[3] << 24;
}

static void putLe32(UCHAR* p, ULONG v) {
    p[0] = (UCHAR)v;
    p[1] = (UCHAR)(v >> 8);
    p[2] = (UCHAR)(v >> 16);
    p[3] = (UCHAR)(v >> 24);
}

static BOOLEAN readSectorZero(UCHAR* sector) {
    return NT_SUCCESS(imageIo(FALSE, 0, sector, SECTOR)) && sector[510] == 0x55 &&
           sector[511] == 0xAA;
}

/* The volume is the lowest partition of the table. */
static void findVolume(void) {
    UCHAR sector[SECTOR];
    int slot;
    g.volumeStart = 0;
    g.volumeLength = 0;
    g.volumeType = 0;
    if (!readSectorZero(sector)) return;
    for (slot = 0; slot < 4; ++slot) {
        const UCHAR* entry = sector + PARTITION_TABLE + slot * 16;
        const LONGLONG start = (LONGLONG)le32(entry + 8) * SECTOR;
        if (entry[4] == 0 || le32(entry + 12) == 0) continue;
        if (g.volumeLength == 0 || start < g.volumeStart) {
            g.volumeStart = start;
            g.volumeLength = (LONGLONG)le32(entry + 12) * SECTOR;
            g.volumeType = entry[4];
        }
    }
}

/* ---- the counters file: one line per request, "name count" ---- */

static ULONG appendText(char* out, ULONG at, const char* text) {
    while (*text) out[at++] = *text++;
    return at;
}

static ULONG appendNumber(char* out, ULONG at, ULONG value) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) out[at++] = digits[--n];
    return at;
}

static void writeCounts(void) {
    static char text[2048];
    ULONG at = 0;
    int i;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER zero;
    FILE_END_OF_FILE_INFORMATION end;
    if (g.counts == NULL) return;
    for (i = 0; i < R_COUNT; ++i) {
        at = appendText(text, at, requestNames[i]);
        at = appendText(text, at, " ");
        at = appendNumber(text, at, g.counters[i]);
        at = appendText(text, at, "\n");
    }
    at = appendText(text, at, "last-unknown-code ");
    at = appendNumber(text, at, g.lastUnknownCode);
    at = appendText(text, at, "\n");
    zero.QuadPart = 0;
    ZwWriteFile(g.counts, NULL, NULL, NULL, &io, text, at, &zero, NULL);
    end.EndOfFile.QuadPart = at;
    ZwSetInformationFile(g.counts, &io, &end, sizeof(end), FileEndOfFileInformation);
}

static void count(enum Request request) {
    ++g.counters[request];
    writeCounts();
}

/* ---- requests ---- */

static NTSTATUS finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* The image's size in whole sectors; false when it cannot be read. */
static BOOLEAN readImageSize(void) {
    FILE_STANDARD_INFORMATION standard;
    IO_STATUS_BLOCK io;
    if (!NT_SUCCESS(ZwQueryInformationFile(g.image, &io, &standard, sizeof(standard),
                                           FileStandardInformation)))
        return FALSE;
    g.imageSize = standard.EndOfFile.QuadPart / SECTOR * SECTOR;
    return TRUE;
}

static NTSTATUS onOpenClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    /* The tests may put another stick, of another size, into the image between runs: each open
     * reads its size and its table. */
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE) {
        readImageSize();
        findVolume();
        count(R_OPEN);
    }
    return finish(irp, STATUS_SUCCESS, 0);
}

static void* transferBuffer(PIRP irp) {
    if (irp->AssociatedIrp.SystemBuffer) return irp->AssociatedIrp.SystemBuffer;
    if (irp->MdlAddress) return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    return irp->UserBuffer;
}

static NTSTATUS onReadWrite(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const BOOLEAN write = stack->MajorFunction == IRP_MJ_WRITE;
    const BOOLEAN isVolume = ((Extension*)device->DeviceExtension)->isVolume;
    const ULONG length = write ? stack->Parameters.Write.Length : stack->Parameters.Read.Length;
    const LONGLONG offset =
        (write ? stack->Parameters.Write.ByteOffset : stack->Parameters.Read.ByteOffset).QuadPart;
    const LONGLONG size = isVolume ? g.volumeLength : g.imageSize;
    const LONGLONG base = isVolume ? g.volumeStart : 0;
    void* buffer = transferBuffer(irp);
    NTSTATUS status;
    count(write ? R_WRITE : R_READ);
    if (offset < 0 || offset % SECTOR != 0 || length % SECTOR != 0 || offset > size ||
        (LONGLONG)length > size - offset || (length != 0 && buffer == NULL))
        return finish(irp, STATUS_INVALID_PARAMETER, 0);
    status = length == 0 ? STATUS_SUCCESS : imageIo(write, base + offset, buffer, length);
    return finish(irp, status, length);
}

static void fillGeometry(DISK_GEOMETRY* geometry, LONGLONG size) {
    geometry->Cylinders.QuadPart = size / ((LONGLONG)HEADS * SECTORS_PER_TRACK * SECTOR);
    geometry->MediaType = RemovableMedia;
    geometry->TracksPerCylinder = HEADS;
    geometry->SectorsPerTrack = SECTORS_PER_TRACK;
    geometry->BytesPerSector = SECTOR;
}

static void fillPartition(PARTITION_INFORMATION_EX* p, BOOLEAN isVolume) {
    RtlZeroMemory(p, sizeof(*p));
    p->PartitionStyle = PARTITION_STYLE_MBR;
    p->StartingOffset.QuadPart = isVolume ? g.volumeStart : 0;
    p->PartitionLength.QuadPart = isVolume ? g.volumeLength : g.imageSize;
    p->PartitionNumber = isVolume ? 1 : 0;
    p->Mbr.PartitionType = isVolume ? g.volumeType : 0;
    p->Mbr.RecognizedPartition = isVolume;
    p->Mbr.HiddenSectors = isVolume ? (ULONG)(g.volumeStart / SECTOR) : 0;
}

static NTSTATUS getLayout(PIRP irp, ULONG outLength, BOOLEAN extended) {
    UCHAR sector[SECTOR];
    const ULONG needed = extended ? FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry[4])
                                  : FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION, PartitionEntry[4]);
    void* out = irp->AssociatedIrp.SystemBuffer;
    int slot;
    if (outLength < needed) return finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlZeroMemory(out, needed);
    if (!readSectorZero(sector)) {
        if (!extended) return finish(irp, STATUS_UNRECOGNIZED_MEDIA, 0);
        ((DRIVE_LAYOUT_INFORMATION_EX*)out)->PartitionStyle = PARTITION_STYLE_RAW;
        return finish(irp, STATUS_SUCCESS,
                      FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry));
    }
    for (slot = 0; slot < 4; ++slot) {
        const UCHAR* entry = sector + PARTITION_TABLE + slot * 16;
        const LONGLONG start = (LONGLONG)le32(entry + 8) * SECTOR;
        const LONGLONG length = (LONGLONG)le32(entry + 12) * SECTOR;
        const ULONG number = entry[4] != 0 ? slot + 1 : 0;
        if (extended) {
            PARTITION_INFORMATION_EX* p =
                &((DRIVE_LAYOUT_INFORMATION_EX*)out)->PartitionEntry[slot];
            p->PartitionStyle = PARTITION_STYLE_MBR;
            p->StartingOffset.QuadPart = start;
            p->PartitionLength.QuadPart = length;
            p->PartitionNumber = number;
            p->Mbr.PartitionType = entry[4];
            p->Mbr.BootIndicator = entry[0] == 0x80;
            p->Mbr.RecognizedPartition = entry[4] != 0;
            p->Mbr.HiddenSectors = le32(entry + 8);
        } else {
            PARTITION_INFORMATION* p = &((DRIVE_LAYOUT_INFORMATION*)out)->PartitionEntry[slot];
            p->StartingOffset.QuadPart = start;
            p->PartitionLength.QuadPart = length;
            p->PartitionNumber = number;
            p->PartitionType = entry[4];
            p->BootIndicator = entry[0] == 0x80;
            p->RecognizedPartition = entry[4] != 0;
            p->HiddenSectors = le32(entry + 8);
        }
    }
    if (extended) {
        DRIVE_LAYOUT_INFORMATION_EX* layout = out;
        layout->PartitionStyle = PARTITION_STYLE_MBR;
        layout->PartitionCount = 4;
        layout->Mbr.Signature = le32(sector + 440);
    } else {
        DRIVE_LAYOUT_INFORMATION* layout = out;
        layout->PartitionCount = 4;
        layout->Signature = le32(sector + 440);
    }
    return finish(irp, STATUS_SUCCESS, needed);
}

static void putEntry(UCHAR* entry, BOOLEAN boot, UCHAR type, LONGLONG start, LONGLONG length) {
    RtlZeroMemory(entry, 16);
    if (type == 0) return;
    entry[0] = boot ? 0x80 : 0;
    entry[1] = entry[5] = 0xFE; /* CHS fields as "beyond CHS" */
    entry[2] = entry[6] = 0xFF;
    entry[3] = entry[7] = 0xFF;
    entry[4] = type;
    putLe32(entry + 8, (ULONG)(start / SECTOR));
    putLe32(entry + 12, (ULONG)(length / SECTOR));
}

/* Writes the first four entries of an MBR layout into sector 0; the boot code stays. */
static NTSTATUS setLayout(PIRP irp, ULONG inLength, BOOLEAN extended) {
    UCHAR sector[SECTOR];
    const void* in = irp->AssociatedIrp.SystemBuffer;
    ULONG count4;
    ULONG slot;
    if (extended) {
        const DRIVE_LAYOUT_INFORMATION_EX* layout = in;
        if (inLength < FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) ||
            layout->PartitionStyle != PARTITION_STYLE_MBR)
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
        count4 = min(layout->PartitionCount, 4);
        if (inLength < FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry[count4]))
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
    } else {
        const DRIVE_LAYOUT_INFORMATION* layout = in;
        if (inLength < FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION, PartitionEntry))
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
        count4 = min(layout->PartitionCount, 4);
        if (inLength < FIELD_OFFSET(DRIVE_LAYOUT_INFORMATION, PartitionEntry[count4]))
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (!NT_SUCCESS(imageIo(FALSE, 0, sector, SECTOR)))
        return finish(irp, STATUS_IO_DEVICE_ERROR, 0);
    RtlZeroMemory(sector + PARTITION_TABLE, 64);
    for (slot = 0; slot < count4; ++slot) {
        UCHAR* entry = sector + PARTITION_TABLE + slot * 16;
        if (extended) {
            const DRIVE_LAYOUT_INFORMATION_EX* layout = in;
            const PARTITION_INFORMATION_EX* p = &layout->PartitionEntry[slot];
            putEntry(entry, p->Mbr.BootIndicator, p->Mbr.PartitionType, p->StartingOffset.QuadPart,
                     p->PartitionLength.QuadPart);
            putLe32(sector + 440, layout->Mbr.Signature);
        } else {
            const DRIVE_LAYOUT_INFORMATION* layout = in;
            const PARTITION_INFORMATION* p = &layout->PartitionEntry[slot];
            putEntry(entry, p->BootIndicator, p->PartitionType, p->StartingOffset.QuadPart,
                     p->PartitionLength.QuadPart);
            putLe32(sector + 440, layout->Signature);
        }
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return finish(irp, imageIo(TRUE, 0, sector, SECTOR), 0);
}

/* Changes the volume's partition type in the table. */
static NTSTATUS setPartitionInfo(PIRP irp, ULONG inLength, BOOLEAN isVolume) {
    UCHAR sector[SECTOR];
    int slot;
    const SET_PARTITION_INFORMATION* info = irp->AssociatedIrp.SystemBuffer;
    if (!isVolume || inLength < sizeof(*info)) return finish(irp, STATUS_INVALID_PARAMETER, 0);
    if (!readSectorZero(sector)) return finish(irp, STATUS_UNRECOGNIZED_MEDIA, 0);
    for (slot = 0; slot < 4; ++slot) {
        UCHAR* entry = sector + PARTITION_TABLE + slot * 16;
        if (entry[4] != 0 && (LONGLONG)le32(entry + 8) * SECTOR == g.volumeStart)
            entry[4] = info->PartitionType;
    }
    g.volumeType = info->PartitionType;
    return finish(irp, imageIo(TRUE, 0, sector, SECTOR), 0);
}

/* ---- the volume's file system, as its boot sector tells it ---- */

typedef struct {
    const WCHAR* name; /* as Windows names it */
    ULONG serialAt;
    ULONG labelAt; /* 0: the boot sector holds no label */
} FileSystem;

static BOOLEAN bytesAre(const UCHAR* at, const char* text) {
    while (*text)
        if (*at++ != (UCHAR)*text++) return FALSE;
    return TRUE;
}

static BOOLEAN recognise(const UCHAR* boot, FileSystem* fs) {
    if (boot[510] != 0x55 || boot[511] != 0xAA) return FALSE;
    if (bytesAre(boot + 3, "NTFS    ")) {
        fs->name = L"NTFS", fs->serialAt = 0x48, fs->labelAt = 0;
    } else if (bytesAre(boot + 3, "EXFAT   ")) {
        fs->name = L"exFAT", fs->serialAt = 0x64, fs->labelAt = 0;
    } else if (bytesAre(boot + 0x52, "FAT32   ")) {
        fs->name = L"FAT32", fs->serialAt = 0x43, fs->labelAt = 0x47;
    } else if (bytesAre(boot + 0x36, "FAT1")) {
        fs->name = L"FAT", fs->serialAt = 0x27, fs->labelAt = 0x2B;
    } else {
        return FALSE;
    }
    return TRUE;
}

/* Copies as much of a name as fits behind a record of `head` bytes; the status tells whether
 * all of it did. */
static NTSTATUS putName(PIRP irp, ULONG outLength, ULONG head, ULONG* lengthField,
                        const WCHAR* name, ULONG bytes) {
    const ULONG room = outLength > head ? outLength - head : 0;
    const ULONG copied = min(room, bytes) & ~1u;
    *lengthField = bytes;
    RtlCopyMemory((UCHAR*)irp->AssociatedIrp.SystemBuffer + head, name, copied);
    return finish(irp, copied == bytes ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW, head + copied);
}

static NTSTATUS onVolumeInformation(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG outLength = stack->Parameters.QueryVolume.Length;
    void* out = irp->AssociatedIrp.SystemBuffer;
    UCHAR boot[SECTOR];
    FileSystem fs;
    count(R_VOLUME_INFO);
    if (!((Extension*)device->DeviceExtension)->isVolume || g.volumeLength == 0 ||
        !NT_SUCCESS(imageIo(FALSE, g.volumeStart, boot, SECTOR)) || !recognise(boot, &fs))
        return finish(irp, STATUS_UNRECOGNIZED_VOLUME, 0);
    switch (stack->Parameters.QueryVolume.FsInformationClass) {
        case FileFsVolumeInformation: {
            const ULONG head = FIELD_OFFSET(FILE_FS_VOLUME_INFORMATION, VolumeLabel);
            FILE_FS_VOLUME_INFORMATION* info = out;
            WCHAR label[11];
            ULONG length = 0;
            int i;
            if (outLength < head) return finish(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
            RtlZeroMemory(info, head);
            info->VolumeSerialNumber = le32(boot + fs.serialAt);
            if (fs.labelAt != 0 && !bytesAre(boot + fs.labelAt, "NO NAME    ")) {
                for (i = 0; i < 11; ++i) label[i] = boot[fs.labelAt + i];
                for (length = 11; length > 0 && label[length - 1] == L' ';) --length;
            }
            return putName(irp, outLength, head, &info->VolumeLabelLength, label,
                           length * sizeof(WCHAR));
        }
        case FileFsAttributeInformation: {
            const ULONG head = FIELD_OFFSET(FILE_FS_ATTRIBUTE_INFORMATION, FileSystemName);
            FILE_FS_ATTRIBUTE_INFORMATION* info = out;
            if (outLength < head) return finish(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
            RtlZeroMemory(info, head);
            info->FileSystemAttributes = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
            info->MaximumComponentNameLength = 255;
            return putName(irp, outLength, head, &info->FileSystemNameLength, fs.name,
                           (ULONG)wcslen(fs.name) * sizeof(WCHAR));
        }
        default:
            return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS onFlush(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    count(R_FLUSH);
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS onControl(PDEVICE_OBJECT device, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const BOOLEAN isVolume = ((Extension*)device->DeviceExtension)->isVolume;
    const LONGLONG size = isVolume ? g.volumeLength : g.imageSize;
    void* out = irp->AssociatedIrp.SystemBuffer;
#define NEED(type)                                                                \
    if (outLength < sizeof(type)) return finish(irp, STATUS_BUFFER_TOO_SMALL, 0); \
    RtlZeroMemory(out, sizeof(type))

    switch (code) {
        case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
            count(R_DEVICE_NUMBER);
            NEED(STORAGE_DEVICE_NUMBER);
            ((STORAGE_DEVICE_NUMBER*)out)->DeviceType = FILE_DEVICE_DISK;
            ((STORAGE_DEVICE_NUMBER*)out)->DeviceNumber = g.diskNumber;
            ((STORAGE_DEVICE_NUMBER*)out)->PartitionNumber = isVolume ? 1 : 0;
            return finish(irp, STATUS_SUCCESS, sizeof(STORAGE_DEVICE_NUMBER));
        }
        case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            VOLUME_DISK_EXTENTS* extents = out;
            count(R_DISK_EXTENTS);
            if (!isVolume) break;
            NEED(VOLUME_DISK_EXTENTS);
            extents->NumberOfDiskExtents = 1;
            extents->Extents[0].DiskNumber = g.diskNumber;
            extents->Extents[0].StartingOffset.QuadPart = g.volumeStart;
            extents->Extents[0].ExtentLength.QuadPart = g.volumeLength;
            return finish(irp, STATUS_SUCCESS, sizeof(VOLUME_DISK_EXTENTS));
        }
        case IOCTL_DISK_GET_DRIVE_GEOMETRY:
            count(R_GEOMETRY);
            NEED(DISK_GEOMETRY);
            fillGeometry(out, size);
            return finish(irp, STATUS_SUCCESS, sizeof(DISK_GEOMETRY));
        case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
            const ULONG used = FIELD_OFFSET(DISK_GEOMETRY_EX, Data);
            count(R_GEOMETRY_EX);
            if (outLength < used) return finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
            RtlZeroMemory(out, used);
            fillGeometry(&((DISK_GEOMETRY_EX*)out)->Geometry, size);
            ((DISK_GEOMETRY_EX*)out)->DiskSize.QuadPart = size;
            return finish(irp, STATUS_SUCCESS, used);
        }
        case IOCTL_DISK_GET_LENGTH_INFO:
            count(R_LENGTH);
            NEED(GET_LENGTH_INFORMATION);
            ((GET_LENGTH_INFORMATION*)out)->Length.QuadPart = size;
            return finish(irp, STATUS_SUCCESS, sizeof(GET_LENGTH_INFORMATION));
        case IOCTL_DISK_GET_PARTITION_INFO_EX:
            count(R_PARTITION_INFO_EX);
            NEED(PARTITION_INFORMATION_EX);
            fillPartition(out, isVolume);
            return finish(irp, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION_EX));
        case IOCTL_DISK_GET_PARTITION_INFO: {
            PARTITION_INFORMATION_EX ex;
            PARTITION_INFORMATION* p = out;
            count(R_PARTITION_INFO);
            NEED(PARTITION_INFORMATION);
            fillPartition(&ex, isVolume);
            p->StartingOffset = ex.StartingOffset;
            p->PartitionLength = ex.PartitionLength;
            p->PartitionNumber = ex.PartitionNumber;
            p->HiddenSectors = ex.Mbr.HiddenSectors;
            p->PartitionType = ex.Mbr.PartitionType;
            p->RecognizedPartition = ex.Mbr.RecognizedPartition;
            return finish(irp, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION));
        }
        case IOCTL_DISK_SET_PARTITION_INFO:
            count(R_SET_PARTITION_INFO);
            return setPartitionInfo(irp, inLength, isVolume);
        case IOCTL_DISK_GET_DRIVE_LAYOUT:
        case IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
            const BOOLEAN extended = code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX;
            count(extended ? R_LAYOUT_EX : R_LAYOUT);
            if (isVolume) break;
            return getLayout(irp, outLength, extended);
        }
        case IOCTL_DISK_SET_DRIVE_LAYOUT:
        case IOCTL_DISK_SET_DRIVE_LAYOUT_EX: {
            const BOOLEAN extended = code == IOCTL_DISK_SET_DRIVE_LAYOUT_EX;
            count(extended ? R_SET_LAYOUT_EX : R_SET_LAYOUT);
            if (isVolume) break;
            return setLayout(irp, inLength, extended);
        }
        case IOCTL_DISK_UPDATE_PROPERTIES:
            count(R_UPDATE_PROPERTIES);
            findVolume();
            return finish(irp, STATUS_SUCCESS, 0);
        case IOCTL_DISK_VERIFY:
            count(R_VERIFY);
            return finish(irp, STATUS_SUCCESS, 0);
        case FSCTL_ALLOW_EXTENDED_DASD_IO:
            count(R_EXTENDED_DASD);
            return finish(irp, STATUS_SUCCESS, 0);
        case FSCTL_LOCK_VOLUME:
            count(R_LOCK);
            return finish(irp, STATUS_SUCCESS, 0);
        case FSCTL_UNLOCK_VOLUME:
            count(R_UNLOCK);
            return finish(irp, STATUS_SUCCESS, 0);
        case FSCTL_DISMOUNT_VOLUME:
            count(R_DISMOUNT);
            return finish(irp, STATUS_SUCCESS, 0);
        default:
            g.lastUnknownCode = code;
            count(R_UNKNOWN);
            break;
    }
#undef NEED
    return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* ---- loading and unloading ---- */

static NTSTATUS openFile(HANDLE* file, PCWSTR path, ULONG disposition) {
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    RtlInitUnicodeString(&name, path);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    return ZwCreateFile(file, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL,
                        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

/* A value of the service key: a string into text (count in WCHARs), or a DWORD. */
static BOOLEAN readParameter(HANDLE key, PCWSTR valueName, WCHAR* text, ULONG textCount,
                             ULONG* number) {
    static UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 1024];
    KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    UNICODE_STRING name;
    ULONG got = 0;
    RtlInitUnicodeString(&name, valueName);
    if (!NT_SUCCESS(
            ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof(buffer), &got)))
        return FALSE;
    if (number != NULL && info->Type == REG_DWORD && info->DataLength == sizeof(ULONG)) {
        *number = *(ULONG*)info->Data;
        return TRUE;
    }
    if (text != NULL && info->Type == REG_SZ && info->DataLength < textCount * sizeof(WCHAR)) {
        RtlZeroMemory(text, textCount * sizeof(WCHAR));
        RtlCopyMemory(text, info->Data, info->DataLength);
        return TRUE;
    }
    return FALSE;
}

static NTSTATUS readParameters(PUNICODE_STRING registryPath, WCHAR* image, WCHAR* counts) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    NTSTATUS status;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    status = ZwOpenKey(&key, KEY_READ, &attributes);
    if (!NT_SUCCESS(status)) return status;
    g.diskNumber = 9;
    readParameter(key, L"DiskNumber", NULL, 0, &g.diskNumber);
    counts[0] = 0;
    readParameter(key, L"Counts", counts, 512, NULL);
    status = readParameter(key, L"Image", image, 512, NULL) ? STATUS_SUCCESS
                                                            : STATUS_OBJECT_NAME_NOT_FOUND;
    ZwClose(key);
    return status;
}

static void onUnload(PDRIVER_OBJECT driver) {
    (void)driver;
    IoDeleteSymbolicLink(&volumeLink);
    IoDeleteSymbolicLink(&diskLink);
    if (g.volume) IoDeleteDevice(g.volume);
    if (g.disk) IoDeleteDevice(g.disk);
    if (g.counts) ZwClose(g.counts);
    if (g.image) ZwClose(g.image);
}

static NTSTATUS makeDevice(PDRIVER_OBJECT driver, PCWSTR deviceName, PUNICODE_STRING link,
                           BOOLEAN isVolume, PDEVICE_OBJECT* device) {
    UNICODE_STRING name;
    NTSTATUS status;
    RtlInitUnicodeString(&name, deviceName);
    status = IoCreateDevice(driver, sizeof(Extension), &name, FILE_DEVICE_DISK, 0, FALSE, device);
    if (!NT_SUCCESS(status)) return status;
    ((Extension*)(*device)->DeviceExtension)->isVolume = isVolume;
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    /* The mount manager owns the drive letter of a configured drive: take it over. */
    if (isVolume) IoDeleteSymbolicLink(link);
    return IoCreateSymbolicLink(link, &name);
}

static void appendDecimal(WCHAR* out, ULONG value) {
    char digits[12];
    const ULONG n = appendNumber(digits, 0, value);
    ULONG i;
    while (*out) ++out;
    for (i = 0; i < n; ++i) out[i] = (WCHAR)digits[i];
    out[n] = 0;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    static WCHAR image[512];
    static WCHAR counts[512];
    NTSTATUS status = readParameters(registryPath, image, counts);
    if (!NT_SUCCESS(status)) return status;
    status = openFile(&g.image, image, FILE_OPEN);
    if (!NT_SUCCESS(status)) return status;
    if (!readImageSize()) {
        ZwClose(g.image);
        return STATUS_UNSUCCESSFUL;
    }
    if (counts[0] != 0 && !NT_SUCCESS(openFile(&g.counts, counts, FILE_OVERWRITE_IF)))
        g.counts = NULL;
    findVolume();
    writeCounts();

    driver->MajorFunction[IRP_MJ_CREATE] = onOpenClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = onOpenClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = onOpenClose;
    driver->MajorFunction[IRP_MJ_READ] = onReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = onReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = onControl;
    driver->MajorFunction[IRP_MJ_FILE_SYSTEM_CONTROL] = onControl;
    driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = onFlush;
    driver->MajorFunction[IRP_MJ_QUERY_VOLUME_INFORMATION] = onVolumeInformation;
    driver->DriverUnload = onUnload;

    RtlCopyMemory(g.diskLinkName, L"\\DosDevices\\PhysicalDrive", 52);
    appendDecimal(g.diskLinkName, g.diskNumber);
    RtlInitUnicodeString(&diskLink, g.diskLinkName);
    status = makeDevice(driver, L"\\Device\\QelWineDisk", &diskLink, FALSE, &g.disk);
    if (NT_SUCCESS(status))
        status = makeDevice(driver, L"\\Device\\QelWineDiskVolume", &volumeLink, TRUE, &g.volume);
    if (!NT_SUCCESS(status)) onUnload(driver);
    return status;
}
