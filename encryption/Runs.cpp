// The encryption and decryption runs over a work list, the source actions and folder expansion.
#include "encryption/Runs.h"

#include "crypto/VXmd5.h"
#include "crypto/VXsecmem.h"
#include "platform/FileStream.h"
#include "platform/Files.h"
#include "platform/Workers.h"
#include "wipe/funkcije_u.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace
{
// Compares what a cipher writes with the bytes of a reference file, piece by piece, so that a
// verification needs no more memory than one piece.
class TCompareWriter final : public TVX_writestream
{
public:
    TCompareWriter(TFileReader& expected, const std::string& output)
        : m_expected(expected), m_output(output), m_buffer(TVX_cipher::kStreamChunk, TSecureUse::Bulk)
    {
    }

    void Write(std::span<const std::uint8_t> data) override
    {
        while (!data.empty()) {
            const std::size_t n = std::min(data.size(), m_buffer.size());
            m_buffer.Touch(n);
            if (m_expected.Read(std::span(m_buffer).first(n)) != n ||
                std::memcmp(m_buffer.data(), data.data(), n) != 0) {
                Fail();
            }
            data = data.subspan(n);
        }
    }

    void ExpectEnd()
    {
        std::array<std::uint8_t, 1> probe{};
        if (m_expected.Read(probe) != 0) {
            Fail();
        }
    }

private:
    [[noreturn]] void Fail() const
    {
        throw std::runtime_error("Verification of \"" + m_output +
                                 "\" failed: it does not give back its source. The source was kept.");
    }

    TFileReader& m_expected;
    std::string m_output;
    // Holds the plaintext side of the comparison.
    TSecureBuffer m_buffer;
};

void Verify(bool decryptOutput, TVX_cipher& cipher, TFileReader& produced, std::uint64_t producedSize,
            TFileReader& expected, const std::string& output)
{
    TCompareWriter compare(expected, output);
    const TOnProgessEvent progress = std::move(cipher.OnProgress);
    cipher.OnProgress = {};
    try {
        if (decryptOutput) {
            cipher.StreamDecrypt(produced, compare, producedSize);
        } else {
            cipher.StreamEncrypt(produced, compare, producedSize);
        }
        compare.ExpectEnd();
    } catch (...) {
        cipher.OnProgress = progress;
        cipher.Wipe();
        throw;
    }
    cipher.OnProgress = progress;
    cipher.Wipe();
}

std::string Plural(std::size_t count, const char* rest)
{
    return "  " + std::to_string(count) + rest;
}

bool IsPlainFile(const std::string& path)
{
    const auto entry = FindEntry(path);
    return entry && entry->kind == TEntryKind::File;
}

bool IsAdmittedFile(const TFileRef& file)
{
    const auto entry = file.folder->Find(file.name);
    return entry && entry->kind == TEntryKind::File && entry->identity == file.identity;
}

// Routes the DoD wipe of a source to the run's view while the run lasts.
class TWipeToView final : public TWipeProgress
{
public:
    explicit TWipeToView(TRunView& view) : m_view(view)
    {
        SetWipeProgress(TWipeTarget::OperationDialog, this);
        SetWipeMessagePump([this] { m_view.PumpMessages(); });
    }
    ~TWipeToView() override
    {
        SetWipeProgress(TWipeTarget::OperationDialog, nullptr);
        SetWipeMessagePump({});
    }
    TWipeToView(const TWipeToView&) = delete;
    TWipeToView& operator=(const TWipeToView&) = delete;

    void BarStart(std::int64_t maximum) override
    {
        m_maximum = maximum;
        m_view.CurrentBar(0, maximum);
    }
    void BarPosition(std::int64_t position) override { m_view.CurrentBar(position, m_maximum); }
    void CurrentFileLabel(const std::string& text) override { m_view.CurrentLabel(text); }

private:
    TRunView& m_view;
    std::int64_t m_maximum = 3;
};

void RequireSpace(const std::string& path, std::uint64_t needed)
{
    const std::string folder = FolderOfPath(path);
    const auto free = FreeSpace(folder.empty() ? "." : folder);
    if (free && *free < needed) {
        throw std::runtime_error("Not enough free space for the output of \"" + path + "\": " +
                                 std::to_string(needed) + " bytes needed, " + std::to_string(*free) +
                                 " available. Nothing was written.");
    }
}
} // namespace

