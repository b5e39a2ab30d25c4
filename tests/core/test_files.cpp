#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/support/MarkedBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
mode_t ModeOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

ino_t InodeOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

std::string Text(const std::string& path)
{
    const auto bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// An open file of our own holding a lock, as another program would.
class THeldFile
{
public:
    explicit THeldFile(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
    ~THeldFile() { ::close(m_fd); }
    bool Flock(int operation) { return ::flock(m_fd, operation | LOCK_NB) == 0; }
    bool RecordLock(short type)
    {
        struct flock lock{};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        return ::fcntl(m_fd, F_SETLK, &lock) == 0;
    }

private:
    int m_fd;
};
} // namespace

TEST(FilesAttributes, ReadOnlyIsTheOwnerWriteBitAndArchiveIsAlwaysReported)
{
    TTempDir dir;
    const std::string file = dir / "a.txt";
    WriteText(file, "x");
    EXPECT_EQ(ReadFileAttributes(file), kAttrArchive);

    WriteFileAttributes(file, kAttrReadOnly | kAttrSystem | kAttrArchive);
    EXPECT_EQ(ModeOf(file) & S_IWUSR, 0u);
    EXPECT_EQ(ReadFileAttributes(file), kAttrReadOnly | kAttrArchive);

    WriteFileAttributes(file, kAttrArchive);
    EXPECT_NE(ModeOf(file) & S_IWUSR, 0u);
    EXPECT_EQ(ReadFileAttributes(file), kAttrArchive);

    EXPECT_EQ(ReadFileAttributes(dir.Path()) & kAttrDirectory, kAttrDirectory);
    EXPECT_THROW(ReadFileAttributes(dir / "missing"), EFileError);
}

TEST(FilesAttributes, HiddenListIsEditedOnlyWhenItChanges)
{
    TTempDir dir;
    const std::string list = dir / ".hidden";
    WriteText(dir / "a", "");
    WriteText(dir / "b", "");
    WriteText(list, "other\r\nkept\n");

    WriteFileAttributes(dir / "a", kAttrHidden);
    EXPECT_EQ(Text(list), "other\nkept\na\n");
    EXPECT_EQ(ReadFileAttributes(dir / "a"), kAttrHidden | kAttrArchive);
    EXPECT_EQ(ReadFileAttributes(dir / "b"), kAttrArchive);

    // Setting what is already set leaves the list file itself alone.
    const ino_t before = InodeOf(list);
    WriteFileAttributes(dir / "a", kAttrHidden | kAttrArchive);
    EXPECT_EQ(InodeOf(list), before);

    WriteFileAttributes(dir / "a", kAttrArchive);
    EXPECT_EQ(Text(list), "other\nkept\n");
    WriteFileAttributes(dir / "a", kAttrArchive); // not listed: no change, no error

    // The last name going takes the list with it; no temporary file stays behind.
    WriteText(list, "b\n");
    WriteFileAttributes(dir / "b", 0);
    EXPECT_FALSE(Exists(list));
    const auto listing = ListTree(dir.Path());
    EXPECT_EQ(listing.files.size(), 2u);
}

TEST(FilesAttributes, LinksKeepTheirTargetsPermissions)
{
    TTempDir dir;
    WriteText(dir / "target", "t");
    ASSERT_EQ(::chmod((dir / "target").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);

    WriteFileAttributes(dir / "link", kAttrHidden);
    EXPECT_EQ(ModeOf(dir / "target") & 0777, 0444u);
    EXPECT_EQ(Text(dir / ".hidden"), "link\n");
}

TEST(FilesTimes, LastWriteIsRestoredToTheNanosecond)
{
    TTempDir dir;
    WriteText(dir / "a", "a");
    WriteText(dir / "b", "b");
    struct timespec set[2]{};
    set[0].tv_nsec = UTIME_OMIT;
    set[1].tv_sec = 1234567890;
    set[1].tv_nsec = 123456789;
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "a").c_str(), set, 0), 0);

    const TFileTimes times = ReadFileTimes(dir / "a");
    EXPECT_EQ(times.lastWrite, (TFileTime{1234567890, 123456789}));
    RestoreFileTimes(dir / "b", times);
    EXPECT_EQ(ReadFileTimes(dir / "b").lastWrite, times.lastWrite);

    // Where the file system reports a birth time (ext4, btrfs, xfs, tmpfs) it is near now, not the
    // modification time we just set.
    if (times.creation) {
        EXPECT_GT(times.creation->seconds, 1600000000);
    }
    EXPECT_THROW(ReadFileTimes(dir / "missing"), EFileError);
}

