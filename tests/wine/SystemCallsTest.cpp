// The seam's file, directory, registry, module and system calls against the real (Wine) system.

#include <cstring>
#include <string>

#include "WineTestSupport.h"
#include "disk/Records.h"
#include "repartition/RepartitionChecks.h"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace qel {
namespace {

using wine_test::TempFolder;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(Win32Files, WriteSeekReadAndAttributesRoundTrip) {
    Win32Platform sys;
    TempFolder temp;
    const Text file = temp / u"data.bin";

    {
        Handle out = sys.createFile(file, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(out.valid());
        std::uint32_t written = 0;
        const Bytes data = bytesOf("0123456789");
        ASSERT_TRUE(sys.writeFile(out, data, written));
        EXPECT_EQ(written, 10u);
    }
    Handle in =
        sys.createFile(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_TRUE(in.valid());
    std::int64_t position = -1;
    ASSERT_TRUE(sys.setFilePointer(in, -4, FILE_END, position));
    EXPECT_EQ(position, 6);
    Bytes buffer(8, 0);
    std::uint32_t got = 0;
    ASSERT_TRUE(sys.readFile(in, buffer, got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), "6789");
    ASSERT_TRUE(sys.readFile(in, buffer, got));  // at the end: success, nothing read
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(sys.setFilePointer(in, -11, FILE_CURRENT, position));
    in.close();

    EXPECT_TRUE(fileExists(sys, file));
    EXPECT_TRUE(directoryExists(sys, temp.path()));
    EXPECT_FALSE(pathExists(sys, temp / u"missing"));
    ASSERT_TRUE(sys.setFileAttributes(file, FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(*sys.fileAttributes(file) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_FALSE(sys.createFile(temp / u"missing", GENERIC_READ, 0, OPEN_EXISTING, 0).valid());
}

TEST(Win32Files, WholeFileHelpersCopyAndDelete) {
    Win32Platform sys;
    TempFolder temp;
    const Text nested = temp / u"a\\b\\c";
    ASSERT_TRUE(forceDirectories(sys, nested));
    const Text file = nested + u"\\Tệp.txt";  // a name outside the ANSI code page
    writeWholeFile(sys, file, bytesOf("payload"));
    EXPECT_EQ(readWholeFile(sys, file), bytesOf("payload"));

    const Text copy = temp / u"copy.txt";
    EXPECT_TRUE(sys.copyFile(file, copy, true));
    EXPECT_FALSE(sys.copyFile(file, copy, true));  // it exists now
    EXPECT_TRUE(sys.copyFile(file, copy, false));
    EXPECT_TRUE(sys.deleteFile(copy));
    EXPECT_FALSE(sys.deleteFile(copy));
    EXPECT_THROW(writeWholeFile(sys, temp / u"no\\such\\folder.txt", bytesOf("x")), IoError);
}

TEST(Win32Files, FindFirstFileReportsSizesFoldersAndWildcards) {
    Win32Platform sys;
    TempFolder temp;
    writeWholeFile(sys, temp / u"seven.txt", bytesOf("1234567"));
    writeWholeFile(sys, temp / u"empty.txt", {});
    ASSERT_TRUE(sys.createDirectory(temp / u"folder"));

    const auto seven = sys.findFirstFile(temp / u"seven.txt");
    ASSERT_TRUE(seven);
    EXPECT_EQ(seven->sizeLow, 7u);
    EXPECT_EQ(seven->sizeHigh, 0u);
    EXPECT_EQ(seven->name, u"seven.txt");
    EXPECT_EQ(sys.findFirstFile(temp / u"empty.txt")->sizeLow, 0u);
    const auto folder = sys.findFirstFile(temp / u"folder");
    ASSERT_TRUE(folder);
    EXPECT_NE(folder->attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    const auto wildcard = sys.findFirstFile(temp / u"sev*.t?t");
    ASSERT_TRUE(wildcard);
    EXPECT_EQ(wildcard->name, u"seven.txt");
    EXPECT_FALSE(sys.findFirstFile(temp / u"nothing*"));
}

TEST(Win32Files, ShellOperationDeletesANestedTreeButNotAnUnterminatedList) {
    Win32Platform sys;
    TempFolder temp;
    const Text tree = temp / u"qelextract";
    ASSERT_TRUE(forceDirectories(sys, tree + u"\\Lang\\deep"));
    writeWholeFile(sys, tree + u"\\Lang\\vi.txt", bytesOf("vi"));
    writeWholeFile(sys, tree + u"\\7zG.exe", bytesOf("MZ"));
    sys.setFileAttributes(tree + u"\\7zG.exe", FILE_ATTRIBUTE_READONLY);

    // Without the empty name that ends the list nothing is passed to the shell.
    EXPECT_NE(sys.shellFileOperation(0, FO_DELETE, tree, FOF_SILENT | FOF_NOCONFIRMATION), 0);
    EXPECT_TRUE(directoryExists(sys, tree));

    Text list = tree;
    list.push_back(u'\0');
    EXPECT_EQ(sys.shellFileOperation(0, FO_DELETE, list, FOF_SILENT | FOF_NOCONFIRMATION), 0);
    EXPECT_FALSE(pathExists(sys, tree));
    EXPECT_TRUE(directoryExists(sys, temp.path()));
}

TEST(Win32Files, VolumeSizeQueryFillsTheRecord) {
    Win32Platform sys;
    TempFolder temp;
    writeWholeFile(sys, temp / u"f", bytesOf("x"));
    Handle file = sys.createFile(temp / u"f", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_TRUE(file.valid());
    Bytes record(records::fs_size_information::kSize, 0);
    EXPECT_EQ(sys.queryVolumeSizeInformation(file, record), 0);
    EXPECT_GT(records::readU32(record, records::fs_size_information::kSectorsPerAllocationUnit),
              0u);
    EXPECT_GT(records::readU32(record, records::fs_size_information::kBytesPerSector), 0u);
    EXPECT_GT(records::readI64(record, records::fs_size_information::kTotalAllocationUnits), 0);
}

TEST(Win32System, EnvironmentDirectoriesAndVolumes) {
    Win32Platform sys;
    SetEnvironmentVariableW(L"QEL_EMPTY_VARIABLE", L"");
    SetEnvironmentVariableW(L"QEL_LONG_VARIABLE", std::wstring(600, L'x').c_str());
    EXPECT_EQ(sys.environmentVariable(u"QEL_EMPTY_VARIABLE"), Text());
    EXPECT_EQ(sys.environmentVariable(u"QEL_LONG_VARIABLE"), Text(600, u'x'));
    EXPECT_FALSE(sys.environmentVariable(u"QEL_NO_SUCH_VARIABLE"));

    TempFolder temp;
    const Text before = sys.currentDirectory();
    ASSERT_TRUE(sys.setCurrentDirectory(temp.path()));
    EXPECT_TRUE(equalsIgnoreAsciiCase(sys.currentDirectory(), temp.path()));
    sys.setCurrentDirectory(before);

    EXPECT_EQ(sys.driveType(u"C:"), static_cast<std::uint32_t>(DRIVE_FIXED));
    EXPECT_EQ(sys.driveType(u"C:\\"), static_cast<std::uint32_t>(DRIVE_FIXED));
    EXPECT_TRUE(sys.volumeInformation(u"C:"));
    EXPECT_GT(sys.diskTotalBytes(u"C:").value_or(0), 0u);
    EXPECT_FALSE(sys.systemDirectory().empty());
}

TEST(Win32System, VersionRegistryAndAnsiText) {
    Win32Platform sys;
    const WindowsVersion version = sys.windowsVersion();
    EXPECT_GE(version.major, 5u);
    EXPECT_GT(version.build, 0u);
    EXPECT_FALSE(version.server);  // the prefix is a workstation

    RegistryKey key =
        sys.openLocalMachineKey(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", KEY_READ);
    ASSERT_TRUE(key.valid());
    EXPECT_TRUE(sys.registryString(key, u"CurrentBuildNumber"));
    EXPECT_FALSE(sys.registryDword(key, u"CurrentBuildNumber"));  // a string, not a number
    EXPECT_FALSE(sys.registryString(key, u"NoSuchValue"));
    EXPECT_FALSE(sys.openLocalMachineKey(u"SOFTWARE\\NoSuchKey\\QEL", KEY_READ).valid());

    EXPECT_EQ(sys.toAnsi(u"Volume{ab-12}"), "Volume{ab-12}");
    EXPECT_EQ(sys.fromAnsi("E:\\QEL"), u"E:\\QEL");
    EXPECT_FALSE(sys.systemMessage(ERROR_FILE_NOT_FOUND).empty());
    const char16_t separator = sys.decimalSeparator();
    EXPECT_TRUE(separator == u'.' || separator == u',');
    const auto first = sys.tickCount();
    Sleep(20);
    EXPECT_GE(sys.tickCount(), first + 10);
}

// Keys written into the test prefix for one test, removed again at its end.
class WrittenKeys {
public:
    ~WrittenKeys() {
        for (auto key = created_.rbegin(); key != created_.rend(); ++key)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key->c_str());
    }
    void dword(const std::wstring& path, const wchar_t* name, DWORD value) {
        set(path, name, REG_DWORD, &value, sizeof(value));
    }
    void text(const std::wstring& path, const wchar_t* name, const std::wstring& value,
              DWORD type = REG_SZ) {
        set(path, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * 2));
    }
    void set(const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
             DWORD size) {
        if (const auto missing = firstMissing(path); !missing.empty()) created_.push_back(missing);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }

private:
    // The shortest part of the path that names no key yet; empty when the key exists.
    static std::wstring firstMissing(const std::wstring& path) {
        for (std::size_t at = path.find(L'\\');; at = path.find(L'\\', at + 1)) {
            const std::wstring prefix = path.substr(0, at);
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_READ, &key) !=
                ERROR_SUCCESS)
                return prefix;
            RegCloseKey(key);
            if (at == std::wstring::npos) return {};
        }
    }

    std::vector<std::wstring> created_;
};

TEST(Win32Registry, DiskEnumerationAndRemovalPolicyAreReadBack) {
    const std::wstring diskEnum = L"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
    const std::wstring device = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\QELTEST\\7";
    const std::wstring policy = device + L"\\Device Parameters\\Classpnp";
    WrittenKeys keys;
    keys.dword(diskEnum, L"Count", 8);
    keys.text(diskEnum, L"7", L"USBSTOR\\QELTEST\\7");
    keys.text(device, L"FriendlyName", L"QEL Stick USB Device", REG_EXPAND_SZ);
    keys.dword(policy, L"UserRemovalPolicy", 2);
    const DWORD binary = 2;
    keys.set(policy, L"Binary", REG_BINARY, &binary, sizeof(binary));

    Win32Platform sys;
    {
        const RegistryKey key = sys.openLocalMachineKey(Text(diskEnum.begin(), diskEnum.end()),
                                                        KEY_READ);
        ASSERT_TRUE(key.valid());
        EXPECT_EQ(sys.registryDword(key, u"Count"), 8u);
        EXPECT_EQ(sys.registryString(key, u"7"), u"USBSTOR\\QELTEST\\7");
        EXPECT_FALSE(sys.registryString(key, u"Count"));  // a number, not a text
    }
    {
        const RegistryKey key = sys.openLocalMachineKey(
            u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\QELTEST\\7", KEY_READ);
        EXPECT_EQ(sys.registryString(key, u"FriendlyName"), u"QEL Stick USB Device");
    }
    EXPECT_EQ(ReadRemovalPolicy(sys, u"7"), RemovalPolicy::OptimisedForPerformance);
    EXPECT_EQ(ReadRemovalPolicy(sys, u"6"), RemovalPolicy::DiskUnknown);
    keys.dword(policy, L"UserRemovalPolicy", 3);
    EXPECT_EQ(ReadRemovalPolicy(sys, u"7"), RemovalPolicy::Other);
    const RegistryKey key =
        sys.openLocalMachineKey(Text(policy.begin(), policy.end()), KEY_READ);
    EXPECT_FALSE(sys.registryDword(key, u"Binary"));  // four bytes, but not a number
}

TEST(Win32System, FunctionsBoundAtRunTimeAreCalledWithTheirSignatures) {
    Win32Platform sys;
    const ModuleId kernel32 = sys.moduleHandle(u"kernel32.dll");
    ASSERT_NE(kernel32, 0u);
    EXPECT_EQ(sys.procAddress(kernel32, "NoSuchFunction"), 0u);

    bool wow64 = true;
    ASSERT_TRUE(sys.callIsWow64Process(sys.procAddress(kernel32, "IsWow64Process"), wow64));
    EXPECT_FALSE(wow64);  // a 64-bit process
    EXPECT_FALSE(sys.callIsWow64Process(0, wow64));

    // A buffer too small for any volume name fails without writing past it.
    std::string name = "unchanged";
    EXPECT_EQ(sys.callFindFirstVolumeA(sys.procAddress(kernel32, "FindFirstVolumeA"), name, 4), 0u);
    EXPECT_EQ(name, "unchanged");
    EXPECT_FALSE(sys.callDeleteVolumeMountPointA(0, "Q:\\"));

    const ModuleId loaded = sys.loadLibrary(u"shell32.dll");
    EXPECT_NE(loaded, 0u);
    sys.freeLibrary(loaded);
    EXPECT_EQ(sys.loadLibrary(u"no-such-library.dll"), 0u);
    EXPECT_EQ(sys.lastError(), static_cast<std::uint32_t>(ERROR_MOD_NOT_FOUND));
}

TEST(Win32Resources, RawDataOfTheProgramIsFoundWithoutRegardToCase) {
    Win32Platform sys;
    const auto extractor = sys.rcData(u"7zG");
    ASSERT_TRUE(extractor);
    ASSERT_GT(extractor->size(), 2u);
    EXPECT_EQ((*extractor)[0], 'M');
    EXPECT_EQ((*extractor)[1], 'Z');
    const auto upper = sys.rcData(u"7ZG");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->data(), extractor->data());
    EXPECT_EQ(upper->size(), extractor->size());
    const auto payload = sys.rcData(u"QEL7z");
    ASSERT_TRUE(payload);
    ASSERT_GT(payload->size(), 6u);
    EXPECT_EQ(std::memcmp(payload->data(), "7z\xBC\xAF\x27\x1C", 6), 0);
    EXPECT_FALSE(sys.rcData(u"NoSuchResource"));
}

}  // namespace
}  // namespace qel
