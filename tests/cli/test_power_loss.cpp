// In-place runs against power loss: the file-system calls of a real run of the command-line tool
// are recorded at the C library's boundary, and for every point of that record every state a
// power loss may leave (unflushed writes and unflushed folder changes lost in every combination the
// model allows, see PowerLoss.h) must still hold each file's plaintext or a complete encryption of
// it. Unlike killing the process, this sees a missing flush, since a killed process keeps the page
// cache and a power loss does not.
#include "encryption/FileFormat.h"
#include "tests/support/Bytes.h"
#include "tests/support/DecryptCheck.h"
#include "tests/support/PowerLoss.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <optional>

#include <sys/stat.h>

namespace
{
using TBytes = std::vector<std::uint8_t>;

constexpr const char* kPassword = "power loss";

// Sets environment variables for the children started in its lifetime.
class TChildEnvironment
{
public:
    void Set(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    ~TChildEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// The names whose content differs between two folders, or "".
std::string Difference(const TFolderBytes& a, const TFolderBytes& b)
{
    std::string names;
    const auto note = [&](const std::string& name, const char* how) {
        names += (names.empty() ? "\"" : ", \"") + name + "\" " + how;
    };
    for (const auto& [name, bytes] : a) {
        const auto it = b.find(name);
        if (it == b.end()) {
            note(name, "only in the first");
        } else if (it->second != bytes) {
            note(name, "differs");
        }
    }
    for (const auto& [name, bytes] : b) {
        if (a.count(name) == 0) {
            note(name, "only in the second");
        }
    }
    return names;
}

std::string Resolved(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

class PowerLoss : public testing::Test
{
protected:
    void SetUp() override
    {
        pw = outside / "pw";
        WriteText(pw, std::string(kPassword) + "\n");
        // Small, but the largest spans more than one chunk of the wipe and of the cipher's pieces;
        // the one in a subfolder needs that folder flushed, not the one above.
        ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
        const std::size_t sizes[] = {1000, 5000, 20000};
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            const std::string name = (i == 1 ? "sub/file" : "file") + std::to_string(i) + ".dat";
            plain[name] = RandomBytes(sizes[i], static_cast<unsigned>(700 + i));
            WriteAll(dir / name, plain[name]);
        }
    }

    std::vector<std::string> Args(const std::string& command, const std::string& action) const
    {
        std::vector<std::string> args = {command, "--source", action, "--password-file", pw};
        for (const auto& [name, bytes] : plain) {
            args.push_back(dir / name);
        }
        return args;
    }

    // Runs the tool with the recording library loaded; returns its record.
    std::vector<TFsEntry> RecordRun(const std::vector<std::string>& args)
    {
        const std::string log = outside / "record";
        TChildEnvironment env;
        env.Set("LD_PRELOAD", VX_FSRECORD_PATH);
        env.Set(kFsRecordLogVar, log);
        env.Set(kFsRecordRootVar, Resolved(dir.Path()));
        // A sanitizer build's runtime would refuse to come second to the preloaded library.
        const char* asan = std::getenv("ASAN_OPTIONS");
        env.Set("ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0");
        const TProcessResult run = RunProcess(VX_CLI_PATH, args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return ReadFsRecord(log);
    }

    // Whether `bytes` is `plaintext`, or a complete encryption of it under the test's password.
    bool Holds(const TBytes& bytes, const TBytes& plaintext)
    {
        if (bytes == plaintext) {
            return true;
        }
        auto it = m_decrypted.find(bytes);
        if (it == m_decrypted.end()) {
            const std::string probe = scratch / "probe";
            WriteAll(probe, bytes);
            it = m_decrypted.emplace(bytes, DecryptsTo(probe, kPassword)).first;
        }
        return it->second == plaintext;
    }

    // What is wrong with a state, or empty: every file must hold its plaintext or a complete
    // encryption of it under its own name. While a source is shredded the name may lose it, but
    // then the complete output stands beside it under the name the tool gives an output.
    std::string Fault(const TCrashState& state, bool shredding, bool decrypting)
    {
        for (const auto& [name, plaintext] : plain) {
            const auto at = state.files.find(name);
            if (at != state.files.end() && Holds(at->second, plaintext)) {
                continue;
            }
            const std::string beside = decrypting ? DecryptedOutputPath(name) : EncryptedOutputPath(name);
            const auto out = state.files.find(beside);
            if (shredding && out != state.files.end() && Holds(out->second, plaintext)) {
                continue;
            }
            return "\"" + name + "\" is lost: " +
                   (at == state.files.end() ? "no such name"
                                            : std::to_string(at->second.size()) + " bytes that are neither");
        }
        return {};
    }

    // Replays the record and checks every state a power loss may leave; after the whole record (the
    // tool has reported every file done) nothing may be lost any more: the folder must come back as
    // the run left it.
    void CheckEveryPowerLoss(const TFolderBytes& before, const std::vector<TFsEntry>& record, bool shredding,
                             bool decrypting)
    {
        ASSERT_FALSE(record.empty()) << "nothing was recorded: the recording library did not load";
        const TFolderBytes after = SnapshotFolder(dir.Path());
        TPowerLossReplay replay(Resolved(dir.Path()), before);
        std::size_t states = 0;
        std::vector<std::string> faults;
        replay.Replay(record, [&](const TCrashState& state) {
            ++states;
            std::string fault = Fault(state, shredding, decrypting);
            if (fault.empty() && state.prefix == record.size() && state.files != replay.Current()) {
                fault = "the finished run is not yet on the disk: " + Difference(state.files, replay.Current());
            }
            if (!fault.empty()) {
                faults.push_back(fault + "; " + state.description);
            }
            return faults.size() < 3;
        });
        for (const std::string& fault : faults) {
            ADD_FAILURE() << fault;
        }
        if (faults.size() < 3) {
            // The replay must have seen every call that changed the folder, or its states mean nothing.
            EXPECT_EQ(Difference(replay.Current(), after), "")
                << "the record missed calls: the replay ends elsewhere than the run";
            EXPECT_GT(states, record.size());
        }
    }

    void EncryptInPlaceAlready()
    {
        const TProcessResult run = RunProcess(VX_CLI_PATH, Args("encrypt", "delete"));
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    TTempDir dir;
    TTempDir outside;
    TTempDir scratch;
    std::string pw;
    std::map<std::string, TBytes> plain;
    std::map<TBytes, std::optional<TBytes>> m_decrypted;
};

TEST_F(PowerLoss, EncryptionDeletingTheSources)
{
    const TFolderBytes before = SnapshotFolder(dir.Path());
    const std::vector<TFsEntry> record = RecordRun(Args("encrypt", "delete"));
    for (const auto& [name, plaintext] : plain) {
        EXPECT_EQ(DecryptsTo(dir / name, kPassword), plaintext) << name;
    }
    CheckEveryPowerLoss(before, record, false, false);
}

TEST_F(PowerLoss, EncryptionShreddingTheSources)
{
    const TFolderBytes before = SnapshotFolder(dir.Path());
    const std::vector<TFsEntry> record = RecordRun(Args("encrypt", "shred"));
    for (const auto& [name, plaintext] : plain) {
        EXPECT_EQ(DecryptsTo(dir / name, kPassword), plaintext) << name;
    }
    CheckEveryPowerLoss(before, record, true, false);
}

TEST_F(PowerLoss, DecryptionDeletingTheSources)
{
    EncryptInPlaceAlready();
    const TFolderBytes before = SnapshotFolder(dir.Path());
    const std::vector<TFsEntry> record = RecordRun(Args("decrypt", "delete"));
    for (const auto& [name, plaintext] : plain) {
        EXPECT_EQ(ReadAll(dir / name), plaintext) << name;
    }
    CheckEveryPowerLoss(before, record, false, true);
}

TEST_F(PowerLoss, DecryptionShreddingTheSources)
{
    EncryptInPlaceAlready();
    const TFolderBytes before = SnapshotFolder(dir.Path());
    const std::vector<TFsEntry> record = RecordRun(Args("decrypt", "shred"));
    for (const auto& [name, plaintext] : plain) {
        EXPECT_EQ(ReadAll(dir / name), plaintext) << name;
    }
    CheckEveryPowerLoss(before, record, true, true);
}
} // namespace
