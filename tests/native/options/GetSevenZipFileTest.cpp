#include "native/options/OptionsBench.h"

namespace qel {
namespace {

using fake::FakeMachine;

// The main window over a machine whose payload resource is 70,000 distinct bytes.
struct SaveBench {
    explicit SaveBench(bool withPayload = true) {
        if (withPayload) machine.setResource(u"QEL7z", payload);
        window.create();
        machine.clearRecords();
    }
    void press() { machine.userClick(window.Button2); }

    FakeMachine machine;
    MainWindow window{machine};
    Bytes payload = options_test::filled(70000, 17);
};

TEST(GetSevenZipFile, SavesThePayloadInTheCurrentDirectoryAndShowsThePassword) {
    SaveBench bench;
    bench.machine.setCurrentDir(u"C:\\Users\\user\\Downloads");
    bench.machine.putDirectory(u"C:\\Users\\user\\Downloads");
    const Text archive = u"C:\\Users\\user\\Downloads\\RAZEvor.7z";
    bench.machine.putFile(archive, options_test::filled(90000, 3));  // a longer earlier copy

    for (int press = 1; press <= 2; ++press) {
        SCOPED_TRACE(press);
        bench.press();
        EXPECT_EQ(bench.machine.fileBytes(archive), bench.payload);
        ASSERT_EQ(bench.machine.messageBoxes().size(), static_cast<std::size_t>(press));
        const auto& box = bench.machine.messageBoxes().back();
        EXPECT_EQ(box.text, u"Tập tin đã được lưu tại ./RAZEvor.7z (Mật khẩu: tubrisk)");
        EXPECT_EQ(box.caption, u"QEL Duzu");
        EXPECT_EQ(box.flags, win::MB_OK);
        EXPECT_TRUE(bench.machine.enabled(bench.window.Button2));
        EXPECT_EQ(bench.machine.quitRequests(), 0);
        EXPECT_EQ(bench.machine.openHandles(), 0);
    }
    bench.window.Label3Click();
    bench.press();
    EXPECT_EQ(bench.machine.messageBoxes().back().text,
              u"File saved in ./RAZEvor.7z (Password: tubrisk)");
    EXPECT_TRUE(bench.machine.dialogs().empty());
}

TEST(GetSevenZipFile, AnUncreatableFileIsShownAndTheProgramKeepsRunning) {
    for (const bool resourceMissing : {false, true}) {
        SCOPED_TRACE(resourceMissing ? "resource missing" : "folder write-protected");
        SaveBench bench(!resourceMissing);
        if (!resourceMissing) bench.machine.failWritesUnder(bench.machine.currentDirectory());
        EXPECT_THROW(bench.window.Button2Click(), UnexpectedError);
        EXPECT_TRUE(bench.machine.enabled(bench.window.Button2));

        bench.press();  // at the window's event boundary
        ASSERT_EQ(bench.machine.messageBoxes().size(), 1u);
        EXPECT_EQ(bench.machine.messageBoxes()[0].flags, win::MB_ICONERROR);
        EXPECT_TRUE(bench.machine.enabled(bench.window.Button2));
        EXPECT_TRUE(bench.machine.dialogs().empty());
        EXPECT_EQ(bench.machine.quitRequests(), 0);
        EXPECT_EQ(bench.machine.openHandles(), 0);
        EXPECT_FALSE(bench.machine.hasFile(bench.machine.currentDirectory() + u"\\RAZEvor.7z"));
    }
}

// A machine on which the saved archive is not found afterwards, or is found one byte longer.
struct ForgetfulMachine : FakeMachine {
    bool missing = false;
    std::optional<FindData> findFirstFile(const Text& path) override {
        auto found = FakeMachine::findFirstFile(path);
        if (!found || !path.ends_with(u"RAZEvor.7z")) return found;
        if (missing) return std::nullopt;
        ++found->sizeLow;
        return found;
    }
};

TEST(GetSevenZipFile, ASavedFileMissingOrOfAnotherSizeEndsTheProgram) {
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing" : "another size");
        ForgetfulMachine machine;
        machine.missing = missing;
        machine.setResource(u"QEL7z", options_test::filled(70000, 17));
        MainWindow window{machine};
        window.create();
        machine.clearRecords();
        machine.userClick(window.Button2);
        EXPECT_TRUE(machine.messageBoxes().empty());
        ASSERT_EQ(machine.dialogs().size(), 1u);
        EXPECT_EQ(machine.dialogs()[0].params.message, window.texts.llerror);
        EXPECT_EQ(machine.quitRequests(), 1);
        EXPECT_EQ(machine.openHandles(), 0);
    }
}

}  // namespace
}  // namespace qel