void ApplySourceAction(TSourceAction action, const std::string& source, const std::string& output)
{
    if (action == TSourceAction::Leave) {
        return;
    }
    ApplySourceAction(action, AnchorPath(source), NameOfPath(output));
}

void ApplySourceAction(TSourceAction action, const TFileRef& source, const std::string& outputName)
{
    if (action == TSourceAction::Leave) {
        return;
    }
    const TFolder& folder = *source.folder;
    // The output's own entry must be on the disk before anything destroys the source: its data
    // alone, without a name, would not survive a crash.
    folder.Sync();
    switch (action) {
    case TSourceAction::Leave:
        return;
    case TSourceAction::Delete:
        // One rename: at no moment does the name hold neither the source nor its complete output.
        // Whether a crash keeps the rename or not, the name holds one of the two; but until the
        // folder is flushed a power loss can undo it and bring the plaintext back under its name
        // after the run has reported the file done.
        folder.Rename(outputName, source.name, TRenameMode::Replace);
        folder.Sync();
        return;
    case TSourceAction::Shred: {
        std::exception_ptr wipeError;
        if (IsAdmittedFile(source)) {
            try {
                WipeDoD(source, 1, TWipeTarget::OperationDialog);
            } catch (...) {
                wipeError = std::current_exception();
            }
        }
        // A wipe that failed part way still renames and deletes the source, so the output can
        // take its name all the same; a source that survived its wipe keeps its name.
        if (!folder.Find(source.name)) {
            folder.Rename(outputName, source.name, TRenameMode::NoReplace);
        }
        folder.Sync();
        if (wipeError) {
            std::rethrow_exception(wipeError);
        }
        return;
    }
    }
}

std::vector<std::string> ExpandFolder(const std::string& folder)
{
    std::vector<std::string> files;
    for (std::string& path : ListTree(folder).files) {
        // A folder's ".hidden" list is where the hidden attribute lives here, not the user's data:
        // encrypting it would garble the attribute, and the run itself edits it as it goes.
        if (IsPlainFile(path) && NameOfPath(path) != kHiddenListName) {
            files.push_back(std::move(path));
        }
    }
    return files;
}

namespace
{
// Both files are read through the run's anchors, so that a check cannot read something else.
void VerifyEncryptionAt(const TFileRef& source, const TFileRef& output, const TPasswordKey& password,
                        int algorithmIndex, TCipherSet& ciphers)
{
    TVX_cipher& cipher = ciphers.Cipher(algorithmIndex);
    cipher.KeyFromPassword<TVX_md5>(password.Bytes());
    TFileReader produced(output);
    const std::uint64_t size = produced.Size();
    produced.Seek(kHeaderSize);
    TFileReader expected(source);
    Verify(true, cipher, produced, size < kHeaderSize ? 0 : size - kHeaderSize, expected, output.Path());
}

void VerifyDecryptionAt(const TFileRef& source, const TFileRef& output, std::string_view keyBytes,
                        int algorithmIndex, TCipherSet& ciphers)
{
    TVX_cipher& cipher = ciphers.Cipher(algorithmIndex);
    cipher.KeyFromPassword<TVX_md5>(keyBytes);
    TFileReader produced(output);
    TFileReader expected(source);
    expected.Seek(kHeaderSize);
    Verify(false, cipher, produced, produced.Size(), expected, output.Path());
}

// Removes an output that failed its check, by name in its own folder and only if it is still it.
void RemoveOutput(const TFileRef& output) noexcept
{
    try {
        const auto entry = output.folder->Find(output.name);
        if (entry && entry->identity == output.identity) {
            output.folder->Remove(output.name);
        }
    } catch (...) {
    }
}
} // namespace

void VerifyEncryption(const std::string& source, const std::string& output, const TPasswordKey& password,
                      int algorithmIndex, TCipherSet& ciphers)
{
    VerifyEncryptionAt(AnchorPath(source), AnchorPath(output), password, algorithmIndex, ciphers);
}

void VerifyDecryption(const std::string& source, const std::string& output, std::string_view keyBytes,
                      int algorithmIndex, TCipherSet& ciphers)
{
    VerifyDecryptionAt(AnchorPath(source), AnchorPath(output), keyBytes, algorithmIndex, ciphers);
}

