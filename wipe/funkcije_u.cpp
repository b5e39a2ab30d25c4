// The wiping methods, their progress and random numbers, and the directory and in-use tests.
#include "wipe/funkcije_u.h"

#include "platform/Clock.h"
#include "platform/Files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

std::int32_t ShredMethod = 2;
std::int32_t ShredRepeat = 1;
std::atomic<bool> ShredCancelled{false};
thread_local std::uint32_t WipeRandSeed = 0;

namespace
{
std::uint32_t SeedFromClock()
{
    if (const auto counter = PerformanceCounter()) {
        return static_cast<std::uint32_t>(*counter);
    }
    return TickCount();
}

TWipeProgress* g_shredWindow = nullptr;
TWipeProgress* g_operationDialog = nullptr;
std::function<void()> g_pump;

void Pump()
{
    if (g_pump) {
        g_pump();
    }
}

// Drawn below 255, so a random byte is never 0xFF and its complement never 0x00.
std::uint8_t RandomByte()
{
    return static_cast<std::uint8_t>(WipeRandom(255));
}

// The file's length in kilobytes, rounded to nearest with halves to even, as the bar's maximum.
std::int64_t KilobytesRounded(std::uint64_t length)
{
    const std::uint64_t whole = length / 1024;
    const std::uint64_t rest = length % 1024;
    if (rest > 512 || (rest == 512 && (whole & 1) != 0)) {
        return static_cast<std::int64_t>(whole + 1);
    }
    return static_cast<std::int64_t>(whole);
}

// One file under wiping: the open file, what the passes report to, and the pass loop.
class TWipeRun
{
public:
    TWipeRun(const TFileRef& file, std::string labelPrefix, TWipeTarget target)
        : m_ref(file), m_path(file.Path()), m_labelPrefix(std::move(labelPrefix)), m_target(target),
          m_file(file, TOpenMode::ReadWriteShared)
    {
    }

    // Writes buffer repeatedly over the whole file from its start, buffer.size() bytes a chunk.
    void Pass(int number, std::span<const std::uint8_t> chunk)
    {
        const std::string label = m_labelPrefix + std::to_string(number) + ")";
        if (g_shredWindow != nullptr) {
            g_shredWindow->MethodLabel(label);
        }
        Pump();

        m_file.Seek(0);
        std::uint64_t remaining = m_file.Size();
        TWipeProgress* bar = m_target == TWipeTarget::ShredWindow ? g_shredWindow : g_operationDialog;
        const std::int64_t maximum = m_target == TWipeTarget::ShredWindow ? KilobytesRounded(remaining) : 3;
        if (bar != nullptr) {
            bar->BarStart(maximum);
        }

        std::uint64_t written = 0;
        int chunks = 0;
        while (remaining > 0) {
            if (remaining < chunk.size()) {
                m_file.Write(chunk.first(static_cast<std::size_t>(remaining)));
                written += remaining;
                remaining = 0;
                if (bar != nullptr) {
                    bar->BarPosition(maximum);
                }
                break;
            }
            m_file.Write(chunk);
            remaining -= chunk.size();
            written += chunk.size();
            if (ShredCancelled) {
                break;
            }
            Pump();
            if (++chunks == 30) {
                chunks = 0;
                ShowEvery30(bar, number, written);
            }
        }
        // With a write-back cache an unsynced pass may never reach the disk: the next pass would
        // overwrite it in memory and a three-pass wipe would write one pass.
        m_file.Sync();
    }

    // Flushes and closes, then (unless cancelled) renames to a random name and deletes. Raises the
    // first error met, the passes' own error included.
    void Finish(std::exception_ptr error)
    {
        try {
            m_file.Sync();
        } catch (...) {
            if (!error) {
                error = std::current_exception();
            }
        }
        try {
            m_file.Close();
        } catch (...) {
            if (!error) {
                error = std::current_exception();
            }
        }
        if (!ShredCancelled) {
            // Both by name in the file's own open folder, so neither can reach outside it.
            std::string name = m_ref.name;
            const std::string newName = NameOfPath(WipeNewName(m_ref.name));
            try {
                // Never over another file: a collision keeps the old name, as the rename fails.
                m_ref.folder->Rename(m_ref.name, newName, TRenameMode::NoReplace);
                name = newName;
            } catch (const EFileError&) {
            }
            try {
                m_ref.folder->Remove(name);
            } catch (...) {
                // The data is overwritten, but the file is still there: the caller must not
                // count it as shredded.
                if (!error) {
                    error = std::current_exception();
                }
            }
        }
        if (error) {
            std::rethrow_exception(error);
        }
    }

