// The password prompt on a real terminal: a pseudo-terminal stands in for the user's, so the
// test sees what the user would see and the terminal's state after the tool has gone.
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
using namespace std::chrono_literals;

// vellumox-cli with a pseudo-terminal as its controlling terminal and standard streams.
class TTerminalSession
{
public:
    explicit TTerminalSession(const std::vector<std::string>& args)
    {
        int slave = -1;
        termios settings{};
        settings.c_iflag = ICRNL;
        settings.c_oflag = OPOST | ONLCR;
        settings.c_cflag = CS8 | CREAD;
        settings.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK;
        settings.c_cc[VINTR] = 0x03;
        settings.c_cc[VEOF] = 0x04;
        cfsetispeed(&settings, B38400);
        cfsetospeed(&settings, B38400);
        if (openpty(&m_master, &slave, nullptr, &settings, nullptr) != 0) {
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            ::close(m_master);
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(slave, 2);
            if (slave > 2) {
                ::close(slave);
            }
            std::vector<char*> argv{const_cast<char*>(VX_CLI_PATH)};
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(VX_CLI_PATH, argv.data());
            _exit(127);
        }
        ::close(slave);
    }
    ~TTerminalSession()
    {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    TTerminalSession(const TTerminalSession&) = delete;
    TTerminalSession& operator=(const TTerminalSession&) = delete;

    // Everything the terminal has shown so far, waiting up to 10 s for `text` to appear in it.
    bool WaitFor(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (m_shown.find(text, m_consumed) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !Pump(100)) {
                return false;
            }
        }
        m_consumed = m_shown.find(text, m_consumed) + text.size();
        return true;
    }

    // Waits until the tool has switched echo off (it prints the prompt first).
    bool WaitForEcho(bool on)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (EchoIsOn() != on) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    bool EchoIsOn() const
    {
        termios now{};
        tcgetattr(m_master, &now);
        return (now.c_lflag & ECHO) != 0;
    }

    void Type(const std::string& keys)
    {
        EXPECT_EQ(::write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    pid_t Pid() const { return m_pid; }

    // The wait status once the tool has ended; everything it showed is collected meanwhile.
    int Finish()
    {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            Pump(50);
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the tool did not end";
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
        }
        m_reaped = true;
        while (Pump(0)) {
        }
        return status;
    }

    const std::string& Shown() const { return m_shown; }

private:
    bool Pump(int timeoutMs)
    {
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) {
            return (p.revents & (POLLHUP | POLLERR)) == 0 && timeoutMs != 0;
        }
        char buffer[512];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        m_shown.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    int m_master = -1;
    pid_t m_pid = -1;
    bool m_reaped = false;
    std::string m_shown;
    std::size_t m_consumed = 0;
};

class PasswordPrompt : public testing::Test
{
protected:
    void SetUp() override { WriteAll(file, RandomBytes(5000, 3)); }

