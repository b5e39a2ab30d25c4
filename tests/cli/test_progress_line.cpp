// The progress line's layout, the summary's words and the run view's counting; then the line as a
// pseudo-terminal of a given width receives it from the built tool.
#include "cli/Progress.h"
#include "tests/support/Bytes.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <clocale>
#include <csignal>
#include <cwchar>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
// Columns as the C library counts them in a UTF-8 locale: an independent measure of the line.
int LibcColumns(const std::string& text)
{
    static const bool localeSet = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    EXPECT_TRUE(localeSet);
    std::mbstate_t state{};
    int columns = 0;
    const char* at = text.data();
    const char* end = at + text.size();
    while (at < end) {
        wchar_t c = 0;
        const std::size_t used = std::mbrtowc(&c, at, static_cast<std::size_t>(end - at), &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0) {
            ADD_FAILURE() << "no UTF-8 at byte " << (at - text.data()) << " of \"" << text << "\"";
            return 1000;
        }
        const int width = ::wcwidth(c);
        EXPECT_GE(width, 0) << "a character the terminal acts on: U+" << std::hex << static_cast<int>(c);
        columns += std::max(width, 0);
        at += used;
    }
    return columns;
}

const std::string kEllipsis = "\xE2\x80\xA6";

TProgressState Encrypting(std::string name)
{
    TProgressState state;
    state.Stage = "encrypting";
    state.DoneBytes = 437'000'000;
    state.TotalBytes = 874'000'000;
    state.FilesDone = 2478;
    state.Files = 4957;
    state.Name = std::move(name);
    state.BytesPerSecond = 9'120'000;
    return state;
}
} // namespace

TEST(ProgressLine, NeverWiderThanTheTerminalWhateverTheName)
{
    const std::vector<std::string> names{
        "report.txt",
        "a-rather-long-file-name-that-goes-on-and-on-well-past-any-terminal-width-2024.tar.gz",
        // Wide characters: two columns each, three or four bytes each.
        "\xE6\xBC\xA2\xE5\xAD\x97\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE5\x90\x8D\xE5\x89\x8D"
        "\xE3\x81\x8C\xE3\x81\xA8\xE3\x81\xA6\xE3\x82\x82\xE9\x95\xB7\xE3\x81\x84.txt",
        "\xF0\x9F\x93\x81\xF0\x9F\x93\x81\xF0\x9F\x93\x81\xF0\x9F\x93\x81 emoji and more emoji "
        "\xF0\x9F\x8E\x89\xF0\x9F\x8E\x89\xF0\x9F\x8E\x89.png",
        // Combining accents take no column of their own.
        "cafe\xCC\x81-cafe\xCC\x81-cafe\xCC\x81-cafe\xCC\x81-cafe\xCC\x81-cafe\xCC\x81-cafe\xCC\x81.doc",
    };
    for (const int width : {20, 40, 80, 11, 5}) {
        for (const std::string& name : names) {
            SCOPED_TRACE(testing::Message() << width << " columns, " << name);
            const std::string line = ProgressLineText(Encrypting(name), width);
            EXPECT_LE(LibcColumns(line), width) << line;
            EXPECT_NE(line.find('%'), std::string::npos) << line;
            if (width >= 40) {
                // Room enough for a name: its beginning and its end are there, its middle gives way.
                EXPECT_NE(line.find(name.substr(0, 1)), std::string::npos) << line;
                EXPECT_EQ(line.substr(line.size() - 4), name.substr(name.size() - 4)) << line;
            }
        }
    }
    const std::string wide = ProgressLineText(Encrypting(names[1]), 80);
    EXPECT_NE(wide.find("encrypting"), std::string::npos) << wide;
    EXPECT_NE(wide.find("2478/4957"), std::string::npos) << wide;
    EXPECT_NE(wide.find(" 50%"), std::string::npos) << wide;
    EXPECT_NE(wide.find("9.12 MB/s"), std::string::npos) << wide;
    EXPECT_NE(wide.find(kEllipsis), std::string::npos) << wide;
    EXPECT_EQ(LibcColumns(wide), 80) << "a shortened name uses the room there is: " << wide;
}

