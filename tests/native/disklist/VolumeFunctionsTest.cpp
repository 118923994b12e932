#include <gtest/gtest.h>

#include "disk/Volume.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

Text failureOf(VolumeFunctions& volume) {
    try {
        volume.LoadVolumeFunctions();
    } catch (const UnexpectedError& error) {
        return error.message();
    }
    return u"(no error)";
}

TEST(VolumeFunctions, BindsAllNineOnceAndCallsReachThem) {
    fake::FakeMachine machine;
    VolumeFunctions volume(machine);
    volume.LoadVolumeFunctions();
    volume.LoadVolumeFunctions();
    EXPECT_TRUE(volume.bound());
    EXPECT_EQ(machine.procLookups(), 9);
    EXPECT_NE(volume.SetVolumeMountPointA, 0u);
    EXPECT_NE(volume.GetVolumeNameForVolumeMountPointA, 0u);

    machine.addDisk(fake::FakeDisk::ofSize(1048576));
    fake::FakeVolume stick;
    stick.letter = 'E';
    stick.disk = 0;
    stick.length = 1048576;
    machine.addVolume(stick);
    EXPECT_TRUE(machine.callDeleteVolumeMountPointA(volume.DeleteVolumeMountPointA, "E:\\"));
    EXPECT_EQ(machine.volumeByLetter('E'), nullptr);
}

TEST(VolumeFunctions, ReportsTheFirstMissingNameInSlotOrderAndRetries) {
    fake::FakeMachine machine;
    machine.removeExport("SetVolumeMountPointA");
    machine.removeExport("FindNextVolumeMountPointA");
    VolumeFunctions volume(machine);
    EXPECT_EQ(failureOf(volume), u"Could not find procedure FindNextVolumeMountPointA");
    EXPECT_FALSE(volume.bound());
    EXPECT_NE(volume.FindFirstVolumeMountPointA, 0u);  // filled before the failure

    machine.restoreExport("FindNextVolumeMountPointA");
    EXPECT_EQ(failureOf(volume), u"Could not find procedure SetVolumeMountPointA");

    machine.restoreExport("SetVolumeMountPointA");
    const int lookupsBefore = machine.procLookups();
    EXPECT_EQ(failureOf(volume), u"(no error)");
    EXPECT_TRUE(volume.bound());
    EXPECT_EQ(machine.procLookups() - lookupsBefore, 9);  // the whole lookup starts again
}

TEST(VolumeFunctions, MissingKernel32CarriesTheSystemMessageWithoutItsEnd) {
    fake::FakeMachine machine;
    machine.setKernel32Missing(true);
    VolumeFunctions volume(machine);
    EXPECT_EQ(failureOf(volume),
              u"Error loading kernel32 Library.  The specified module could not be found");
    EXPECT_EQ(machine.procLookups(), 0);
}

}  // namespace
}  // namespace qel
