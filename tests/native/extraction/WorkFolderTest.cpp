#include <gtest/gtest.h>

#include "app/ChildProcess.h"
#include "app/WorkFolder.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::ChildOutcome;
using fake::FakeMachine;

const Text kTemp = u"C:\\Users\\user\\AppData\\Local\\Temp";

void putResources(FakeMachine& machine) {
    machine.setResource(u"QEL7Z", Bytes{'7', 'z', 0xBC, 0xAF});
    machine.setResource(u"7ZG", Bytes{'M', 'Z', 1});
    machine.setResource(u"7ZDLL", Bytes{'M', 'Z', 2});
    machine.setResource(u"7ZVI", Bytes{'v', 'i'});
    machine.setResource(u"F32", Bytes{'M', 'Z', 3});
}

TEST(WorkFolder, WorkBaseComesFromTemp) {
    FakeMachine machine;
    EXPECT_EQ(WorkBase(machine), kTemp + u"\\");
    EXPECT_EQ(WorkFolder(WorkBase(machine)), kTemp + u"\\qelextract");
    machine.setEnv(u"TEMP", std::nullopt);
    EXPECT_EQ(WorkBase(machine), u"\\");
    EXPECT_EQ(WorkFolder(WorkBase(machine)), u"\\qelextract");
}

TEST(WorkFolder, StagingWritesAndOverwritesTheFiveFiles) {
    FakeMachine machine;
    putResources(machine);
    const Text folder = kTemp + u"\\qelextract\\";
    machine.putDirectory(folder + u"Lang");
    machine.putFile(folder + u"7zG.exe", std::string("an older and longer 7-Zip"));

    StageWorkFolder(machine, kTemp + u"\\");
    EXPECT_EQ(machine.fileBytes(folder + u"RAZEvor.7z"), (Bytes{'7', 'z', 0xBC, 0xAF}));
    EXPECT_EQ(machine.fileText(folder + u"7zG.exe"), "MZ\x01");
    EXPECT_EQ(machine.fileText(folder + u"7z.dll"), "MZ\x02");
    EXPECT_EQ(machine.fileText(folder + u"Lang\\vi.txt"), "vi");
    EXPECT_EQ(machine.fileText(folder + u"fat32format.exe"), "MZ\x03");
    EXPECT_EQ(machine.listTree(folder).size(), 6u);  // five files and Lang
    EXPECT_EQ(machine.openHandles(), 0);
}

TEST(WorkFolder, StagingWithoutTempUsesTheCurrentDrivesRoot) {
    FakeMachine machine;
    putResources(machine);
    machine.setEnv(u"TEMP", std::nullopt);
    ASSERT_TRUE(forceDirectories(machine, u"\\qelextract\\Lang"));
    StageWorkFolder(machine, WorkBase(machine));
    EXPECT_TRUE(machine.hasFile(u"C:\\qelextract\\Lang\\vi.txt"));
    EXPECT_TRUE(machine.hasFile(u"C:\\qelextract\\RAZEvor.7z"));
}

TEST(WorkFolder, StagingFailuresAreUnexpectedErrors) {
    FakeMachine machine;
    putResources(machine);
    const Text base = kTemp + u"\\";
    machine.putDirectory(base + u"qelextract\\Lang");

    machine.failWritesUnder(base + u"qelextract\\Lang");  // a full or protected temp folder
    EXPECT_THROW(StageWorkFolder(machine, base), UnexpectedError);
    EXPECT_TRUE(machine.hasFile(base + u"qelextract\\7z.dll"));  // written before the failure
    EXPECT_FALSE(machine.hasFile(base + u"qelextract\\fat32format.exe"));
    EXPECT_EQ(machine.openHandles(), 0);

    FakeMachine withoutFormatter;
    withoutFormatter.setResource(u"QEL7z", Bytes{1});
    withoutFormatter.setResource(u"7zG", Bytes{1});
    withoutFormatter.setResource(u"7zDLL", Bytes{1});
    withoutFormatter.setResource(u"7zVI", Bytes{1});
    withoutFormatter.putDirectory(base + u"qelextract\\Lang");
    EXPECT_THROW(StageWorkFolder(withoutFormatter, base), UnexpectedError);
}