TEST(ProgressLine, TheLayoutDependsOnTheWidthNotOnTheName)
{
    // The bar stays where it is from one file to the next.
    for (const int width : {40, 80, 120}) {
        const std::string shortName = ProgressLineText(Encrypting("a"), width);
        const std::string longName = ProgressLineText(Encrypting(std::string(300, 'x')), width);
        EXPECT_EQ(shortName.find(']'), longName.find(']')) << shortName << "\n" << longName;
        EXPECT_NE(shortName.find(']'), std::string::npos) << shortName;
    }
    TProgressState verifying = Encrypting("x");
    verifying.Stage = "verifying";
    EXPECT_EQ(ProgressLineText(verifying, 80).find('['), ProgressLineText(Encrypting("x"), 80).find('['));
    EXPECT_EQ(ProgressLineText(verifying, 80).rfind("verifying", 0), 0u);
}

TEST(ProgressLine, NamesAreShortenedInTheMiddleAndMadeSafe)
{
    EXPECT_EQ(ShortenMiddle("a-very-long-file-name.txt", 13), "a-very" + kEllipsis + "me.txt");
    EXPECT_EQ(ShortenMiddle("short.txt", 9), "short.txt");
    EXPECT_EQ(ShortenMiddle("short.txt", 8), "sho" + kEllipsis + ".txt");
    // Wide characters are never cut in half, and the line keeps its width.
    const std::string kanji = "\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97";
    const std::string shortKanji = ShortenMiddle(kanji, 7);
    EXPECT_LE(LibcColumns(shortKanji), 7) << shortKanji;
    EXPECT_EQ(shortKanji, "\xE6\xBC\xA2\xE5\xAD\x97" + kEllipsis + "\xE5\xAD\x97") << shortKanji;
    EXPECT_EQ(DisplayColumns(kanji), 12);

    // A name cannot clear the screen, end the line or reorder the text after it.
    const std::string hostile = "evil\x1B[2J\nname\r\x07\xE2\x80\xAEtxt.exe\xFF\xC0\xAF";
    const std::string safe = TerminalSafe(hostile);
    EXPECT_EQ(safe, "evil?[2J?name???txt.exe???");
    EXPECT_EQ(DisplayColumns(hostile), DisplayColumns(safe));
    const std::string line = ProgressLineText(Encrypting(hostile), 80);
    EXPECT_EQ(line.find_first_of("\x1B\n\r\x07"), std::string::npos) << line;
    EXPECT_EQ(line.find("\xE2\x80\xAE"), std::string::npos) << line;
}

