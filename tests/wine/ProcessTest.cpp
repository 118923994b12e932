// Child processes started through the seam: exit codes, waits, exact command lines, failures.

#include <cstdlib>
#include <string>

#include "WineTestSupport.h"

#include <gtest/gtest.h>

namespace qel {
namespace {

constexpr std::uint32_t kCreationFlags = CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;

Text ownProgram() {
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    return win32::fromWide(path);
}

// Waits as the program does: steps of 10 ms with the window messages pumped in between.
WaitResult waitPumping(Win32Platform& sys, const ProcessHandle& child, int& timeouts) {
    for (int step = 0; step < 3000; ++step) {
        const WaitResult result = sys.waitForProcess(child, 10);
        if (result != WaitResult::TimedOut) return result;
        ++timeouts;
        sys.pumpPendingMessages();
    }
    return WaitResult::TimedOut;
}

// Run as a child by the tests below (filtered in with --gtest_also_run_disabled_tests): writes
// its own command line and start-up flags and show mode to the file named by QEL_CHILD_OUTPUT,
// then takes a while to end.
TEST(ChildHelper, DISABLED_RecordCommandLineAndLinger) {
    wchar_t output[MAX_PATH + 1] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"QEL_CHILD_OUTPUT", output, MAX_PATH + 1), 0u);
    Win32Platform sys;
    STARTUPINFOW startup{};
    GetStartupInfoW(&startup);
    const Text line = win32::fromWide(GetCommandLineW()) + u"\n" +
                      decimal(static_cast<std::uint32_t>(startup.dwFlags)) + u" " +
                      decimal(static_cast<std::uint32_t>(startup.wShowWindow));
    writeWholeFile(sys, win32::fromWide(output),
                   ByteSpan(reinterpret_cast<const std::uint8_t*>(line.data()),
                            line.size() * sizeof(char16_t)));
    Sleep(300);
}

TEST(Win32Processes, ExitCodeOfAChildIsReadAfterItEnds) {
    Win32Platform sys;
    ProcessHandle child =
        sys.createProcess(u"cmd.exe /c exit 3", kCreationFlags, STARTF_USESHOWWINDOW, SW_HIDE);
    ASSERT_TRUE(child.valid());
    int timeouts = 0;
    ASSERT_EQ(waitPumping(sys, child, timeouts), WaitResult::Ended);
    std::uint32_t code = 7117;
    ASSERT_TRUE(sys.processExitCode(child, code));
    EXPECT_EQ(code, 3u);
}

// Each child keeps its own process and thread handles: they are closed in any order, each exit
// code stays readable until its own close, and nothing stays open afterwards.
TEST(Win32Processes, TwoChildrenClosedInEitherOrderLeaveNoHandleOpen) {
    Win32Platform sys;
    const int before = wine_test::openHandleCount();
    for (const bool firstClosedFirst : {true, false}) {
        ProcessHandle first =
            sys.createProcess(u"cmd.exe /c exit 5", kCreationFlags, STARTF_USESHOWWINDOW, SW_HIDE);
        ProcessHandle second =
            sys.createProcess(u"cmd.exe /c exit 6", kCreationFlags, STARTF_USESHOWWINDOW, SW_HIDE);
        ASSERT_TRUE(first.valid() && second.valid());
        int timeouts = 0;
        ASSERT_EQ(waitPumping(sys, second, timeouts), WaitResult::Ended);
        ASSERT_EQ(waitPumping(sys, first, timeouts), WaitResult::Ended);
        ProcessHandle& closed = firstClosedFirst ? first : second;
        ProcessHandle& kept = firstClosedFirst ? second : first;
        closed.close();
        std::uint32_t code = 0;
        ASSERT_TRUE(sys.processExitCode(kept, code));
        EXPECT_EQ(code, firstClosedFirst ? 6u : 5u);
        EXPECT_EQ(wine_test::openHandleCount(), before + 2);  // the kept child's two
        kept.close();
        EXPECT_EQ(wine_test::openHandleCount(), before);
    }
}

TEST(Win32Processes, ShellExecuteStartsTheFileItIsGiven) {
    Win32Platform sys;
    wine_test::TempFolder temp;
    const Text marker = temp / u"started.txt";
    const std::string script = "@echo started> \"" + toUtf8(marker) + "\"\r\n";
    writeWholeFile(sys, temp / u"start.cmd", Bytes(script.begin(), script.end()));
    sys.shellExecute(0, u"open", temp / u"start.cmd");
    EXPECT_TRUE(wine_test::pumpUntil(sys, [&] { return fileExists(sys, marker); }, 20000));
}

TEST(Win32Processes, AMissingProgramDoesNotStart) {
    Win32Platform sys;
    ProcessHandle child = sys.createProcess(u"\"C:\\no\\such\\program.exe\" x -y", kCreationFlags,
                                            STARTF_USESHOWWINDOW, SW_HIDE);
    EXPECT_FALSE(child.valid());
    EXPECT_NE(sys.lastError(), 0u);
}

TEST(Win32Processes, TheCommandLineArrivesExactlyAndWaitsTimeOutWhileTheChildRuns) {
    Win32Platform sys;
    wine_test::TempFolder temp;
    const Text output = temp / u"command line.txt";
    SetEnvironmentVariableW(L"QEL_CHILD_OUTPUT", win32::wide(output));
    const Text commandLine = u"\"" + ownProgram() +
                             u"\" --gtest_also_run_disabled_tests "
                             u"--gtest_filter=ChildHelper.DISABLED_RecordCommandLineAndLinger "
                             u"-o\"E:\\\" -ptubrisk";
    ProcessHandle child =
        sys.createProcess(commandLine, kCreationFlags, STARTF_USESHOWWINDOW, SW_SHOWNORMAL);
    SetEnvironmentVariableW(L"QEL_CHILD_OUTPUT", nullptr);
    ASSERT_TRUE(child.valid());
    int timeouts = 0;
    ASSERT_EQ(waitPumping(sys, child, timeouts), WaitResult::Ended);
    EXPECT_GT(timeouts, 0);  // it lingered, so some waits timed out
    std::uint32_t code = 7117;
    ASSERT_TRUE(sys.processExitCode(child, code));
    EXPECT_EQ(code, 0u);

    const auto recorded = readWholeFile(sys, output);
    ASSERT_TRUE(recorded);
    const Text line(reinterpret_cast<const char16_t*>(recorded->data()),
                    recorded->size() / sizeof(char16_t));
    EXPECT_EQ(toUtf8(line), toUtf8(commandLine + u"\n1 1"));  // STARTF_USESHOWWINDOW, SW_SHOWNORMAL
}

}  // namespace
}  // namespace qel