void TFileRun::ClearLists()
{
    InUseList.clear();
    BadPasswordList.clear();
    AlreadyDoneList.clear();
    UnsupportedList.clear();
    DamagedList.clear();
    OutputExistsList.clear();
    FailedList.clear();
}

template <class TPerFile>
void TFileRun::Run(bool encrypting, unsigned jobs, TRunView& view, TPerFile perFile)
{
    // A view that drives the run's own ciphers cannot follow several at once.
    if (WorkerCount(jobs) > 1 && WorkList.size() > 1 && !view.OwnsCipherProgress()) {
        RunParallel(encrypting, WorkerCount(jobs), view, perFile);
    } else {
        RunSerial(encrypting, view, perFile);
    }
}

template <class TPerFile>
void TFileRun::RunSerial(bool encrypting, TRunView& view, TPerFile perFile)
{
    const auto total = static_cast<std::int64_t>(WorkList.size());
    view.TotalBar(0, total);
    view.CurrentBar(0, 0);
    ClearLists();
    std::int64_t currentMaximum = 0;
    const bool ownProgress = view.OwnsCipherProgress();
    if (!ownProgress) {
        m_ciphers.SetOnProgress([&view, &currentMaximum](const void*, std::int64_t done, std::int64_t) {
            view.CurrentBar(done, currentMaximum);
            view.PumpMessages();
            if (view.StopRequested()) {
                throw ERunStopped();
            }
        });
    }
    TWipeToView wipeView(view);
    try {
        for (std::size_t i = 0; i < WorkList.size(); ++i) {
            if (view.StopRequested()) {
                throw ERunStopped();
            }
            if (view.StopAfterCurrentFile()) {
                break;
            }
            const std::string& path = WorkList[i];
            const std::string name = NameOfPath(path);
            view.CurrentLabel((encrypting ? "Encrypting: " : "Decrypting: ") + name);
            try {
                const TFileRef file = i < WorkRefs.size() && WorkRefs[i].folder ? WorkRefs[i] : AnchorPath(path);
                if (!Admit(file, view)) {
                    view.TotalBar(static_cast<std::int64_t>(i) + 1, total);
                    continue;
                }
                const auto entry = file.folder->Find(file.name);
                currentMaximum = entry ? static_cast<std::int64_t>(entry->size) : 0;
                view.CurrentBar(0, currentMaximum);
                perFile(*this, file, view, m_ciphers);
            } catch (const ERunStopped&) {
                throw;
            } catch (const std::exception& e) {
                if (!m_continueAfterError) {
                    throw;
                }
                FailedList.push_back(path);
                view.FileSkipped(path, e.what());
                view.TotalBar(static_cast<std::int64_t>(i) + 1, total);
                continue;
            }
            view.TotalBar(static_cast<std::int64_t>(i) + 1, total);
            view.ProcessedLabel("Processed " + std::to_string(i + 1) + " of " + std::to_string(WorkList.size()) +
                                " files");
            view.CurrentLabel("Last File: " + name);
        }
    } catch (...) {
        if (!ownProgress) {
            m_ciphers.SetOnProgress({});
        }
        EndOfRun(encrypting, view);
        throw;
    }
    if (!ownProgress) {
        m_ciphers.SetOnProgress({});
    }
    EndOfRun(encrypting, view);
}

namespace
{
// What one file's work told its view, kept until the file's turn in the list comes.
class TRecordedView final : public TRunView
{
public:
    void FileSkipped(const std::string& path, const std::string& reason) override
    {
        m_events.push_back({true, path, reason});
    }
    void FileNote(const std::string& path, const std::string& note) override
    {
        m_events.push_back({false, path, note});
    }

