#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object goes.
class TTempDir
{
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of name inside the folder (not created).
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteWholeFile(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
bool PathExists(const std::string& path); // the entry itself, a dangling link counts
// Bytes that a test can recognise: byte i is (i * 31 + seed) & 0xFF.
std::vector<std::uint8_t> MarkedBytes(std::size_t size, std::uint8_t seed = 7);