    // Runs the repetitions given by body, then finishes the file whatever happened.
    template <class Body>
    void Run(Body&& body)
    {
        std::exception_ptr error;
        try {
            body();
        } catch (...) {
            error = std::current_exception();
        }
        Finish(error);
    }

private:
    void ShowEvery30(TWipeProgress* bar, int pass, std::uint64_t written)
    {
        if (bar == nullptr) {
            return;
        }
        // A window that fails to draw must not stop the wipe.
        try {
            if (m_target == TWipeTarget::ShredWindow) {
                bar->BarPosition(static_cast<std::int64_t>(written / 1024));
            } else {
                bar->BarPosition(pass);
                bar->CurrentFileLabel("Shredding: " + NameOfPath(m_path) + " (pass " + std::to_string(pass) + ")");
            }
        } catch (...) {
        }
    }

    TFileRef m_ref;
    std::string m_path;
    std::string m_labelPrefix;
    TWipeTarget m_target;
    TFile m_file;
};

using TChunkBuffer = std::vector<std::uint8_t>;

void FillWith(TChunkBuffer& buffer, std::uint8_t value)
{
    std::fill(buffer.begin(), buffer.end(), value);
}
} // namespace

std::uint32_t (*WipeSeedSource)() = &SeedFromClock;

static void WipeOnePassAt(const TFileRef& file, std::int32_t repeat);
static void WipeTwoPassAt(const TFileRef& file, std::int32_t repeat);
static void WipeMilitaryAt(const TFileRef& file, std::int32_t repeat);
static void WipeGutmannAt(const TFileRef& file);

void SetWipeProgress(TWipeTarget target, TWipeProgress* progress)
{
    (target == TWipeTarget::ShredWindow ? g_shredWindow : g_operationDialog) = progress;
}

void SetWipeMessagePump(std::function<void()> pump)
{
    g_pump = std::move(pump);
}

void WipeRandomize()
{
    WipeRandSeed = WipeSeedSource();
}

std::uint32_t WipeRandom(std::uint32_t n)
{
    WipeRandSeed = WipeRandSeed * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(WipeRandSeed) * n) >> 32);
}

std::string WipeNewName(const std::string& path)
{
    const std::uint64_t number = std::uint64_t{1000} + WipeRandom(8000) + std::uint64_t{TickCount()};
    return FolderOfPath(path) + std::to_string(number) + ExtensionOfPath(path);
}

bool IsDirectory(const std::string& path)
{
    const auto entry = FindEntry(path);
    return entry && entry->kind == TEntryKind::Directory;
}

bool FileInUse(const std::string& path)
{
    return FileInUse(path, nullptr);
}

bool FileInUse(const std::string& path, std::string* reason)
{
    std::optional<TFileRef> file;
    try {
        file = AnchorPath(path);
    } catch (const std::exception&) {
        return false;
    }
    return FileInUse(*file, reason);
}

bool FileInUse(const TFileRef& file, std::string* reason)
{
    if (!file.folder->Find(file.name)) {
        return false;
    }
#ifdef _WIN32
    // Share mode 0 fails on a read-only file as on one held open: the attributes go first.
    try {
        WriteFileAttributes(file, kAttrArchive);
    } catch (...) {
    }
#endif
    const auto why = WhyInUse(file);
    if (why && reason != nullptr) {
        *reason = *why;
    }
    return why.has_value();
}

