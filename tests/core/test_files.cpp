#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/support/MarkedBytes.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace
{
std::string Text(const std::string& path)
{
    const auto bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

#ifndef _WIN32
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

// A classic record lock, as another program would take it.
bool RecordLock(int fd, short type)
{
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_SETLK, &lock) == 0;
}
#endif
} // namespace

TEST(FilesAttributes, ReadOnlyIsTheOwnerWriteBitAndArchiveIsAlwaysReported)
{
    TTempDir dir;
    const std::string file = dir / "a.txt";
    WriteText(file, "x");
    EXPECT_EQ(ReadFileAttributes(file), kAttrArchive);

    WriteFileAttributes(file, kAttrReadOnly | kAttrSystem | kAttrArchive);
#ifdef _WIN32
    // Native attributes: system is stored like the others.
    EXPECT_EQ(ReadFileAttributes(file), kAttrReadOnly | kAttrSystem | kAttrArchive);
#else
    EXPECT_EQ(ModeOf(file) & S_IWUSR, 0u);
    EXPECT_EQ(ReadFileAttributes(file), kAttrReadOnly | kAttrArchive);
#endif

    WriteFileAttributes(file, kAttrArchive);
#ifndef _WIN32
    EXPECT_NE(ModeOf(file) & S_IWUSR, 0u);
#endif
    EXPECT_EQ(ReadFileAttributes(file), kAttrArchive);

    EXPECT_EQ(ReadFileAttributes(dir.Path()) & kAttrDirectory, kAttrDirectory);
    EXPECT_THROW(ReadFileAttributes(dir / "missing"), EFileError);
}

TEST(FilesAttributes, HiddenListIsEditedOnlyWhenItChanges)
{
#ifdef _WIN32
    GTEST_SKIP() << "hidden is a native attribute on Windows: no .hidden list";
#else
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
#endif
}

TEST(FilesAttributes, HiddenIsSetAndClearedAloneAndLeavesNoOtherFile)
{
    TTempDir dir;
    WriteText(dir / "a", "");
    WriteFileAttributes(dir / "a", kAttrHidden | kAttrArchive);
    EXPECT_EQ(ReadFileAttributes(dir / "a"), kAttrHidden | kAttrArchive);
    WriteFileAttributes(dir / "a", kAttrArchive);
    EXPECT_EQ(ReadFileAttributes(dir / "a"), kAttrArchive);
    EXPECT_EQ(ListTree(dir.Path()).files, std::vector<std::string>{dir / "a"});
}

TEST(FilesAttributes, LinksKeepTheirTargetsPermissions)
{
#ifdef _WIN32
    GTEST_SKIP() << "about the .hidden list and mode bits, which Windows does not have";
#else
    TTempDir dir;
    WriteText(dir / "target", "t");
    ASSERT_EQ(::chmod((dir / "target").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);

    WriteFileAttributes(dir / "link", kAttrHidden);
    EXPECT_EQ(ModeOf(dir / "target") & 0777, 0444u);
    EXPECT_EQ(Text(dir / ".hidden"), "link\n");
#endif
}

TEST(FilesTimes, LastWriteIsRestoredToTheNanosecond)
{
    TTempDir dir;
    WriteText(dir / "a", "a");
    WriteText(dir / "b", "b");
#ifdef _WIN32
    // Windows keeps times in steps of 100 ns.
    const TFileTime expected{1234567890, 123456700};
    {
        const ULONGLONG ticks = (1234567890ULL + 11644473600ULL) * 10000000ULL + 1234567ULL;
        const FILETIME lastWrite{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        HANDLE h = CreateFileW(std::filesystem::path(dir / "a").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &lastWrite));
        CloseHandle(h);
    }
#else
    const TFileTime expected{1234567890, 123456789};
    struct timespec set[2]{};
    set[0].tv_nsec = UTIME_OMIT;
    set[1].tv_sec = 1234567890;
    set[1].tv_nsec = 123456789;
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "a").c_str(), set, 0), 0);
#endif

    const TFileTimes times = ReadFileTimes(dir / "a");
    EXPECT_EQ(times.lastWrite, expected);
    RestoreFileTimes(dir / "b", times);
    EXPECT_EQ(ReadFileTimes(dir / "b").lastWrite, times.lastWrite);

    // Where the file system reports a birth time (ext4, btrfs, xfs, tmpfs) it is near now, not the
    // modification time we just set. Wine has no creation time of its own to report.
    if (times.creation && !RunningUnderWine()) {
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
        TOtherHolder other(file, TOtherHolder::TKind::Exclusive);
        ASSERT_TRUE(other.Held());
        EXPECT_FALSE(CanOpenExclusively(file));
        EXPECT_THROW(TFile(file, TOpenMode::ReadWriteShared), EFileError);
        try {
            TFile f(file, TOpenMode::ReadWriteShared);
        } catch (const EFileError& e) {
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos);
#ifdef _WIN32
            EXPECT_EQ(e.SystemError(), ERROR_SHARING_VIOLATION);
#else
            EXPECT_NE(std::string(e.what()).find("locked by another program"), std::string::npos);
#endif
        }
    }