TEST(FilesLocks, AnExclusiveLockElsewhereMakesTheFileInUse)
{
    TTempDir dir;
    const std::string file = dir / "f";
    WriteText(file, "data");
    EXPECT_TRUE(CanOpenExclusively(file));
    EXPECT_FALSE(CanOpenExclusively(dir / "missing"));

    {
        THeldFile other(file);
        ASSERT_TRUE(other.Flock(LOCK_EX));
        EXPECT_FALSE(CanOpenExclusively(file));
        EXPECT_THROW(TFile(file, TOpenMode::ReadWriteShared), EFileError);
        try {
            TFile f(file, TOpenMode::ReadWriteShared);
        } catch (const EFileError& e) {
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos);
            EXPECT_NE(std::string(e.what()).find("locked by another program"), std::string::npos);
        }
    }
    {
        // A classic record lock of another program conflicts too. It must live in another process:
        // a process loses its own record locks when it closes any descriptor of the file.
        int ready[2];
        int release[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(release), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(release[1]);
            THeldFile other(file);
            const char ok = other.RecordLock(F_WRLCK) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            char dummy;
            (void)!::read(release[0], &dummy, 1);
            ::_exit(0);
        }
        char ok = 0;
        ASSERT_EQ(::read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, '1');
        EXPECT_FALSE(CanOpenExclusively(file));
        EXPECT_THROW(TFile(file, TOpenMode::ReadWriteShared), EFileError);
        ::close(release[1]);
        ::waitpid(child, nullptr, 0);
        for (const int fd : {ready[0], ready[1], release[0]}) {
            ::close(fd);
        }
    }
    {
        // Sharing is what the wiping open allows: readers that share do not stop it, but its own
        // shared lock makes the file in use for the exclusive test.
        THeldFile other(file);
        ASSERT_TRUE(other.Flock(LOCK_SH));
        TFile shared(file, TOpenMode::ReadWriteShared);
        EXPECT_FALSE(CanOpenExclusively(file));
    }
    EXPECT_TRUE(CanOpenExclusively(file));
}

TEST(FilesOpen, TheWipingOpenRefusesLinksFoldersAndSpecialFiles)
{
    TTempDir dir;
    WriteText(dir / "target", "t");
    ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

    EXPECT_THROW(TFile(dir / "link", TOpenMode::ReadWriteShared), EFileError);
    EXPECT_THROW(TFile(dir / "fifo", TOpenMode::ReadWriteShared), EFileError); // and does not hang
    EXPECT_THROW(TFile(dir.Path(), TOpenMode::ReadWriteShared), EFileError);
    try {
        TFile f(dir / "missing", TOpenMode::Read);
        FAIL() << "opened a missing file";
    } catch (const EFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open \"" + (dir / "missing") + "\": No such file or directory");
        EXPECT_EQ(e.SystemError(), ENOENT);
    }
}

TEST(FilesOpen, ReadWriteAndSizeOfAnOpenFile)
{
    TTempDir dir;
    const std::string path = dir / "f";
    {
        TFile out(path, TOpenMode::CreateOrTruncate);
        const auto bytes = MarkedBytes(100000);
        out.Write(bytes);
        out.Sync();
        EXPECT_EQ(out.Size(), 100000u);
        out.Close();
    }
    EXPECT_EQ(FileSize(path), 100000u);
    TFile in(path, TOpenMode::ReadWriteShared);
    in.Seek(99990);
    std::vector<std::uint8_t> tail(20);
    EXPECT_EQ(in.Read(tail), 10u);
    EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 10, MarkedBytes(100000).end() - 10));
}

