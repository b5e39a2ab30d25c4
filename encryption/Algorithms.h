// The algorithm list: index, caption and cipher class of each of the thirteen algorithms.
#pragma once

#include "crypto/VXcrypt.h"

#include <array>
#include <memory>
#include <span>
#include <string_view>

// The algorithm list. Its order is part of the file format: the index is stored in every
// encrypted file, so a file written with index 07 is an RC4 file for every version that reads it.
struct TAlgorithmInfo
{
    int Index;
    std::string_view Caption;   // as the algorithm list shows it
    std::string_view Algorithm; // the cipher class's Algorithm name
    std::string_view Names;     // the short names people type, comma-separated, the usual one first
    std::unique_ptr<TVX_cipher> (*Create)(); // nullptr while the class is not built in
    bool (*CheckVectors)();
};

inline constexpr int kAlgorithmCount = 13;

std::span<const TAlgorithmInfo> AlgorithmTable();
// Throws std::out_of_range for an index outside 0 to 12.
const TAlgorithmInfo& AlgorithmAt(int index);
// An index ("7", "07"), a caption, an Algorithm name or one of the Names, case-insensitively; -1 when
// none matches.
int FindAlgorithm(std::string_view indexOrName);

// One keyable object per algorithm, created on first use, as the operation dialog owns them.
class TCipherSet
{
public:
    TCipherSet() = default;
    TCipherSet(const TCipherSet&) = delete;
    TCipherSet& operator=(const TCipherSet&) = delete;

    // Throws EVX_cipher("algorithm not available") for an index without a class.
    TVX_cipher& Cipher(int index);
    // Installed on every cipher, present and future.
    void SetOnProgress(const TOnProgessEvent& handler);

private:
    std::array<std::unique_ptr<TVX_cipher>, kAlgorithmCount> m_ciphers;
    TOnProgessEvent m_onProgress;
};
