// The checks before anything is written: every refusal leaves the disk, its letters and the
// work folder alone, and the window usable.
#include "ReprunBench.h"
#include "texts/Dialogs.h"

namespace qel::reprun_test {
namespace {

const Text kXpPolicyKey =
    u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\STICK\\Device Parameters\\Classpnp";
const Text kLimit8GiB = u"The FAT32 partition size should be between 160MB and 7.84 GB.";

void onXp(Bench& b, WindowsVersion version = {5, 1, 2600}) {
    b.machine.setVersion(version);
}

struct Refusal {
    const char* name;
    std::function<void(Bench&)> arrange;
    std::function<Text(Bench&)> message;
};

class Refusals : public ::testing::TestWithParam<Refusal> {};
void PrintTo(const Refusal& c, std::ostream* os) {
    *os << c.name;
}

TEST_P(Refusals, StopBeforeAnythingIsTouched) {
    Bench b;
    GetParam().arrange(b);
    b.pressOk();
    ASSERT_FALSE(b.messages().empty());
    EXPECT_EQ(b.messages().back(), GetParam().message(b));
    EXPECT_EQ(b.machine.dialogs().back().params.buttons.size(), 1u);
    b.expectNothingStarted();
}

INSTANTIATE_TEST_SUITE_P(
    RepartitionRun, Refusals,
    ::testing::Values(
        Refusal{"SizeEmpty", [](Bench& b) { b.choose(false, u""); },
                [](Bench& b) { return b.form.texts.lfatsize; }},
        Refusal{"SizeBelow160MB", [](Bench& b) { b.choose(false, u"159"); },
                [](Bench&) { return kLimit8GiB; }},
        Refusal{"SizeAboveTheLimit", [](Bench& b) { b.choose(false, u"8", u"GB"); },
                [](Bench&) { return kLimit8GiB; }},
        Refusal{"SizeNotANumber", [](Bench& b) { b.choose(false, u"1x0"); },
                [](Bench&) { return kLimit8GiB; }},
        Refusal{"SizeOverflowing64Bits", [](Bench& b) { b.choose(false, u"9999999999", u"GB"); },
                [](Bench&) { return kLimit8GiB; }},
        Refusal{"GeometryUnreadable",
                [](Bench& b) {
                    b.choose(true);
                    b.machine.disk(kDisk).failGeometry = true;
                },
                [](Bench& b) { return b.form.texts.llerror; }},
        Refusal{"GeometryUnreadableTwoPartitions",
                [](Bench& b) {
                    b.choose(false, u"160");
                    b.machine.disk(kDisk).failGeometry = true;
                },
                [](Bench&) {
                    return Text(
                        u"The FAT32 partition size should be between 160MB and "
                        u"-168820736 bytes.");
                }},
        Refusal{"XpDiskNotEnumerated",
                [](Bench& b) {
                    onXp(b);
                    b.choose(false);
                    b.machine.registryKey(u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum")
                        .strings.clear();
                },
                [](Bench& b) { return b.form.texts.llerror; }},
        Refusal{"XpRemovalPolicy3",
                [](Bench& b) {
                    onXp(b);
                    b.machine.registryKey(kXpPolicyKey).dwords[u"UserRemovalPolicy"] = 3;
                    b.choose(false);
                },
                [](Bench& b) { return formatText(b.form.texts.lntfsxp, u"Windows XP"); }},
        Refusal{"Server2003RemovalPolicyMissing",
                [](Bench& b) {
                    onXp(b, {5, 2, 3790, true});
                    b.machine.registryKey(kXpPolicyKey).dwords.clear();
                    b.choose(false);
                },
                [](Bench& b) { return formatText(b.form.texts.lntfsxp, u"Windows Server 2003"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RepartitionRunChecks, NoLayoutChosenShowsThePlainMessage) {
    Bench b;
    b.machine.userClick(b.form.Button3);
    b.w = b.form.repartition.controls();
    b.pressOk();
    ASSERT_EQ(b.machine.messageBoxes().size(), 1u);
    EXPECT_EQ(b.machine.messageBoxes()[0].text, u"Please choose one of the options 1 or 2.");
    EXPECT_TRUE(b.messages().empty());
    b.expectNothingStarted();
}

TEST(RepartitionRunChecks, DiskSmallerThan321MiBRefusesEverySize) {
    Bench b(320 * kMiB);
    b.choose(false, u"160");
    b.pressOk();
    EXPECT_EQ(b.messages(), std::vector<Text>{u"The FAT32 partition size should be between 160MB "
                                              u"and 159 MB."});
    b.expectNothingStarted();
}

TEST(RepartitionRunChecks, CancelClearsBothLayoutsAndAGptDiskLosesTheBootloaderOption) {
    Bench b;
    b.machine.disk(kDisk).forcedStyle = "GPT";
    b.choose(true);
    b.machine.answerDialogs({kResultCancel});
    b.pressOk();
    EXPECT_EQ(b.messages(), std::vector<Text>{b.form.texts.ldautopart});
    EXPECT_FALSE(b.form.ticked(b.w.CheckBox1F2) || b.form.ticked(b.w.CheckBox2F2));
    EXPECT_FALSE(b.form.ticked(b.form.CheckBox2));
    b.expectNothingStarted();
}

// Sizes at the bounds are taken as they are: the FAT32 partition is the last fat32size bytes.
TEST(RepartitionRunChecks, AcceptedSizesAndXpPolicy2GoAhead) {
    for (const auto& [size, unit, bytes, xp] :
         {std::tuple{u"160", u"MB", 160 * kMiB, false}, std::tuple{u"1", u"GB", kGiB, true}}) {
        Bench b;
        if (xp) {
            onXp(b);
            b.machine.registryKey(kXpPolicyKey).dwords[u"UserRemovalPolicy"] = 2;
        }
        b.choose(false, size, unit);
        b.pressOk();
        const auto fat32Start = static_cast<std::uint32_t>((8 * kGiB - bytes) / 512);
        EXPECT_EQ(b.listed(), (std::vector<std::uint32_t>{2048, fat32Start}));
        b.expectRunEnded();
    }
}

TEST(RepartitionRunChecks, XpWithOneFat32PartitionReadsNoRegistry) {
    Bench b;
    onXp(b);
    b.choose(true);
    b.pressOk();
    EXPECT_EQ(b.messages(), std::vector<Text>{b.form.texts.ldautopart});
    EXPECT_EQ(b.listed(), std::vector<std::uint32_t>{2048});
    b.expectRunEnded();
}

}  // namespace
}  // namespace qel::reprun_test
