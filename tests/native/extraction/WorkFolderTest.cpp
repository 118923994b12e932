#include <gtest/gtest.h>

#include "fake/FakeMachine.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/WorkFolder.h"

namespace qel {
namespace {

using fake::ChildOutcome;
using fake::FakeMachine;

const Text kTemp = u"C:\\Users\\user\\AppData\\Local\\Temp\\";
const char16_t* const kResources[] = {u"QEL7Z", u"7ZG", u"7ZDLL", u"7ZVI", u"F32"};

void putResources(FakeMachine& machine) {
    std::uint8_t tag = 0;
    for (const char16_t* name : kResources) machine.setResource(name, Bytes{'M', 'Z', ++tag});
}

TEST(WorkFolder, StagingWritesOverwritesAndWorksWithoutTemp) {
    FakeMachine machine;
    putResources(machine);
    machine.putDirectory(kTemp + u"qelextract\\Lang");
    machine.putFile(kTemp + u"qelextract\\7zG.exe", std::string("an older and longer 7-Zip"));
    StageWorkFolder(machine, WorkBase(machine));
    const Text folder = kTemp + u"qelextract\\";
    EXPECT_EQ(machine.fileText(folder + u"RAZEvor.7z"), "MZ\x01");
    EXPECT_EQ(machine.fileText(folder + u"7zG.exe"), "MZ\x02");
    EXPECT_EQ(machine.fileText(folder + u"7z.dll"), "MZ\x03");
    EXPECT_EQ(machine.fileText(folder + u"Lang\\vi.txt"), "MZ\x04");
    EXPECT_EQ(machine.fileText(folder + u"fat32format.exe"), "MZ\x05");
    EXPECT_EQ(machine.openHandles(), 0);

    // Without TEMP the work folder is \qelextract on the current drive.
    machine.setEnv(u"TEMP", std::nullopt);
    EXPECT_EQ(WorkFolder(WorkBase(machine)), u"\\qelextract");
    ASSERT_TRUE(forceDirectories(machine, u"\\qelextract\\Lang"));
    StageWorkFolder(machine, WorkBase(machine));
    EXPECT_TRUE(machine.hasFile(u"C:\\qelextract\\Lang\\vi.txt"));
}

TEST(WorkFolder, MissingResourceOrFailedWriteIsAnUnexpectedError) {
    FakeMachine machine;
    putResources(machine);
    machine.putDirectory(kTemp + u"qelextract\\Lang");
    machine.failWritesUnder(kTemp + u"qelextract\\Lang");  // a full or protected folder
    EXPECT_THROW(StageWorkFolder(machine, kTemp), UnexpectedError);
    EXPECT_FALSE(machine.hasFile(kTemp + u"qelextract\\fat32format.exe"));
    EXPECT_EQ(machine.openHandles(), 0);

    FakeMachine withoutFormatter;
    for (const char16_t* name : {u"QEL7z", u"7zG", u"7zDLL", u"7zVI"})
        withoutFormatter.setResource(name, Bytes{1});
    withoutFormatter.putDirectory(kTemp + u"qelextract\\Lang");
    EXPECT_THROW(StageWorkFolder(withoutFormatter, kTemp), UnexpectedError);
}

TEST(WorkFolder, DeletionIsOneSilentShellOperation) {
    FakeMachine machine;
    machine.putFile(kTemp + u"qelextract\\Lang\\vi.txt", std::string("vi"));
    machine.putFile(kTemp + u"qelextractor.txt", std::string("a neighbour"));
    DeleteWorkFolder(machine, 7, kTemp);
    ASSERT_EQ(machine.shellFileOps().size(), 1u);
    const auto& operation = machine.shellFileOps()[0];
    EXPECT_EQ(operation.function, win::FO_DELETE);
    EXPECT_EQ(operation.from, kTemp + Text(u"qelextract\0\0", 12));
    EXPECT_EQ(operation.flags, 0x14);
    EXPECT_EQ(operation.window, 7u);
    EXPECT_FALSE(machine.hasDirectory(kTemp + u"qelextract"));
    EXPECT_TRUE(machine.hasFile(kTemp + u"qelextractor.txt"));
}

TEST(ChildProcesses, WaitingPumpsBetweenTimedOutWaitsAndReadsTheExitCode) {
    FakeMachine machine;
    int pumpsWhileRunning = 0;
    machine.onPump = [&] { pumpsWhileRunning += machine.openProcesses(); };
    machine.onProcess(u"tool", [](FakeMachine&, const Text& line) {
        return ChildOutcome{
            .exitCode = 3, .exitCodeReadable = line != u"tool /x", .waitsBeforeEnd = 4};
    });
    std::uint32_t exitCode = 0;
    EXPECT_TRUE(RunProcess(machine, u"tool /y", true, win::SW_HIDE, exitCode));
    EXPECT_EQ(exitCode, 3u);
    EXPECT_EQ(pumpsWhileRunning, 4);
    const auto& started = machine.processes()[0];
    EXPECT_EQ(started.creationFlags, 0x220u);
    EXPECT_EQ(started.startupFlags, win::STARTF_USESHOWWINDOW);
    EXPECT_EQ(started.showWindow, win::SW_HIDE);

    EXPECT_TRUE(RunProcess(machine, u"tool /x", true, win::SW_SHOWNORMAL, exitCode));
    EXPECT_EQ(exitCode, kUnreadableExitCode);
    EXPECT_EQ(machine.processes()[1].showWindow, win::SW_SHOWNORMAL);
    EXPECT_EQ(machine.openProcesses(), 0);
}

TEST(ChildProcesses, ExitCodeUntouchedWhenNotStartedOrNotWaitedFor) {
    FakeMachine machine;
    std::uint32_t exitCode = 12345;
    EXPECT_FALSE(RunProcess(machine, u"missing.exe", true, win::SW_HIDE, exitCode));
    machine.onProcess(u"companion", [](FakeMachine&, const Text&) {
        return ChildOutcome{.exitCode = 9, .waitsBeforeEnd = 100};
    });
    EXPECT_TRUE(RunProcess(machine, u"companion", false, win::SW_SHOWNORMAL, exitCode));
    EXPECT_EQ(exitCode, 12345u);
    EXPECT_EQ(machine.pumpCount(), 0);
    EXPECT_EQ(machine.openProcesses(), 0);
}

TEST(ChildProcesses, SevenZipCommandLineQuotesBothPaths) {
    EXPECT_EQ(SevenZipCommandLine(u"C:\\Documents and Settings\\An\\Temp\\", u"E:"),
              u"\"C:\\Documents and Settings\\An\\Temp\\qelextract\\7zG.exe\" x -y -o\"E:\\\" "
              u"-ptubrisk \"C:\\Documents and Settings\\An\\Temp\\qelextract\\RAZEvor.7z\"");
    EXPECT_EQ(SevenZipCommandLine(u"\\", u"E:"),  // TEMP unset
              u"\"\\qelextract\\7zG.exe\" x -y -o\"E:\\\" -ptubrisk \"\\qelextract\\RAZEvor.7z\"");
}

}  // namespace
}  // namespace qel