    TTempDir dir;
    const std::string file = dir / "letter.txt";
};

TEST_F(PasswordPrompt, TypedPasswordIsNotEchoedAndKeysTheFile)
{
    TTerminalSession session({"encrypt", file});
    ASSERT_TRUE(session.WaitFor("Password: ")) << session.Shown();
    ASSERT_TRUE(session.WaitForEcho(false)) << "echo stayed on while the password was typed";
    session.Type("tiger lily\n");
    ASSERT_TRUE(session.WaitFor("Confirm password: ")) << session.Shown();
    ASSERT_TRUE(session.WaitForEcho(false));
    session.Type("tiger lily\n");
    const int status = session.Finish();
    ASSERT_TRUE(WIFEXITED(status)) << session.Shown();
    EXPECT_EQ(WEXITSTATUS(status), 0) << session.Shown();
    EXPECT_EQ(session.Shown().find("tiger"), std::string::npos) << session.Shown();
    EXPECT_TRUE(session.EchoIsOn());
    EXPECT_EQ(DecryptsTo(file + ".enc", "tiger lily"), ReadAll(file));
}

TEST_F(PasswordPrompt, MismatchedConfirmationWritesNothing)
{
    TTerminalSession session({"encrypt", file});
    // Typed only once echo is off: switching it off discards what was typed before.
    ASSERT_TRUE(session.WaitFor("Password: ")) << session.Shown();
    ASSERT_TRUE(session.WaitForEcho(false));
    session.Type("first try\n");
    ASSERT_TRUE(session.WaitFor("Confirm password: ")) << session.Shown();
    ASSERT_TRUE(session.WaitForEcho(false));
    session.Type("second try\n");
    const int status = session.Finish();
    ASSERT_TRUE(WIFEXITED(status)) << session.Shown();
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(session.Shown().find("The password and confirmation password do not match."), std::string::npos)
        << session.Shown();
    EXPECT_EQ(session.Shown().find("try"), std::string::npos) << session.Shown();
    EXPECT_TRUE(session.EchoIsOn());
    EXPECT_FALSE(Exists(file + ".enc"));
}

// Ctrl-C at the prompt, and the signals a closing terminal or a shutdown send: each ends the tool
// as the signal does by default (the shell reports 128 + n), with echo back on and nothing written.
TEST_F(PasswordPrompt, SignalsAtThePromptRestoreEchoAndEndTheTool)
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signalNumber));
        TTerminalSession session({"encrypt", file});
        ASSERT_TRUE(session.WaitFor("Password: ")) << session.Shown();
        ASSERT_TRUE(session.WaitForEcho(false));
        session.Type("half typ");
        if (signalNumber == SIGINT) {
            session.Type("\x03");
        } else {
            kill(session.Pid(), signalNumber);
        }
        const int status = session.Finish();
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << ": " << session.Shown();
        EXPECT_EQ(WTERMSIG(status), signalNumber);
        EXPECT_TRUE(session.EchoIsOn()) << "the terminal was left without echo";
        EXPECT_FALSE(Exists(file + ".enc"));
    }
}
// A password that opens none of the files is asked for again, three tries in all, before anything
// is touched; the right one on a later try decrypts.
TEST_F(PasswordPrompt, APasswordThatOpensNoneIsAskedAgainThreeTimesInAll)
{
    const std::string key = dir / "key";
    WriteText(key, "tiger lily\n");
    ASSERT_EQ(RunProcess(VX_CLI_PATH, {"encrypt", "--password-file", key, file}).exitCode, 0);
    const std::string encrypted = file + ".enc";
    {
        TTerminalSession session({"decrypt", encrypted});
        for (int attempt = 1; attempt <= 3; ++attempt) {
            ASSERT_TRUE(session.WaitFor("Password: ")) << session.Shown();
            ASSERT_TRUE(session.WaitForEcho(false));
            session.Type("daisy\n");
            ASSERT_TRUE(session.WaitFor("The password does not open the encrypted file.")) << session.Shown();
        }
        const int status = session.Finish();
        ASSERT_TRUE(WIFEXITED(status)) << session.Shown();
        EXPECT_EQ(WEXITSTATUS(status), 1) << session.Shown();
        EXPECT_EQ(session.Shown().find("Password: ", session.Shown().rfind("does not open")), std::string::npos)
            << "a fourth try was offered: " << session.Shown();
        EXPECT_FALSE(Exists(file + ".dec"));
    }
    TTerminalSession session({"decrypt", encrypted});
    ASSERT_TRUE(session.WaitFor("Password: ")) << session.Shown();
    ASSERT_TRUE(session.WaitForEcho(false));
    session.Type("daisy\n");
    ASSERT_TRUE(session.WaitFor("Try again.")) << session.Shown();
    ASSERT_TRUE(session.WaitFor("Password: ")) << session.Shown();
    ASSERT_TRUE(session.WaitForEcho(false));
    session.Type("tiger lily\n");
    const int status = session.Finish();
    ASSERT_TRUE(WIFEXITED(status)) << session.Shown();
    EXPECT_EQ(WEXITSTATUS(status), 0) << session.Shown();
    EXPECT_EQ(ReadAll(file + ".dec"), ReadAll(file));
}

// At a terminal, shredding a file whose data has other names is asked about first, -y or not.
TEST_F(PasswordPrompt, AFileWithOtherHardLinksIsShreddedOnlyWhenTheUserSaysSo)
{
    const std::string other = dir / "other-name";
    ASSERT_EQ(::link(file.c_str(), other.c_str()), 0);
    const auto original = ReadAll(file);
    {
        TTerminalSession session({"shred", "-y", "--method", "0", file});
        ASSERT_TRUE(session.WaitFor("\"" + file + "\" has 2 hard links")) << session.Shown();
        ASSERT_TRUE(session.WaitFor("(y/N) ")) << session.Shown();
        session.Type("n\n");
        const int status = session.Finish();
        ASSERT_TRUE(WIFEXITED(status)) << session.Shown();
        EXPECT_EQ(WEXITSTATUS(status), 1) << session.Shown();
        EXPECT_EQ(ReadAll(file), original);
    }
    TTerminalSession session({"shred", "-y", "--method", "0", file});
    ASSERT_TRUE(session.WaitFor("(y/N) ")) << session.Shown();
    session.Type("y\n");
    const int status = session.Finish();
    ASSERT_TRUE(WIFEXITED(status)) << session.Shown();
    EXPECT_EQ(WEXITSTATUS(status), 0) << session.Shown();
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(ReadAll(other), std::vector<std::uint8_t>(original.size(), 0xFF));
}
} // namespace