TEST(SummaryWords, CountsSizesAndTimesReadAsEnglish)
{
    EXPECT_EQ(GroupedNumber(0), "0");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(4957), "4,957");
    EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
    EXPECT_EQ(FilesText(1), "1 file");
    EXPECT_EQ(FilesText(0), "0 files");
    EXPECT_EQ(FilesText(4957), "4,957 files");

    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(1), "1 byte");
    EXPECT_EQ(SizeText(999), "999 bytes");
    EXPECT_EQ(SizeText(1000), "1.00 kB");
    EXPECT_EQ(SizeText(1234), "1.23 kB");
    EXPECT_EQ(SizeText(20000), "20.0 kB");
    EXPECT_EQ(SizeText(437'000'000), "437 MB");
    EXPECT_EQ(SizeText(999'600), "1.00 MB") << "rounding up never shows 1000 kB";
    EXPECT_EQ(SizeText(5'500'000'000), "5.50 GB");

    EXPECT_EQ(DurationText(0.04), "0.0 s");
    EXPECT_EQ(DurationText(48.83), "48.8 s");
    EXPECT_EQ(DurationText(59.97), "1:00 min");
    EXPECT_EQ(DurationText(125), "2:05 min");
    EXPECT_EQ(DurationText(3723), "1:02:03 h");

    TRunSummary summary;
    summary.Done = "Encrypted";
    summary.Files = 4957;
    summary.Bytes = 437'000'000;
    summary.Seconds = 48.8;
    summary.Skipped = {{"wrong password", 3}, {"already encrypted", 0}, {"in use", 1}};
    EXPECT_EQ(SummaryText(summary), "Encrypted 4,957 files (437 MB) in 48.8 s\n3 skipped: wrong password\n"
                                    "1 skipped: in use\n");
    summary = TRunSummary{"Shredded", 1, 1, 0.12, {}};
    EXPECT_EQ(SummaryText(summary), "Shredded 1 file (1 byte) in 0.1 s\n");
    summary = TRunSummary{"Decrypted", 0, 0, 0.0, {{"not encrypted", 2}}};
    EXPECT_EQ(SummaryText(summary), "Decrypted 0 files in 0.0 s\n2 skipped: not encrypted\n");
}

namespace {
class TRecordingSink final : public TProgressSink
{
public:
    void Show(const TProgressState& state) override { shown.push_back(state); }
    void Message(const std::string& text) override { messages.push_back(text); }

    std::vector<TProgressState> shown;
    std::vector<std::string> messages;
};
} // namespace

// The calls a run makes, in its order: the overall bar counts every byte of the work list once,
// skipped files included, and the summary counts only what was processed.
TEST(CliRunView, OneBarByBytesAcrossTheWholeWorkList)
{
    TRecordingSink sink;
    TCliRunView view(sink, true, {{"/t/a", 100}, {"/t/b", 200}, {"/t/c", 300}, {"/t/d", 400}}, false);
    view.TotalBar(0, 4);
    view.CurrentBar(0, 0);
    EXPECT_TRUE(sink.shown.empty()) << "a frame before any file has begun shows nothing";

    view.CurrentLabel("Encrypting: a");
    view.CurrentBar(0, 100);
    view.CurrentBar(60, 100);
    ASSERT_FALSE(sink.shown.empty());
    EXPECT_EQ(sink.shown.back().DoneBytes, 60u);
    EXPECT_EQ(sink.shown.back().TotalBytes, 1000u);
    EXPECT_EQ(sink.shown.back().Stage, "encrypting");
    EXPECT_EQ(sink.shown.back().Name, "a");
    view.CurrentBar(100, 100);
    view.VerifyingFile("/t/a");
    EXPECT_EQ(sink.shown.back().Stage, "verifying");
    // The source's wipe reports its passes on the same bar.
    view.CurrentBar(0, 3);
    EXPECT_EQ(sink.shown.back().Stage, "wiping");
    EXPECT_EQ(sink.shown.back().DoneBytes, 100u);
    view.CurrentBar(2, 3);
    EXPECT_EQ(sink.shown.back().DoneBytes, 100u);
    view.TotalBar(1, 4);

    // Passed over before its bar was set, and after.
    view.CurrentLabel("Encrypting: b");
    view.FileSkipped("/t/b", "in use");
    view.TotalBar(2, 4);
    view.CurrentLabel("Encrypting: c");
    view.CurrentBar(0, 300);
    view.FileSkipped("/t/c", "already encrypted");
    view.TotalBar(3, 4);
    view.CurrentLabel("Encrypting: d");
    view.CurrentBar(0, 400);
    EXPECT_EQ(sink.shown.back().DoneBytes, 600u);
    EXPECT_EQ(sink.shown.back().FilesDone, 3u);
    view.CurrentBar(400, 400);
    view.TotalBar(4, 4);
    view.CurrentLabel("Last File: d");

    EXPECT_EQ(view.FilesProcessed(), 2u);
    EXPECT_EQ(view.BytesProcessed(), 500u);
    EXPECT_EQ(view.FilesDone(), 4u);
    // Only the skip that is a failure is named; files already done show in the counts.
    EXPECT_EQ(sink.messages, std::vector<std::string>{"skipped \"/t/b\": in use"});
}

TEST(CliRunView, FilesWorkedOnAtOnceKeepTheirOwnProgress)
{
    TRecordingSink sink;
    TCliRunView view(sink, false, {{"/t/a", 1000}, {"/t/b", 3000}}, true);
    view.TotalBar(0, 2);
    // Both workers live until the end, as a run's workers do (a thread's id may be reused once it
    // has ended), and take turns so that each reports while the other's file is in hand.
    std::promise<void> firstBegun;
    std::promise<void> secondBegun;
    std::promise<void> firstMoved;
    std::promise<void> secondDone;
    std::thread first([&] {
        view.CurrentLabel("Decrypting: a");
        view.CurrentBar(0, 1000);
        view.CurrentBar(500, 1000);
        firstBegun.set_value();
        secondBegun.get_future().wait();
        view.CurrentBar(800, 1000);
        firstMoved.set_value();
        secondDone.get_future().wait();
    });
    std::thread second([&] {
        firstBegun.get_future().wait();
        view.CurrentLabel("Decrypting: b");
        view.CurrentBar(0, 3000);
        view.CurrentBar(2000, 3000);
        secondBegun.set_value();
        firstMoved.get_future().wait();
        view.TotalBar(1, 2);
    });
    second.join();
    const TProgressState last = sink.shown.back();
    secondDone.set_value();
    first.join();
    sink.shown.push_back(last);
    EXPECT_EQ(sink.shown.back().DoneBytes, 3800u);
    EXPECT_EQ(sink.shown.back().Name, "a") << "the file still in hand is shown";
    EXPECT_EQ(sink.shown.back().Stage, "decrypting");
    EXPECT_EQ(view.FilesProcessed(), 1u);
    EXPECT_EQ(view.BytesProcessed(), 3000u);
}

namespace {
// vellumox-cli on a pseudo-terminal of the given width, with everything it shows collected.
class TNarrowTerminal
{
public:
    TNarrowTerminal(const std::vector<std::string>& args, unsigned short columns)
    {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        m_pid = forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            std::vector<char*> argv{const_cast<char*>(VX_CLI_PATH)};
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(VX_CLI_PATH, argv.data());
            _exit(127);
        }
        EXPECT_GT(m_pid, 0) << "forkpty failed";
    }
    ~TNarrowTerminal()
    {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    TNarrowTerminal(const TNarrowTerminal&) = delete;
    TNarrowTerminal& operator=(const TNarrowTerminal&) = delete;

    // Collects output until `text` has been shown; false after 20 s or when the tool has gone.
    bool WaitFor(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_shown.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            // Nothing yet is no answer: a slow start (a loaded machine, a sanitizer build) shows
            // nothing for a while.
            pollfd p{m_master, POLLIN, 0};
            const int ready = poll(&p, 1, 100);
            if (ready < 0 || (ready > 0 && !Pump(0))) {
                return false;
            }
        }
        return true;
    }

    void Resize(unsigned short columns)
    {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        EXPECT_EQ(ioctl(m_master, TIOCSWINSZ, &size), 0);
        m_resizedAt = m_shown.size();
    }

    // The exit status once the tool has ended, with all it showed collected.
    int Finish()
    {
        while (Pump(20000)) {
        }
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Shown() const { return m_shown; }
    std::size_t ResizedAt() const { return m_resizedAt; }

private:
    bool Pump(int timeoutMs)
    {
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) {
            return false; // EIO once the tool has closed the terminal
        }
        m_shown.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    int m_master = -1;
    pid_t m_pid = -1;
    bool m_reaped = false;
    std::string m_shown;
    std::size_t m_resizedAt = 0;
};

// What the terminal shows, cut where the cursor goes back to the line's start or to a new line,
// without the erase-to-end-of-line that follows every redraw.
std::vector<std::string> Frames(const std::string& shown)
{
    std::vector<std::string> frames{""};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\r' || shown[i] == '\n') {
            frames.emplace_back();
        } else if (shown.compare(i, 3, "\x1B[K") == 0) {
            i += 2;
        } else {
            frames.back() += shown[i];
        }
    }
    return frames;
}

bool IsProgress(const std::string& frame)
{
    return frame.find('%') != std::string::npos;
}
} // namespace

TEST(ProgressOnATerminal, FitsTheWidthShowsTheFilesAndLeavesTheSummary)
{
    TTempDir keys;
    TTempDir dir;
    WriteText(keys / "pw", "narrow\n");
    const std::string wideName = "\xE6\xBC\xA2\xE5\xAD\x97\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4"
                                 "\xE3\x83\xAB-with-a-long-name.bin";
    WriteAll(dir / "first-of-three-files-with-a-long-name.bin", RandomBytes(300000, 1));
    WriteAll(dir / wideName, RandomBytes(300000, 2));
    WriteAll(dir / "third", RandomBytes(300000, 3));
    // Already done, and named to retitle the terminal: it is named, but not obeyed.
    WriteText(dir / "zz-done\x1B]0;owned\x07", "##$00 and sixteen more bytes");
    TNarrowTerminal terminal({"encrypt", "--verify", "-r", "--password-file", keys / "pw", dir.Path()}, 40);
    ASSERT_EQ(terminal.Finish(), 1) << terminal.Shown();

    const std::vector<std::string> frames = Frames(terminal.Shown());
    std::vector<std::string> progress;
    for (const std::string& frame : frames) {
        // A message never shares its line with the bar.
        EXPECT_FALSE(IsProgress(frame) && frame.find("skipped") != std::string::npos) << frame;
        if (IsProgress(frame)) {
            // The last column is left alone: some terminals wrap as soon as it is written.
            EXPECT_LE(LibcColumns(frame), 39) << frame;
            progress.push_back(frame);
        }
    }
    ASSERT_FALSE(progress.empty()) << terminal.Shown();
    // The first frame already says what is being done, and to which file.
    EXPECT_EQ(progress.front().rfind("encrypting", 0), 0u) << progress.front();
    EXPECT_NE(progress.front().find("fi"), std::string::npos) << progress.front();
    EXPECT_EQ(progress.front().find("100%"), std::string::npos) << progress.front();
    // Once cleared, the line is gone for good: the summary is the last thing on the screen.
    const std::string& shown = terminal.Shown();
    const std::string after = shown.substr(shown.rfind("\x1B[K") + 3);
    // Messages of files finished late may come between (several files run at once), never a bar.
    EXPECT_NE(after.find("Encrypted and verified 3 files (900 kB) in "), std::string::npos) << after;
    EXPECT_NE(after.find("\n1 skipped: already encrypted"), std::string::npos) << after;
    EXPECT_NE(shown.find("skipped \"" + dir / "zz-done?]0;owned?\": already encrypted"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\x1B]"), std::string::npos) << shown;
    EXPECT_EQ(after.find('%'), std::string::npos) << after;
}

// One large file, checked after it is written: the check reports no progress of its own, and still
// shows as such.
TEST(ProgressOnATerminal, FollowsTheTerminalWhenItIsMadeNarrowerAndShowsTheVerification)
{
    TTempDir keys;
    TTempDir dir;
    WriteText(keys / "pw", "narrow\n");
    const std::string large = dir / "large-file-with-a-name-that-needs-room.bin";
    WriteAll(large, std::vector<std::uint8_t>(std::size_t{64} << 20, 7));
    TNarrowTerminal terminal({"encrypt", "--verify", "--password-file", keys / "pw", large}, 100);
    ASSERT_TRUE(terminal.WaitFor("%")) << terminal.Shown();
    terminal.Resize(30);
    ASSERT_EQ(terminal.Finish(), 0) << terminal.Shown();

    // The frames drawn before the tool saw the new width may still arrive; the last ones fit.
    std::vector<std::string> after;
    for (const std::string& frame : Frames(terminal.Shown().substr(terminal.ResizedAt()))) {
        if (IsProgress(frame)) {
            after.push_back(frame);
        }
    }
    ASSERT_FALSE(after.empty()) << "no redraw after the resize: " << terminal.Shown();
    EXPECT_LE(LibcColumns(after.back()), 29) << after.back();
    EXPECT_EQ(after.back().rfind("verifying", 0), 0u) << after.back();
    const std::vector<std::string> before = Frames(terminal.Shown().substr(0, terminal.ResizedAt()));
    EXPECT_GT(LibcColumns(before.back()), 29) << "the first frames use the whole width: " << before.back();
}

TEST(ProgressOnATerminal, ShredShowsItsPassesAndItsSummary)
{
    TTempDir dir;
    WriteAll(dir / "one-file-to-shred-with-a-long-name", RandomBytes(2000000, 1));
    WriteAll(dir / "two", RandomBytes(2000000, 2));
    // One file at a time, so that the first frame is the first file's.
    TNarrowTerminal terminal(
        {"shred", "-y", "-j", "1", "--method", "1", "-r", dir / "one-file-to-shred-with-a-long-name", dir / "two"}, 40);
    ASSERT_EQ(terminal.Finish(), 0) << terminal.Shown();
    std::vector<std::string> progress;
    for (const std::string& frame : Frames(terminal.Shown())) {
        if (IsProgress(frame)) {
            EXPECT_LE(LibcColumns(frame), 39) << frame;
            progress.push_back(frame);
        }
    }
    ASSERT_FALSE(progress.empty()) << terminal.Shown();
    // The first pass of the first of two files: the overall bar has only begun.
    EXPECT_EQ(progress.front().rfind("pass 1/2", 0), 0u) << progress.front();
    EXPECT_NE(progress.front().find("one-"), std::string::npos) << progress.front();
    EXPECT_NE(progress.front().find("  0%"), std::string::npos) << progress.front();
    const std::string& shown = terminal.Shown();
    const std::string after = shown.substr(shown.rfind("\x1B[K") + 3);
    EXPECT_EQ(after.rfind("Shredded 2 files (4.00 MB) in ", 0), 0u) << after;
}