    void ReplayTo(TRunView& view) const
    {
        for (const TEvent& event : m_events) {
            if (event.skipped) {
                view.FileSkipped(event.path, event.text);
            } else {
                view.FileNote(event.path, event.text);
            }
        }
    }

private:
    struct TEvent
    {
        bool skipped;
        std::string path;
        std::string text;
    };
    std::vector<TEvent> m_events;
};

constexpr std::size_t kNoFile = SIZE_MAX;

// One worker's own ciphers (with their key schedules) and the file it is on.
struct TRunWorker
{
    TCipherSet ciphers;
    std::size_t index = kNoFile;
    std::int64_t done = 0;
    std::int64_t maximum = 0;
};

// How far one file of a parallel run got; its done step reports it in the list's order.
enum class TFileEnd
{
    NotStarted,
    // Refused before it was opened: the total bar moves on and nothing else.
    Refused,
    Failed,
    // Processed, or skipped by its operation: the bars and labels show it as processed.
    Handled,
    // Stopped, or failed in a run that ends at an error: the run raises the error.
    Ended,
};

// One file's outcome: the lists it joined (in a run object of its own, which lends it the per-file
// steps without their touching the shared lists) and what it told its view.
struct TFileSlot
{
    TFileEnd end = TFileEnd::NotStarted;
    TFileRun lists;
    std::exception_ptr error;
    TRecordedView events;
};

constexpr std::vector<std::string> TFileRun::* kSkipLists[] = {
    &TFileRun::InUseList,   &TFileRun::BadPasswordList,  &TFileRun::AlreadyDoneList, &TFileRun::UnsupportedList,
    &TFileRun::DamagedList, &TFileRun::OutputExistsList, &TFileRun::FailedList,
};

// For each file, the latest earlier file of the list that shares its path or its output's name
// (kNoFile when none does). Such a file waits for that one, as in a serial run: the same file
// listed twice, or "a" and "a.enc" both decrypting to "a.dec", must meet the first one's result
// rather than race it.
std::vector<std::size_t> Predecessors(const std::vector<std::string>& paths, bool encrypting)
{
    std::vector<std::size_t> before(paths.size(), kNoFile);
    std::unordered_map<std::string, std::size_t> lastUser;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string output = encrypting ? EncryptedOutputPath(paths[i]) : DecryptedOutputPath(paths[i]);
        for (const std::string* key : {&paths[i], &output}) {
            const auto [it, added] = lastUser.try_emplace(*key, i);
            if (!added) {
                before[i] = before[i] == kNoFile ? it->second : std::max(before[i], it->second);
                it->second = i;
            }
        }
    }
    return before;
}
} // namespace