TEST(FilesSearch, FindEntryDescribesTheEntryItself)
{
    TTempDir dir;
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("sub", (dir / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    WriteText(dir / "file", "12345");

    EXPECT_EQ(FindEntry(dir / "sub")->kind, TEntryKind::Directory);
    EXPECT_EQ(FindEntry(dir / "link")->kind, TEntryKind::SymbolicLink);
    EXPECT_EQ(FindEntry(dir / "fifo")->kind, TEntryKind::Other);
    EXPECT_EQ(FindEntry(dir / "file")->kind, TEntryKind::File);
    EXPECT_EQ(FindEntry(dir / "file")->size, 5u);
    EXPECT_FALSE(FindEntry(dir / "missing"));
    EXPECT_FALSE(FindEntry(dir / "sub/"));
    EXPECT_FALSE(FindEntry("/"));
    EXPECT_FALSE(FindEntry(""));

    ASSERT_EQ(::link((dir / "file").c_str(), (dir / "second").c_str()), 0);
    EXPECT_EQ(HardLinkCount(dir / "file"), 2u);
}

TEST(FilesRename, NoReplaceNeverDestroysTheTarget)
{
    TTempDir dir;
    WriteText(dir / "a", "a");
    WriteText(dir / "b", "b");
    EXPECT_THROW(RenameFile(dir / "a", dir / "b", TRenameMode::NoReplace), EFileError);
    EXPECT_EQ(Text(dir / "a"), "a");
    EXPECT_EQ(Text(dir / "b"), "b");

    RenameFile(dir / "a", dir / "c", TRenameMode::NoReplace);
    EXPECT_FALSE(Exists(dir / "a"));
    RenameFile(dir / "c", dir / "b", TRenameMode::Replace);
    EXPECT_EQ(Text(dir / "b"), "a");

    RemoveFile(dir / "b");
    EXPECT_FALSE(Exists(dir / "b"));
    EXPECT_THROW(RemoveFile(dir / "b"), EFileError);
}

TEST(FilesTree, ListsHiddenEntriesAndNeverFollowsLinks)
{
    TTempDir dir;
    TTempDir outside;
    WriteText(outside / "precious", "p");
    const std::string root = dir / "root";
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/.sub").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/.sub/deeper").c_str(), 0700), 0);
    WriteText(root + "/.sub/deeper/x", "x");
    WriteText(root + "/.dot", "d");
    ASSERT_EQ(::symlink(outside.Path().c_str(), (root + "/away").c_str()), 0);
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);

    const TTreeListing listing = ListTree(root + "/");
    EXPECT_EQ(listing.files,
              (std::vector<std::string>{root + "/.dot", root + "/.sub/deeper/x", root + "/away"}));
    EXPECT_EQ(listing.others, std::vector<std::string>{root + "/fifo"});
    EXPECT_EQ(listing.folders, (std::vector<std::string>{root + "/.sub/deeper", root + "/.sub"}));
    EXPECT_TRUE(listing.unreadable.empty());

    EXPECT_TRUE(IsVolumeRoot("/"));
    EXPECT_FALSE(IsVolumeRoot(root));
}

TEST(FilesPaths, PartsOfAPath)
{
    EXPECT_EQ(FolderOfPath("/a/b.c/d"), "/a/b.c/");
    EXPECT_EQ(FolderOfPath("name"), "");
    EXPECT_EQ(NameOfPath("/a/b.c/d"), "d");
    EXPECT_EQ(ExtensionOfPath("/a/b.c/d"), "");
    EXPECT_EQ(ExtensionOfPath("/a/b/file.tar.gz"), ".gz");
    EXPECT_EQ(ExtensionOfPath("x."), ".");
}

TEST(Clock, CountersAdvance)
{
    const auto counter = PerformanceCounter();
    ASSERT_TRUE(counter.has_value());
    const std::uint32_t tick = TickCount();
    ::usleep(20000);
    EXPECT_GE(*PerformanceCounter() - *counter, 20000000u);
    EXPECT_GE(static_cast<std::uint32_t>(TickCount() - tick), 19u);
}
