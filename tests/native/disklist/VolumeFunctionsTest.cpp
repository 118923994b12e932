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
    return u"(bound)";
}

TEST(VolumeFunctions, BindOnceAndReportTheFirstMissingNameInSlotOrder) {
    fake::FakeMachine machine;
    machine.removeExport("SetVolumeMountPointA");
    machine.removeExport("FindNextVolumeMountPointA");
    VolumeFunctions volume(machine);
    EXPECT_EQ(failureOf(volume), u"Could not find procedure FindNextVolumeMountPointA");
    EXPECT_NE(volume.FindFirstVolumeMountPointA, 0u);  // filled before the failure
    machine.restoreExport("FindNextVolumeMountPointA");
    EXPECT_EQ(failureOf(volume), u"Could not find procedure SetVolumeMountPointA");
    EXPECT_FALSE(volume.bound());

    machine.restoreExport("SetVolumeMountPointA");
    const int lookupsBefore = machine.procLookups();
    EXPECT_EQ(failureOf(volume), u"(bound)");
    EXPECT_EQ(failureOf(volume), u"(bound)");
    EXPECT_EQ(machine.procLookups() - lookupsBefore, 9);  // all nine again, then never more
    EXPECT_EQ(volume.SetVolumeMountPointA,
              machine.procAddress(machine.moduleHandle(u"kernel32.dll"), "SetVolumeMountPointA"));
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
