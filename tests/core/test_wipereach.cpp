// Telling when overwriting in place cannot reach a file's old data.
#include "tests/support/TempDir.h"
#include "wipe/WipeReach.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {
// A copy of the parts of /sys/dev/block that the check reads: a whole disk and one partition.
void FakeDisk(const std::string& sys, const std::string& name, unsigned major, const char* rotational)
{
    const std::string disk = sys + "/devices/virtual/" + name;
    std::filesystem::create_directories(disk + "/queue");
    std::filesystem::create_directories(disk + "/" + name + "1");
    WriteText(disk + "/queue/rotational", std::string(rotational) + "\n");
    WriteText(disk + "/" + name + "1/partition", "1\n");
    std::filesystem::create_directories(sys + "/dev/block");
    std::filesystem::create_directory_symlink("../../devices/virtual/" + name,
                                              sys + "/dev/block/" + std::to_string(major) + ":0");
    std::filesystem::create_directory_symlink("../../devices/virtual/" + name + "/" + name + "1",
                                              sys + "/dev/block/" + std::to_string(major) + ":1");
}
} // namespace

TEST(WipeReach, CopyOnWriteLayeredAndNetworkFileSystemsAreKnownAndClassicOnesAreNot)
{
    EXPECT_EQ(ClassifyFileSystem(0x9123683E).limit, TReachLimit::CopyOnWrite);
    EXPECT_EQ(ClassifyFileSystem(0x9123683E).name, "btrfs");
    EXPECT_EQ(ClassifyFileSystem(0x2FC12FC1).limit, TReachLimit::CopyOnWrite);
    EXPECT_EQ(ClassifyFileSystem(0xF2F52010).name, "f2fs");
    EXPECT_EQ(ClassifyFileSystem(0x794C7630).limit, TReachLimit::Layered);
    EXPECT_EQ(ClassifyFileSystem(0x6969).limit, TReachLimit::Network);
    EXPECT_EQ(ClassifyFileSystem(0xFE534D42).limit, TReachLimit::Network);
    EXPECT_EQ(ClassifyFileSystem(0xEF53).limit, TReachLimit::None) << "ext2/3/4";
    EXPECT_EQ(ClassifyFileSystem(0x58465342).limit, TReachLimit::None) << "xfs";
    EXPECT_EQ(ClassifyFileSystem(0x01021994).limit, TReachLimit::None) << "tmpfs";
}

TEST(WipeReach, FlashIsWhatTheDiskReportsAsNotRotationalAlsoThroughItsPartitions)
{
#ifdef _WIN32
    GTEST_SKIP() << "the block devices' rotational flag is a Linux report";
#endif
    TTempDir dir;
    FakeDisk(dir.Path(), "ssd", 8, "0");
    FakeDisk(dir.Path(), "hdd", 9, "1");
    EXPECT_TRUE(BlockDeviceIsFlash(8, 0, dir.Path()));
    EXPECT_TRUE(BlockDeviceIsFlash(8, 1, dir.Path()));
    EXPECT_FALSE(BlockDeviceIsFlash(9, 0, dir.Path()));
    EXPECT_FALSE(BlockDeviceIsFlash(9, 1, dir.Path()));
    EXPECT_FALSE(BlockDeviceIsFlash(10, 0, dir.Path())) << "unknown devices are not guessed at";
}

TEST(WipeReach, TheSentenceNamesEachPlaceOnceAndIsEmptyWhenNothingLimits)
{
    EXPECT_EQ(ReachSentence({}), "");
    EXPECT_EQ(ReachSentence({TReachNote{}, TReachNote{}}), "");
    const std::string one = ReachSentence({{TReachLimit::CopyOnWrite, "btrfs"}, {TReachLimit::CopyOnWrite, "btrfs"}});
    EXPECT_NE(one.find("copy-on-write"), std::string::npos);
    EXPECT_EQ(one.find("btrfs"), one.rfind("btrfs")) << one;
    EXPECT_EQ(one.back(), '.');
    const std::string two = ReachSentence({{TReachLimit::Network, "nfs"}, {}, {TReachLimit::Flash, "nvme0n1"}});
    EXPECT_NE(two.find("network file system (nfs)"), std::string::npos) << two;
    EXPECT_NE(two.find("flash storage (nvme0n1)"), std::string::npos) << two;
    EXPECT_EQ(two.find('\n'), std::string::npos);
    EXPECT_NE(two.find("part of the selection"), std::string::npos) << "one item lies elsewhere: " << two;
    EXPECT_EQ(one.find("part of"), std::string::npos) << one;
}

TEST(WipeReach, AMissingPathRaisesNothingAndLimitsNothing)
{
    EXPECT_EQ(CheckWipeReach("/nonexistent/vellumox/path").limit, TReachLimit::None);
}
