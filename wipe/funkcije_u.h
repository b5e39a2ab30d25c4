// The wiping methods, their progress and random numbers, and the directory and in-use tests.
#pragma once

#include "platform/FileRef.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

// The wiping methods: each overwrites a file in place with its passes, flushing every pass to the
// disk, then renames it to a random name in its folder and deletes it.

// The method that ShredFile runs: 0 one pass, 1 two passes, 2 DoD 5220-22M, 3 military standard,
// 4 Gutmann.
extern std::int32_t ShredMethod;
// How often a method runs its pass sequence; 0 or less writes nothing. Gutmann ignores it.
extern std::int32_t ShredRepeat;
// Set by a Cancel button or Ctrl-C (it is safe to set from a signal handler): the file being wiped
// is left where it is, partly overwritten, after the current chunk.
extern std::atomic<bool> ShredCancelled;

constexpr std::size_t kWipeChunk = 16384;
constexpr std::size_t kPatternChunk = 3000;

// Where a method shows its progress. WipeDoD can report to the operation dialog (the encryption
// run wiping its source); everything else reports to the shred window.
enum class TWipeTarget
{
    ShredWindow,
    OperationDialog,
};

// What a window (or the command-line tool) implements to show a wipe. Every call may be ignored.
class TWipeProgress
{
public:
    virtual ~TWipeProgress() = default;
    // The method and the pass, e.g. "Wiping Method DOD 5220-22M  (pass 2)". Always sent to the shred
    // window's sink, whatever the target.
    virtual void MethodLabel(const std::string& text) { (void)text; }
    // A pass begins: the bar goes to 0 of maximum.
    virtual void BarStart(std::int64_t maximum) { (void)maximum; }
    virtual void BarPosition(std::int64_t position) { (void)position; }
    // The operation dialog's current-file line ("Shredding: name (pass N)").
    virtual void CurrentFileLabel(const std::string& text) { (void)text; }
};

// The sinks the windows install; nullptr shows nothing. Not owned.
void SetWipeProgress(TWipeTarget target, TWipeProgress* progress);
// Called after every whole chunk and before every pass, so that windows stay alive and a Cancel
// button can be pressed; throttling is the caller's business. Empty: nothing is called.
void SetWipeMessagePump(std::function<void()> pump);

// The linear congruential generator that all wiping randomness comes from, one per thread, so that
// files wiped at once on several threads each draw their own sequence.
extern thread_local std::uint32_t WipeRandSeed;
// Reseeds from the performance counter (the tick count where there is none).
void WipeRandomize();
// A value from 0 to n - 1.
std::uint32_t WipeRandom(std::uint32_t n);
// Where WipeRandomize takes its seed from; tests pin it.
extern std::uint32_t (*WipeSeedSource)();

// True when path names an existing folder; a link to a folder is not one, and neither is a path
// that ends in a separator. Raises nothing.
bool IsDirectory(const std::string& path);
// True when the file exists and cannot be worked on: on Win32 when it cannot be opened exclusively
// for reading and writing, after its attributes were reset to archive only; on POSIX when it
// cannot be read or another program holds a lock on it, and the test changes nothing. The reason
// goes to *reason when given.
bool FileInUse(const std::string& path);
bool FileInUse(const std::string& path, std::string* reason);
bool FileInUse(const TFileRef& file, std::string* reason = nullptr);
// Writes the 3-byte pattern 1,000 times into bytes 0 to 2,999 of buffer (at least 3,000 bytes).
void FillPattern(std::span<const std::uint8_t, 3> pattern, std::span<std::uint8_t> buffer);

// Runs the method of ShredMethod on one file after clearing its attributes. False when it failed;
// the reason then goes to *failure when given. A symbolic link is removed itself, never wiped
// through; folders, FIFOs, sockets and devices are refused. True also when ShredCancelled stopped
// the wipe and kept the file.
bool ShredFile(const std::string& path, std::string* failure = nullptr);
// The same on a file admitted by a folder walk: opened, renamed and deleted by name in its open
// folder, and refused when the name no longer holds the admitted file.
bool ShredFile(const TFileRef& file, std::string* failure = nullptr);

// The methods raise on error (EFileError): a file that cannot be opened is left untouched; after
// an error during the passes the file is still flushed, renamed and deleted, then the error is
// raised.
void WipeOnePass(const std::string& path, std::int32_t repeat);
void WipeTwoPass(const std::string& path, std::int32_t repeat);
void WipeDoD(const std::string& path, std::int32_t repeat, TWipeTarget target);
void WipeDoD(const TFileRef& file, std::int32_t repeat, TWipeTarget target);
void WipeMilitary(const std::string& path, std::int32_t repeat);
void WipeGutmann(const std::string& path);

// The name a wiped file takes before it is deleted: its folder, a random number plus the tick
// count, and its extension.
std::string WipeNewName(const std::string& path);