template <class TPerFile>
void TFileRun::RunParallel(bool encrypting, unsigned jobs, TRunView& view, TPerFile perFile)
{
    const std::size_t count = WorkList.size();
    const auto total = static_cast<std::int64_t>(count);
    const char* verb = encrypting ? "Encrypting: " : "Decrypting: ";
    view.TotalBar(0, total);
    view.CurrentBar(0, 0);
    ClearLists();
    const std::vector<std::size_t> before = Predecessors(WorkList, encrypting);

    // Guards every call on the view and all that the workers share below.
    std::mutex viewMutex;
    std::condition_variable fileFinished;
    std::vector<bool> finished(count, false);
    // The earliest file whose done step has not run: the view shows this one's progress.
    std::size_t head = 0;
    bool noMoreStarts = false;
    std::vector<std::unique_ptr<TRunWorker>> workers;
    for (unsigned w = 0; w < jobs; ++w) {
        auto worker = std::make_unique<TRunWorker>();
        TRunWorker* state = worker.get();
        worker->ciphers.SetOnProgress([&, state](const void*, std::int64_t done, std::int64_t) {
            const std::lock_guard lock(viewMutex);
            state->done = done;
            if (state->index == head) {
                view.CurrentBar(done, state->maximum);
                view.PumpMessages();
            }
            if (view.StopRequested()) {
                noMoreStarts = true;
                throw ERunStopped();
            }
        });
        workers.push_back(std::move(worker));
    }

    using TSlot = TFileSlot;
    auto work = [&](std::size_t i, TSlot& slot, TRunWorker& worker) {
        const std::string& path = WorkList[i];
        {
            std::unique_lock lock(viewMutex);
            if (before[i] != kNoFile) {
                fileFinished.wait(lock, [&] { return finished[before[i]] || noMoreStarts; });
            }
            if (noMoreStarts) {
                return;
            }
            if (view.StopRequested()) {
                noMoreStarts = true;
                slot.end = TFileEnd::Ended;
                slot.error = std::make_exception_ptr(ERunStopped());
                return;
            }
            if (view.StopAfterCurrentFile()) {
                noMoreStarts = true;
                return;
            }
            worker.index = i;
            worker.done = 0;
            worker.maximum = 0;
            if (i == head) {
                view.CurrentLabel(verb + NameOfPath(path));
            }
        }
        try {
            const TFileRef file = i < WorkRefs.size() && WorkRefs[i].folder ? WorkRefs[i] : AnchorPath(path);
            if (!slot.lists.Admit(file, slot.events)) {
                slot.end = TFileEnd::Refused;
                return;
            }
            const auto entry = file.folder->Find(file.name);
            {
                const std::lock_guard lock(viewMutex);
                worker.maximum = entry ? static_cast<std::int64_t>(entry->size) : 0;
                if (i == head) {
                    view.CurrentBar(0, worker.maximum);
                }
            }
            perFile(slot.lists, file, slot.events, worker.ciphers);
            slot.end = TFileEnd::Handled;
        } catch (const ERunStopped&) {
            slot.end = TFileEnd::Ended;
            slot.error = std::current_exception();
        } catch (const std::exception& e) {
            if (!m_continueAfterError) {
                slot.end = TFileEnd::Ended;
                slot.error = std::current_exception();
                return;
            }
            slot.end = TFileEnd::Failed;
            slot.lists.FailedList.push_back(path);
            slot.events.FileSkipped(path, e.what());
        }
    };

    // Runs on the calling thread, file after file in the list's order.
    auto done = [&](std::size_t i, const TSlot& slot, std::exception_ptr& runError) {
        const std::lock_guard lock(viewMutex);
        // The lists first, as in the serial run: a view may look a skipped file up in them.
        for (const auto list : kSkipLists) {
            const std::vector<std::string>& joined = slot.lists.*list;
            (this->*list).insert((this->*list).end(), joined.begin(), joined.end());
        }
        slot.events.ReplayTo(view);
        if (slot.end == TFileEnd::Ended && !runError) {
            runError = slot.error;
        }
        if (slot.end == TFileEnd::Refused || slot.end == TFileEnd::Failed || slot.end == TFileEnd::Handled) {
            view.TotalBar(static_cast<std::int64_t>(i) + 1, total);
        }
        if (slot.end == TFileEnd::Handled) {
            view.ProcessedLabel("Processed " + std::to_string(i + 1) + " of " + std::to_string(count) + " files");
            view.CurrentLabel("Last File: " + NameOfPath(WorkList[i]));
        }
        head = i + 1;
        for (const auto& worker : workers) {
            if (worker->index == head) {
                view.CurrentLabel(verb + NameOfPath(WorkList[head]));
                view.CurrentBar(worker->done, worker->maximum);
            }
        }
    };

    std::exception_ptr runError;
    std::exception_ptr escaped;
    {
        TOrderedWorkers pool(jobs);
        try {
            for (std::size_t i = 0; i < count; ++i) {
                auto slot = std::make_shared<TSlot>();
                pool.Add(
                    [&, i, slot](unsigned w) {
                        TRunWorker& worker = *workers[w];
                        try {
                            work(i, *slot, worker);
                        } catch (...) {
                            slot->end = TFileEnd::Ended;
                            slot->error = std::current_exception();
                        }
                        const std::lock_guard lock(viewMutex);
                        worker.index = kNoFile;
                        finished[i] = true;
                        noMoreStarts = noMoreStarts || slot->end == TFileEnd::Ended;
                        fileFinished.notify_all();
                    },
                    [&, i, slot] { done(i, *slot, runError); });
            }
            pool.Drain();
        } catch (...) {
            escaped = std::current_exception();
        }
    }
    EndOfRun(encrypting, view);
    if (escaped) {
        std::rethrow_exception(escaped);
    }
    if (runError) {
        std::rethrow_exception(runError);
    }
}

void TFileRun::AddFile(const std::string& path)
{
    WorkRefs.resize(WorkList.size());
    WorkList.push_back(path);
    WorkRefs.emplace_back();
}

std::vector<std::string> TFileRun::AddFolder(const std::string& folder)
{
    WorkRefs.resize(WorkList.size());
    TTreeListing tree = ListTree(folder);
    for (std::size_t i = 0; i < tree.files.size(); ++i) {
        const TFileRef& file = tree.fileRefs[i];
        const auto entry = file.folder->Find(file.name);
        // Links are not followed, and a folder's hidden-name list is no user data.
        if (!entry || entry->kind != TEntryKind::File || entry->identity != file.identity ||
            file.name == kHiddenListName) {
            continue;
        }
        WorkList.push_back(tree.files[i]);
        WorkRefs.push_back(file);
    }
    return tree.unreadable;
}

