// Buffered file reading and writing for the ciphers, the file error and the folder flush.
#pragma once

#include "crypto/VXcrypt.h"
#include "crypto/VXsecmem.h"
#include "platform/FileRef.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Paths are UTF-8 strings on every platform; the Win32 backend converts them to UTF-16.

// A failed file operation: the message names the path and the system's reason.
class EFileError : public std::runtime_error
{
public:
    EFileError(const std::string& what, const std::string& path, int systemError);
    // A refusal of our own (a lock held elsewhere, a file of the wrong kind): reason stands in for
    // the system's text.
    EFileError(const std::string& what, const std::string& path, int systemError, const std::string& reason);
    const std::string& Path() const { return m_path; }
    int SystemError() const { return m_systemError; }

private:
    std::string m_path;
    int m_systemError;
};

// The text of a system error number (errno on POSIX, GetLastError on Win32).
std::string SystemErrorText(int systemError);


// Reads a file through a large buffer, so the cipher's 8192-byte pieces cost no system call each.
class TFileReader final : public TVX_readstream
{
public:
    explicit TFileReader(const std::string& path);
    // The admitted file, never through a link; refused when its name holds another file by now.
    explicit TFileReader(const TFileRef& file);
    ~TFileReader() override;
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    // Fills as much of buffer as the file still holds; 0 only at the end.
    std::size_t Read(std::span<std::uint8_t> buffer) override;
    // Lends the next bytes straight from the read buffer (at most its size at a time).
    bool CanLend() const override { return true; }
    std::span<const std::uint8_t> Lend(std::size_t size) override;
    void Seek(std::uint64_t position);
    std::uint64_t Size() const;
    const std::string& Path() const { return m_path; }
    TNativeHandle Handle() const { return m_handle; }
    // POSIX permission bits of the open file, for giving an output the source's protection.
    unsigned Permissions() const;
    void Close();

private:
    std::size_t ReadSystem(std::uint8_t* data, std::size_t size);

    std::string m_path;
    TNativeHandle m_handle;
    // Plaintext passes through it on one side of every run: wiped when the stream goes.
    TSecureBuffer m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

enum class TCreateMode
{
    CreateOrTruncate,
    CreateNew, // fails when the path exists
};

// Writes a file through a large buffer. Every write and the close are checked: a short write or a
// full disk raises EFileError. Sync() makes the written bytes durable.
class TFileWriter final : public TVX_writestream
{
public:
    // permissions: the POSIX mode bits of a newly created file (ignored on Win32).
    TFileWriter(const std::string& path, TCreateMode mode, unsigned permissions = 0666);
    // A file created by name inside an open folder, never through a link.
    TFileWriter(const TFolder& folder, const std::string& name, TCreateMode mode, unsigned permissions = 0666);
    // Closes without checking; call Close() to learn whether everything reached the file.
    ~TFileWriter() override;
    TFileWriter(const TFileWriter&) = delete;
    TFileWriter& operator=(const TFileWriter&) = delete;

    void Write(std::span<const std::uint8_t> data) override;
    // Room in the write buffer, so that a cipher can write into it directly.
    std::span<std::uint8_t> Reserve(std::size_t size) override;
    void Commit(std::size_t size) override;
    void Flush();
    // Flushes the buffer and the system's cache to the disk.
    void Sync();
    void Close();
    const std::string& Path() const { return m_path; }
    // Gives the file exactly these POSIX permission bits, whatever the umask (ignored on Win32).
    void SetPermissions(unsigned permissions);
    TFileIdentity Identity() const;

private:
    void WriteSystem(const std::uint8_t* data, std::size_t size);

    std::string m_path;
    TNativeHandle m_handle;
    // Plaintext passes through it on one side of every run: wiped when the stream goes.
    TSecureBuffer m_buffer;
    std::size_t m_used = 0;
};

// Makes a rename or creation inside `folder` durable (the folder's own entry list). A no-op where
// the platform has no such call.
void SyncFolder(const std::string& folder);

// Removes a file, ignoring every error: for cleaning up a partial output on an error path.
void RemoveQuietly(const std::string& path) noexcept;

// True when both paths name one existing file (same device and inode, or the Win32 equivalent),
// for example through a hard or symbolic link.
bool IsSameFile(const std::string& a, const std::string& b);

#ifdef _WIN32
std::wstring WidePath(const std::string& utf8);
#endif