TEST(WorkFolder, DeletionIsOneSilentShellOperation) {
    FakeMachine machine;
    const Text base = kTemp + u"\\";
    machine.putFile(base + u"qelextract\\Lang\\vi.txt", std::string("vi"));
    machine.putFile(base + u"qelextractor.txt", std::string("a neighbour"));
    DeleteWorkFolder(machine, 7, base);

    ASSERT_EQ(machine.shellFileOps().size(), 1u);
    const auto& operation = machine.shellFileOps()[0];
    EXPECT_EQ(operation.function, win::FO_DELETE);
    EXPECT_EQ(operation.from, base + Text(u"qelextract\0\0", 12));
    EXPECT_EQ(operation.flags, 0x14);
    EXPECT_EQ(operation.window, 7u);
    EXPECT_FALSE(machine.hasDirectory(base + u"qelextract"));
    EXPECT_TRUE(machine.hasFile(base + u"qelextractor.txt"));
}

TEST(ChildProcesses, WaitingPumpsAfterEveryTimedOutWaitAndReadsTheExitCode) {
    FakeMachine machine;
    int pumpsWhileRunning = 0;
    machine.onPump = [&] { pumpsWhileRunning = machine.openProcesses(); };
    machine.onProcess(u"\"C:\\tool.exe\"", [](FakeMachine&, const Text&) {
        return ChildOutcome{.exitCode = 3, .waitsBeforeEnd = 4};
    });
    std::uint32_t exitCode = 0;
    EXPECT_TRUE(RunProcess(machine, u"\"C:\\tool.exe\" /x", true, win::SW_HIDE, exitCode));
    EXPECT_EQ(exitCode, 3u);
    EXPECT_EQ(machine.pumpCount(), 4);
    EXPECT_EQ(pumpsWhileRunning, 1);  // the child was still there while messages were pumped
    EXPECT_EQ(machine.openProcesses(), 0);

    ASSERT_EQ(machine.processes().size(), 1u);
    const auto& started = machine.processes()[0];
    EXPECT_EQ(started.commandLine, u"\"C:\\tool.exe\" /x");
    EXPECT_EQ(started.creationFlags, 0x220u);
    EXPECT_EQ(started.startupFlags, win::STARTF_USESHOWWINDOW);
    EXPECT_EQ(started.showWindow, win::SW_HIDE);
}

TEST(ChildProcesses, UnreadableExitCodeIs7117) {
    FakeMachine machine;
    machine.onProcess(u"tool", [](FakeMachine&, const Text&) {
        return ChildOutcome{.exitCode = 0, .exitCodeReadable = false};
    });
    std::uint32_t exitCode = 0;
    EXPECT_TRUE(RunProcess(machine, u"tool", true, win::SW_SHOWNORMAL, exitCode));
    EXPECT_EQ(exitCode, kUnreadableExitCode);
    EXPECT_EQ(machine.processes()[0].showWindow, win::SW_SHOWNORMAL);
}

TEST(ChildProcesses, ExitCodeUntouchedWhenNotStartedOrNotWaitedFor) {
    FakeMachine machine;
    std::uint32_t exitCode = 12345;
    EXPECT_FALSE(RunProcess(machine, u"missing.exe", true, win::SW_HIDE, exitCode));
    EXPECT_EQ(exitCode, 12345u);
    EXPECT_EQ(machine.pumpCount(), 0);

    machine.onProcess(u"companion", [](FakeMachine&, const Text&) {
        return ChildOutcome{.exitCode = 9, .waitsBeforeEnd = 100};
    });
    EXPECT_TRUE(RunProcess(machine, u"companion", false, win::SW_SHOWNORMAL, exitCode));
    EXPECT_EQ(exitCode, 12345u);
    EXPECT_EQ(machine.pumpCount(), 0);
    EXPECT_EQ(machine.openProcesses(), 0);
}

TEST(ChildProcesses, SevenZipCommandLineQuotesBothPaths) {
    EXPECT_EQ(SevenZipCommandLine(u"C:\\Temp\\", u"E:"),
              u"\"C:\\Temp\\qelextract\\7zG.exe\" x -y -o\"E:\\\" -ptubrisk "
              u"\"C:\\Temp\\qelextract\\RAZEvor.7z\"");
    EXPECT_EQ(SevenZipCommandLine(u"C:\\Documents and Settings\\An Nguyen\\Temp\\", u"F:"),
              u"\"C:\\Documents and Settings\\An Nguyen\\Temp\\qelextract\\7zG.exe\" x -y "
              u"-o\"F:\\\" -ptubrisk "
              u"\"C:\\Documents and Settings\\An Nguyen\\Temp\\qelextract\\RAZEvor.7z\"");

    FakeMachine machine;
    machine.setEnv(u"TEMP", std::nullopt);
    EXPECT_EQ(SevenZipCommandLine(WorkBase(machine), u"E:"),
              u"\"\\qelextract\\7zG.exe\" x -y -o\"E:\\\" -ptubrisk \"\\qelextract\\RAZEvor.7z\"");
}

}  // namespace
}  // namespace qel