#ifndef _WIN32
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
            const int other = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
            const char ok = RecordLock(other, F_WRLCK) ? '1' : '0';
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
#endif
    {
        // Sharing is what the wiping open allows: readers that share do not stop it, but its own
        // shared lock makes the file in use for the exclusive test.
        TOtherHolder other(file, TOtherHolder::TKind::Shared);
        ASSERT_TRUE(other.Held());
        TFile shared(file, TOpenMode::ReadWriteShared);
        EXPECT_FALSE(CanOpenExclusively(file));
    }
    EXPECT_TRUE(CanOpenExclusively(file));
}

TEST(FilesOpen, TheWipingOpenRefusesLinksFoldersAndSpecialFiles)
{
    TTempDir dir;
    WriteText(dir / "target", "t");
    if (MakeSymlink("target", dir / "link")) {
        EXPECT_THROW(TFile(dir / "link", TOpenMode::ReadWriteShared), EFileError);
    }
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_THROW(TFile(dir / "fifo", TOpenMode::ReadWriteShared), EFileError); // and does not hang
#endif
    EXPECT_THROW(TFile(dir.Path(), TOpenMode::ReadWriteShared), EFileError);
    try {
        TFile f(dir / "missing", TOpenMode::Read);
        FAIL() << "opened a missing file";
    } catch (const EFileError& e) {
#ifdef _WIN32
        EXPECT_EQ(std::string(e.what()), "Cannot open \"" + (dir / "missing") + "\": " +
                                             SystemErrorText(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(e.SystemError(), ERROR_FILE_NOT_FOUND);
#else
        EXPECT_EQ(std::string(e.what()), "Cannot open \"" + (dir / "missing") + "\": No such file or directory");
        EXPECT_EQ(e.SystemError(), ENOENT);
#endif
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
    ASSERT_TRUE(std::filesystem::create_directory(dir / "sub"));
    WriteText(dir / "file", "12345");

    EXPECT_EQ(FindEntry(dir / "sub")->kind, TEntryKind::Directory);
    if (MakeSymlink("sub", dir / "link")) {
        EXPECT_EQ(FindEntry(dir / "link")->kind, TEntryKind::SymbolicLink);
    }
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(FindEntry(dir / "fifo")->kind, TEntryKind::Other);
#endif
    EXPECT_EQ(FindEntry(dir / "file")->kind, TEntryKind::File);
    EXPECT_EQ(FindEntry(dir / "file")->size, 5u);
    EXPECT_FALSE(FindEntry(dir / "missing"));
    EXPECT_FALSE(FindEntry(dir / "sub/"));
    EXPECT_FALSE(FindEntry("/"));
    EXPECT_FALSE(FindEntry(""));
#ifdef _WIN32
    EXPECT_FALSE(FindEntry(dir / "sub\\"));
    EXPECT_FALSE(FindEntry("C:\\"));
    // The search is for one path: wildcards match nothing.
    EXPECT_FALSE(FindEntry(dir / "fil?"));
    EXPECT_FALSE(FindEntry(dir / "*"));
#endif

    EXPECT_EQ(HardLinkCount(dir / "file"), 1u);
    std::filesystem::create_hard_link(dir / "file", dir / "second");
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
    ASSERT_TRUE(std::filesystem::create_directory(root));
    ASSERT_TRUE(std::filesystem::create_directory(root + "/.sub"));
    ASSERT_TRUE(std::filesystem::create_directory(root + "/.sub/deeper"));
    WriteText(root + "/.sub/deeper/x", "x");
    WriteText(root + "/.dot", "d");
    std::vector<std::string> files{root + "/.dot", root + "/.sub/deeper/x"};
    if (MakeSymlink(outside.Path(), root + "/away")) {
        files.push_back(root + "/away");
    }
    std::vector<std::string> others;
#ifdef _WIN32
    // Hidden by attribute: listed all the same.
    WriteText(root + "/secret", "s");
    WriteFileAttributes(root + "/secret", kAttrHidden | kAttrSystem);
    files.push_back(root + "/secret");
#else
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);
    others.push_back(root + "/fifo");
#endif

    const TTreeListing listing = ListTree(root + "/");
    EXPECT_EQ(listing.files, files);
    EXPECT_EQ(listing.others, others);
    EXPECT_EQ(listing.folders, (std::vector<std::string>{root + "/.sub/deeper", root + "/.sub"}));
    EXPECT_TRUE(listing.unreadable.empty());

#ifdef _WIN32
    EXPECT_TRUE(IsVolumeRoot("C:\\"));
    EXPECT_TRUE(IsVolumeRoot("C:/"));
#else
    EXPECT_TRUE(IsVolumeRoot("/"));
#endif
    EXPECT_FALSE(IsVolumeRoot(root));
    EXPECT_FALSE(IsVolumeRoot(root + "/.sub"));
}

TEST(FilesNames, NamesBeyondAsciiAreUtf8Throughout)
{
    TTempDir dir;
    const std::string name = "Grüße-пароль-密码.txt";
    const std::string path = dir / name;
    // Made and checked through the standard library, independently of the file layer.
    const auto native = [](const std::string& utf8) {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    };
    {
        std::ofstream out(native(path), std::ios::binary);
        out << "12345";
    }
    ASSERT_TRUE(std::filesystem::exists(native(path)));

    EXPECT_EQ(ListTree(dir.Path()).files, std::vector<std::string>{path});
    ASSERT_TRUE(FindEntry(path));
    EXPECT_EQ(FindEntry(path)->size, 5u);
    EXPECT_EQ(FileSize(path), 5u);
    WriteFileAttributes(path, kAttrHidden | kAttrArchive);
    EXPECT_EQ(ReadFileAttributes(path) & kAttrHidden, kAttrHidden);
    WriteFileAttributes(path, kAttrArchive);
    EXPECT_TRUE(CanOpenExclusively(path));

    const std::string renamed = dir / "Ä€ renamed";
    RenameFile(path, renamed, TRenameMode::NoReplace);
    EXPECT_TRUE(std::filesystem::exists(native(renamed)));
    std::vector<std::uint8_t> bytes(10);
    EXPECT_EQ(TFile(renamed, TOpenMode::Read).Read(bytes), 5u);
    RemoveFile(renamed);
    EXPECT_FALSE(std::filesystem::exists(native(renamed)));
}

TEST(FilesPaths, PartsOfAPath)
{
    EXPECT_EQ(FolderOfPath("/a/b.c/d"), "/a/b.c/");
    EXPECT_EQ(FolderOfPath("name"), "");
    EXPECT_EQ(NameOfPath("/a/b.c/d"), "d");
    EXPECT_EQ(ExtensionOfPath("/a/b.c/d"), "");
    EXPECT_EQ(ExtensionOfPath("/a/b/file.tar.gz"), ".gz");
    EXPECT_EQ(ExtensionOfPath("x."), ".");
#ifdef _WIN32
    EXPECT_EQ(FolderOfPath("C:\\a\\b.c\\d.txt"), "C:\\a\\b.c\\");
    EXPECT_EQ(NameOfPath("C:\\a/b\\d.txt"), "d.txt");
    EXPECT_EQ(FolderOfPath("C:name"), "C:");
    EXPECT_EQ(NameOfPath("C:name.txt"), "name.txt");
    EXPECT_EQ(ExtensionOfPath("C:\\a.b\\name"), "");
#else
    // A backslash is an ordinary character in a POSIX name.
    EXPECT_EQ(NameOfPath("/a/b\\c"), "b\\c");
#endif
}

TEST(Clock, CountersAdvance)
{
    const auto counter = PerformanceCounter();
    ASSERT_TRUE(counter.has_value());
    const std::uint32_t tick = TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
#ifdef _WIN32
    // The performance counter's own units.
    LARGE_INTEGER frequency;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_GE(*PerformanceCounter() - *counter, static_cast<std::uint64_t>(frequency.QuadPart) / 50);
#else
    EXPECT_GE(*PerformanceCounter() - *counter, 20000000u);
#endif
    EXPECT_GE(static_cast<std::uint32_t>(TickCount() - tick), 19u);
}