// The tests every file passes before it is opened: a regular file, still the one admitted, that
// can be read and that no other program holds.
bool TFileRun::Admit(const TFileRef& file, TRunView& view)
{
    const std::string path = file.Path();
    const auto entry = file.folder->Find(file.name);
    if (entry && entry->identity != file.identity) {
        UnsupportedList.push_back(path);
        view.FileSkipped(path, "it was replaced since it was listed");
        return false;
    }
    if (entry && entry->kind != TEntryKind::File) {
        UnsupportedList.push_back(path);
        view.FileSkipped(path, entry->kind == TEntryKind::SymbolicLink ? "a symbolic link, not followed"
                               : entry->kind == TEntryKind::Directory  ? "a folder"
                                                                       : "not a regular file");
        return false;
    }
    // A file that is gone is left to the per-file operation, which reports it as the error it is.
    std::string reason;
    if (entry && FileInUse(file, &reason)) {
        InUseList.push_back(path);
        view.FileSkipped(path, reason);
        return false;
    }
    return true;
}

void TFileRun::RunEncryption(std::string_view passwordUtf8, const TRunOptions& options, TRunView& view)
{
    const TPasswordKey password(passwordUtf8);
    m_continueAfterError = options.ContinueAfterError;
    // Each file's steps go through the run object that keeps its lists: this one, or the file's own
    // on a worker.
    const auto perFile = [&](TFileRun& lists, const TFileRef& file, TRunView& fileView, TCipherSet& ciphers) {
        lists.EncryptOne(file, password, options, fileView, ciphers);
    };
    Run(true, options.Jobs, view, perFile);
}

void TFileRun::RunDecryption(std::string_view passwordUtf8, const TRunOptions& options, TRunView& view)
{
    const TPasswordKey password(passwordUtf8);
    m_continueAfterError = options.ContinueAfterError;
    // Each file's steps go through the run object that keeps its lists: this one, or the file's own
    // on a worker.
    const auto perFile = [&](TFileRun& lists, const TFileRef& file, TRunView& fileView, TCipherSet& ciphers) {
        lists.DecryptOne(file, password, options, fileView, ciphers);
    };
    Run(false, options.Jobs, view, perFile);
}

namespace
{
std::string OutputTakenReason(const std::string& output)
{
    return "its output \"" + output + "\" already exists";
}
} // namespace

void TFileRun::EncryptOne(const TFileRef& file, const TPasswordKey& password, const TRunOptions& options,
                          TRunView& view, TCipherSet& ciphers)
{
    const std::string path = file.Path();
    const TFileTimes times = ReadFileTimes(file);
    const auto entry = file.folder->Find(file.name);
    RequireSpace(path, (entry ? entry->size : 0) + kHeaderSize);
    const bool replacing = options.SourceAction != TSourceAction::Leave;
    const TEncryptOutcome outcome = EncryptSingleFile(file, password, options.AlgorithmIndex, ciphers,
                                                      TFileOptions{replacing, replacing, options.ReplaceExisting});
    if (outcome.Result == TEncryptResult::AlreadyEncrypted) {
        AlreadyDoneList.push_back(path);
        view.FileSkipped(path, "already encrypted");
        return;
    }
    if (outcome.Result == TEncryptResult::OutputExists) {
        OutputExistsList.push_back(path);
        view.FileSkipped(path, OutputTakenReason(outcome.OutputPath));
        return;
    }
    if (options.Verify) {
        view.VerifyingFile(path);
        const TFileRef output{file.folder, NameOfPath(outcome.OutputPath), outcome.OutputIdentity};
        try {
            VerifyEncryptionAt(file, output, password, options.AlgorithmIndex, ciphers);
        } catch (...) {
            RemoveOutput(output);
            throw;
        }
    }
    if (!replacing) {
        return;
    }
    // The source action, the dates and the hidden mark are extras: the encrypted file is already
    // complete and on the disk, so a failure here loses nothing and does not stop the run.
    try {
        ApplySourceAction(options.SourceAction, file, NameOfPath(outcome.OutputPath));
        const TFileRef result{file.folder, file.name, outcome.OutputIdentity};
        if (options.KeepDate) {
            RestoreFileTimes(result, times);
        }
        if (options.MarkHidden) {
            WriteFileAttributes(result, ReadFileAttributes(result) | kAttrHidden);
        }
    } catch (const std::exception& e) {
        view.FileNote(path, e.what());
    }
}

