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

namespace {
TVolumeFacts Facts(std::uint64_t device, std::uint64_t magic, int rotational, const std::string& blockDevice,
                   const TMountEntry& mount)
{
    TVolumeFacts facts;
    facts.device = device;
    facts.fsMagic = magic;
    facts.rotational = rotational;
    facts.blockDevice = blockDevice;
    facts.mount = mount;
    return facts;
}

constexpr std::uint64_t kExt4 = 0xEF53;
constexpr std::uint64_t kTmpfs = 0x01021994;
constexpr std::uint64_t kFuse = 0x65735546;

// The volumes of a made-up machine, by the path the probe is asked about.
std::optional<TVolumeFacts> MadeUpMachine(const std::string& path)
{
    if (path.rfind("/srv/", 0) == 0) {
        return Facts(1, 0x9123683E, 0, "sdb1", {"/srv", "btrfs", "/dev/sdb1"});
    }
    if (path.rfind("/home/", 0) == 0) {
        return Facts(2, kExt4, 0, "nvme0n1p2", {"/home", "ext4", "/dev/nvme0n1p2"});
    }
    if (path.rfind("/remote/", 0) == 0) {
        return Facts(3, kFuse, -1, "", {"/remote", "fuse.sshfs", "me@host:/data"});
    }
    if (path.rfind("/old/", 0) == 0) {
        return Facts(4, kExt4, 1, "sda1", {"/old", "ext4", "/dev/sda1"});
    }
    return std::nullopt;
}
} // namespace

TEST(WipeReach, TheVolumeIsJudgedByItsKindItsMountTypeAndItsDevice)
{
    EXPECT_EQ(JudgeVolume(Facts(1, 0x9123683E, 1, "sda1", {"/", "btrfs", "/dev/sda1"})).limit, TReachLimit::CopyOnWrite)
        << "copy-on-write on a spinning disk is still copy-on-write";
    // FUSE's magic says nothing; its type says where the files are.
    EXPECT_EQ(JudgeVolume(Facts(2, kFuse, -1, "", {"/mnt/x", "fuse.sshfs", "me@host:"})).limit, TReachLimit::Network);
    EXPECT_EQ(JudgeVolume(Facts(2, kFuse, -1, "", {"/mnt/x", "fuse.encfs", "encfs"})).limit, TReachLimit::None);
    // A magic number this build does not know, named by the mount table.
    EXPECT_EQ(JudgeVolume(Facts(3, 0x12345678, -1, "", {"/n", "nfs4", "server:/export"})).limit, TReachLimit::Network);
    EXPECT_EQ(JudgeVolume(Facts(3, 0x12345678, -1, "", {"/b", "bcachefs", "/dev/sdc"})).limit,
              TReachLimit::CopyOnWrite);
    const TReachNote ssd = JudgeVolume(Facts(4, kExt4, 0, "nvme0n1p2", {"/home", "ext4", "/dev/nvme0n1p2"}));
    EXPECT_EQ(ssd.limit, TReachLimit::Flash);
    EXPECT_EQ(ssd.name, "nvme0n1p2");
    EXPECT_EQ(JudgeVolume(Facts(5, kExt4, 1, "sda1", {"/", "ext4", "/dev/sda1"})).limit, TReachLimit::None);
    EXPECT_EQ(JudgeVolume(Facts(5, kExt4, -1, "vdb", {"/", "ext4", "/dev/vdb"})).limit, TReachLimit::None)
        << "an unknown device is not guessed at";
    // RAM reports itself as not rotational, and an overwrite there does reach the data.
    EXPECT_EQ(JudgeVolume(Facts(6, kExt4, 0, "zram0", {"/scratch", "ext4", "/dev/zram0"})).limit, TReachLimit::None);
    EXPECT_EQ(JudgeVolume(Facts(7, kTmpfs, -1, "", {"/dev/shm", "tmpfs", "tmpfs"})).limit, TReachLimit::None);
}

TEST(WipeReach, TheMountTableIsReadWithItsEscapesAndTheMountOnTopWins)
{
    const std::string table =
        "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "40 26 0:45 / /media/My\\040Disk rw master:3 propagation_from:2 - btrfs /dev/sdb1 rw,ssd\n"
        "41 26 0:46 / /mnt rw - nfs4 server:/export rw\n"
        "42 41 0:47 / /mnt rw - fuse.sshfs me@host:/ rw\n"
        "not a mount line\n"
        "43 26 0:48 / /mnt/sub rw - tmpfs tmpfs rw\n";
    const std::vector<TMountEntry> mounts = ParseMountInfo(table);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[1].mountPoint, "/media/My Disk");
    EXPECT_EQ(mounts[1].fsType, "btrfs") << "optional fields stand before the dash";
    EXPECT_EQ(mounts[1].source, "/dev/sdb1");

    EXPECT_EQ(MountHolding("/media/My Disk/photos", mounts)->fsType, "btrfs");
    EXPECT_EQ(MountHolding("/media/My Diskette", mounts)->fsType, "ext4") << "a name that only begins alike";
    EXPECT_EQ(MountHolding("/mnt/file", mounts)->fsType, "fuse.sshfs") << "the later mount hides the earlier";
    EXPECT_EQ(MountHolding("/mnt/sub/deeper", mounts)->fsType, "tmpfs");
    EXPECT_EQ(MountHolding("/mnt", mounts)->fsType, "fuse.sshfs");
    EXPECT_EQ(MountHolding("/etc", mounts)->mountPoint, "/");
    EXPECT_FALSE(MountHolding("/x", {}).has_value());
}

TEST(WipeReach, OneWarningForEachVolumeThatOverwritingCannotReach)
{
    const std::vector<std::string> warnings = ReachWarnings(
        {"/old/a", "/srv/a", "/home/me/b", "/srv/b", "/nowhere/c", "/remote/d", "/home/me/e"}, &MadeUpMachine);
    ASSERT_EQ(warnings.size(), 3u) << testing::PrintToString(warnings);
    EXPECT_NE(warnings[0].find("/srv (btrfs, /dev/sdb1)"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("\"/srv/a\""), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("copy-on-write"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("/home (ext4, /dev/nvme0n1p2)"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[1].find("flash storage"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[2].find("/remote (fuse.sshfs, me@host:/data)"), std::string::npos) << warnings[2];
    EXPECT_NE(warnings[2].find("network file system"), std::string::npos) << warnings[2];
    EXPECT_TRUE(ReachWarnings({"/old/a", "/nowhere"}, &MadeUpMachine).empty());
}

// This machine's own RAM file system, through the real statfs, device and mount table.
TEST(WipeReach, TheMachinesTmpfsIsFoundInTheMountTableAndNotWarnedAbout)
{
#ifdef _WIN32
    GTEST_SKIP() << "no tmpfs";
#else
    const auto facts = VolumeFactsOf("/dev/shm");
    if (!facts || facts->fsMagic != kTmpfs) {
        GTEST_SKIP() << "/dev/shm is no tmpfs here";
    }
    EXPECT_EQ(facts->mount.mountPoint, "/dev/shm");
    EXPECT_EQ(facts->mount.fsType, "tmpfs");
    EXPECT_EQ(facts->rotational, -1) << "tmpfs has no block device";
    EXPECT_EQ(CheckWipeReach("/dev/shm").limit, TReachLimit::None);
    EXPECT_TRUE(ReachWarnings({"/dev/shm"}).empty());
#endif
}