void FillPattern(std::span<const std::uint8_t, 3> pattern, std::span<std::uint8_t> buffer)
{
    if (buffer.size() < kPatternChunk) {
        throw std::invalid_argument("FillPattern: buffer smaller than 3000 bytes");
    }
    for (std::size_t i = 0; i < kPatternChunk; i += 3) {
        std::copy(pattern.begin(), pattern.end(), buffer.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void WipeOnePass(const std::string& path, std::int32_t repeat)
{
    WipeOnePassAt(AnchorPath(path), repeat);
}

static void WipeOnePassAt(const TFileRef& file, std::int32_t repeat)
{
    TWipeRun run(file, "Wiping Method: Simple One Pass  (pass ", TWipeTarget::ShredWindow);
    run.Run([&] {
        TChunkBuffer fill(kWipeChunk);
        for (std::int32_t r = 0; r < repeat; ++r) {
            WipeRandomize();
            FillWith(fill, 0xFF);
            run.Pass(1, fill);
        }
    });
}

void WipeTwoPass(const std::string& path, std::int32_t repeat)
{
    WipeTwoPassAt(AnchorPath(path), repeat);
}

static void WipeTwoPassAt(const TFileRef& file, std::int32_t repeat)
{
    TWipeRun run(file, "Wiping Method: Simple Two Pass  (pass ", TWipeTarget::ShredWindow);
    run.Run([&] {
        TChunkBuffer fill(kWipeChunk);
        TChunkBuffer second(kWipeChunk);
        for (std::int32_t r = 0; r < repeat; ++r) {
            WipeRandomize();
            FillWith(fill, 0x00);
            FillWith(second, 0xFF);
            run.Pass(1, fill);
            fill = second;
            run.Pass(2, fill);
        }
    });
}

void WipeDoD(const std::string& path, std::int32_t repeat, TWipeTarget target)
{
    if (target == TWipeTarget::OperationDialog) {
        ShredCancelled = false;
    }
    WipeDoD(AnchorPath(path), repeat, target);
}

void WipeDoD(const TFileRef& file, std::int32_t repeat, TWipeTarget target)
{
    // The encryption run wipes its source here; a shred run cancelled earlier must not cut that short.
    if (target == TWipeTarget::OperationDialog) {
        ShredCancelled = false;
    }
    TWipeRun run(file, "Wiping Method DOD 5220-22M  (pass ", target);
    run.Run([&] {
        TChunkBuffer fill(kWipeChunk);
        TChunkBuffer complement(kWipeChunk);
        TChunkBuffer reserve(kWipeChunk);
        for (std::int32_t r = 0; r < repeat; ++r) {
            WipeRandomize();
            for (std::size_t i = 0; i < kWipeChunk; ++i) {
                fill[i] = RandomByte();
                complement[i] = static_cast<std::uint8_t>(255 - fill[i]);
                reserve[i] = RandomByte();
            }
            run.Pass(1, fill);
            fill = complement;
            run.Pass(2, fill);
            fill = reserve;
            run.Pass(3, fill);
        }
    });
}

void WipeMilitary(const std::string& path, std::int32_t repeat)
{
    WipeMilitaryAt(AnchorPath(path), repeat);
}

static void WipeMilitaryAt(const TFileRef& file, std::int32_t repeat)
{
    static constexpr std::array<std::uint8_t, 8> kPasses{0x00, 0xFF, 0x55, 0xAA, 0xFF, 0x55, 0xAA, 0x00};
    TWipeRun run(file, "Wiping Method: Millitary Standard  (pass ", TWipeTarget::ShredWindow);
    run.Run([&] {
        TChunkBuffer fill(kWipeChunk);
        for (std::int32_t r = 0; r < repeat; ++r) {
            WipeRandomize();
            for (std::size_t pass = 0; pass < kPasses.size(); ++pass) {
                FillWith(fill, kPasses[pass]);
                run.Pass(static_cast<int>(pass + 1), fill);
            }
        }
    });
}

void WipeGutmann(const std::string& path)
{
    WipeGutmannAt(AnchorPath(path));
}

static void WipeGutmannAt(const TFileRef& file)
{
    // 0x100 marks a random-byte pass, 0x200 + k the k-th 3-byte pattern; anything else is a byte.
    constexpr int kRandom = 0x100;
    constexpr int kPattern = 0x200;
    static constexpr std::array<int, 35> kPasses{
        kRandom,      kRandom,      kRandom,      kRandom,      0x55,         0xAA,         kPattern + 0,
        kPattern + 1, kPattern + 2, 0x00,         0x11,         0x22,         0x33,         0x44,
        0x55,         0x66,         0x77,         0x88,         0x99,         0xAA,         0xBB,
        0xCC,         0xDD,         0xEE,         0xFF,         kPattern + 0, kPattern + 1, kPattern + 2,
        kPattern + 3, kPattern + 4, kPattern + 5, kRandom,      kRandom,      kRandom,      kRandom};
    static constexpr std::array<std::array<std::uint8_t, 3>, 6> kPatterns{{{0x92, 0x49, 0x24},
                                                                           {0x49, 0x24, 0x92},
                                                                           {0x24, 0x92, 0x49},
                                                                           {0x6D, 0xB6, 0xDB},
                                                                           {0xB6, 0xDB, 0x6D},
                                                                           {0xDB, 0x6D, 0xB6}}};
    TWipeRun run(file, "Wiping Method: Guttman Method 35 passes(pass ", TWipeTarget::ShredWindow);
    run.Run([&] {
        TChunkBuffer fill(kWipeChunk);
        TChunkBuffer pattern(kPatternChunk);
        WipeRandomize();
        for (std::size_t pass = 0; pass < kPasses.size(); ++pass) {
            const int content = kPasses[pass];
            const int number = static_cast<int>(pass + 1);
            if (content >= kPattern) {
                FillPattern(kPatterns[static_cast<std::size_t>(content - kPattern)], pattern);
                run.Pass(number, pattern);
            } else {
                FillWith(fill, content == kRandom ? RandomByte() : static_cast<std::uint8_t>(content));
                run.Pass(number, fill);
            }
        }
    });
}

bool ShredFile(const std::string& path, std::string* failure)
{
    std::optional<TFileRef> file;
    try {
        file = AnchorPath(path);
    } catch (const std::exception& e) {
        if (failure != nullptr) {
            *failure = e.what();
        }
        return false;
    }
    return ShredFile(*file, failure);
}

bool ShredFile(const TFileRef& file, std::string* failure)
{
    const std::string path = file.Path();
    try {
        const auto entry = file.folder->Find(file.name);
        if (!entry) {
            throw EFileError("Cannot shred", path, ENOENT);
        }
        if (entry->identity != file.identity) {
            throw EFileError("Cannot shred", path, 0, "it was replaced since it was listed");
        }
        if (entry->kind == TEntryKind::SymbolicLink) {
            // Wiping through a link would destroy a file the user did not select.
            if ((entry->attributes & kAttrDirectory) != 0) {
                file.folder->RemoveFolder(file.name);
            } else {
                file.folder->Remove(file.name);
            }
            return true;
        }
        if (entry->kind == TEntryKind::Directory) {
            throw EFileError("Cannot shred", path, EISDIR, "it is a folder");
        }
        if (entry->kind == TEntryKind::Other) {
            throw EFileError("Cannot shred", path, EINVAL, "not a regular file (a FIFO, socket or device)");
        }
        // The file is about to be wiped: its hidden mark goes with it. On POSIX a read-only file
        // gets its write permission only where the wipe opens it, and gets it back if that open
        // is refused.
        try {
#ifdef _WIN32
            WriteFileAttributes(file, kAttrArchive);
#else
            WriteFileAttributes(file, kAttrArchive | (entry->attributes & kAttrReadOnly));
#endif
        } catch (...) {
        }
        switch (ShredMethod) {
        case 0:
            WipeOnePassAt(file, ShredRepeat);
            break;
        case 1:
            WipeTwoPassAt(file, ShredRepeat);
            break;
        case 2:
            WipeDoD(file, ShredRepeat, TWipeTarget::ShredWindow);
            break;
        case 3:
            WipeMilitaryAt(file, ShredRepeat);
            break;
        case 4:
            WipeGutmannAt(file);
            break;
        default:
            throw std::invalid_argument("No wiping method " + std::to_string(ShredMethod));
        }
        return true;
    } catch (const std::exception& e) {
        if (failure != nullptr) {
            *failure = e.what();
        }
        return false;
    }
}