void TFileRun::DecryptOne(const TFileRef& file, const TPasswordKey& password, const TRunOptions& options,
                          TRunView& view, TCipherSet& ciphers)
{
    const std::string path = file.Path();
    const TFileTimes times = ReadFileTimes(file);
    const auto entry = file.folder->Find(file.name);
    const std::uint64_t size = entry ? entry->size : 0;
    RequireSpace(path, size > kHeaderSize ? size - kHeaderSize : 0);
    const bool replacing = options.SourceAction != TSourceAction::Leave;
    const TDecryptOutcome outcome =
        DecryptSingleFile(file, password, ciphers, TFileOptions{replacing, replacing, options.ReplaceExisting});
    switch (outcome.Result) {
    case TDecryptResult::NotEncrypted:
        AlreadyDoneList.push_back(path);
        view.FileSkipped(path, "not encrypted");
        return;
    case TDecryptResult::Damaged:
        DamagedList.push_back(path);
        view.FileSkipped(path, "damaged: it begins with the marker, but its header names no algorithm 00 to 12 "
                               "or is cut short");
        return;
    case TDecryptResult::BadPassword:
        BadPasswordList.push_back(path);
        view.FileSkipped(path, "bad password");
        return;
    case TDecryptResult::OutputExists:
        OutputExistsList.push_back(path);
        view.FileSkipped(path, OutputTakenReason(outcome.OutputPath));
        return;
    case TDecryptResult::Decrypted:
        break;
    }
    if (outcome.Form == THeaderForm::Legacy) {
        view.FileNote(path, "older header form, which carries its own key; encrypt it again");
    }
    if (options.Verify) {
        view.VerifyingFile(path);
        const TFileRef output{file.folder, NameOfPath(outcome.OutputPath), outcome.OutputIdentity};
        try {
            VerifyDecryptionAt(file, output, outcome.KeyBytes, outcome.AlgorithmIndex, ciphers);
        } catch (...) {
            RemoveOutput(output);
            throw;
        }
    }
    if (!replacing) {
        return;
    }
    // Unlike encryption, a failure of the source action ends the run.
    ApplySourceAction(options.SourceAction, file, NameOfPath(outcome.OutputPath));
    const TFileRef result{file.folder, file.name, outcome.OutputIdentity};
    WriteFileAttributes(result, ReadFileAttributes(result) & ~kAttrHidden);
    // The encrypted file kept the plaintext's dates when it was made in place; handing them back
    // makes the round trip keep them. The plaintext is complete by now, so a failure is only a note.
    if (options.KeepDate) {
        try {
            RestoreFileTimes(result, times);
        } catch (const std::exception& e) {
            view.FileNote(path, e.what());
        }
    }
}

void TFileRun::EndOfRun(bool encrypting, TRunView& view)
{
    const auto total = static_cast<std::int64_t>(WorkList.size());
    view.TotalBar(total, total);
    view.CurrentBar(1, 1);
    if (!InUseList.empty()) {
        view.LogLine(Plural(InUseList.size(), " file(s) skiped because file(s) in use."), 1);
    }
    if (!BadPasswordList.empty()) {
        view.LogLine(Plural(BadPasswordList.size(), " file(s) skiped because bad password."), 1);
    }
    if (!AlreadyDoneList.empty()) {
        view.LogLine(Plural(AlreadyDoneList.size(), encrypting ? " file(s) skiped because file(s) already encrypted."
                                                               : " file(s) skiped because file(s) already decrypted."),
                     0);
    }
    if (!UnsupportedList.empty()) {
        view.LogLine(Plural(UnsupportedList.size(), " file(s) skiped because they are links, folders or special files."),
                     1);
    }
    if (!DamagedList.empty()) {
        view.LogLine(Plural(DamagedList.size(), " file(s) skiped because their header is damaged."), 1);
    }
    if (!OutputExistsList.empty()) {
        view.LogLine(Plural(OutputExistsList.size(), " file(s) skiped because their output file already exists."), 1);
    }
    if (!FailedList.empty()) {
        view.LogLine(Plural(FailedList.size(), " file(s) skiped because of an error."), 1);
    }
    view.Refresh();
    if (!InUseList.empty() || !BadPasswordList.empty() || !AlreadyDoneList.empty() || !UnsupportedList.empty() ||
        !DamagedList.empty() || !OutputExistsList.empty() || !FailedList.empty()) {
        view.FinalMessage(kCheckLogMessage);
    }
}
