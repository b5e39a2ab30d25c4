// The algorithm list: index, caption and cipher class of each of the thirteen algorithms.
#include "encryption/Algorithms.h"

#include "crypto/VXblowfish.h"
#include "crypto/VXcast256.h"
#include "crypto/VXdes.h"
#include "crypto/VXice.h"
#include "crypto/VXmars.h"
#include "crypto/VXmisty1.h"
#include "crypto/VXrc2.h"
#include "crypto/VXrc4.h"
#include "crypto/VXrc6.h"
#include "crypto/VXrijndael.h"
#include "crypto/VXserpent.h"
#include "crypto/VXtea.h"
#include "crypto/VXtwofish.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

namespace
{
template <class TCipher>
std::unique_ptr<TVX_cipher> Make()
{
    return std::make_unique<TCipher>();
}

template <class TCipher>
constexpr TAlgorithmInfo Row(int index, std::string_view caption, std::string_view names)
{
    return {index, caption, TCipher::kAlgorithm, names, &Make<TCipher>, &TCipher::CheckVectors};
}

const TAlgorithmInfo kTable[kAlgorithmCount] = {
    Row<TVX_blowfish>(0, "Blowfish (448)", "blowfish"),
    Row<TVX_twofish>(1, "Twofish (256)", "twofish"),
    Row<TVX_cast256>(2, "Cast (256)", "cast,cast256,cast-256"),
    Row<TVX_ice>(3, "Ice (64)", "ice"),
    Row<TVX_mars>(4, "Mars (1248)", "mars"),
    Row<TVX_misty1>(5, "Misty 1 (128)", "misty1,misty,misty-1"),
    Row<TVX_rc2>(6, "RC2 (1024)", "rc2"),
    Row<TVX_rc4>(7, "RC4 (2048)", "rc4"),
    Row<TVX_rc6>(8, "RC6 (2048)", "rc6"),
    Row<TVX_rijndael>(9, "Rijn Dael (AES 256)", "aes,aes256,aes-256,rijndael"),
    Row<TVX_tea>(10, "Tea (128)", "tea"),
    Row<TVX_serpent>(11, "Serpent (256)", "serpent"),
    Row<TVX_3des>(12, "Triple Des (192)", "3des,des,triple-des,tripledes,des3"),
};

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
} // namespace

std::span<const TAlgorithmInfo> AlgorithmTable()
{
    return kTable;
}

const TAlgorithmInfo& AlgorithmAt(int index)
{
    if (index < 0 || index >= kAlgorithmCount) {
        throw std::out_of_range("algorithm index " + std::to_string(index) + " is not 0 to 12");
    }
    return kTable[index];
}

int FindAlgorithm(std::string_view indexOrName)
{
    if (!indexOrName.empty() && indexOrName.size() <= 2 &&
        std::all_of(indexOrName.begin(), indexOrName.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int index = std::stoi(std::string(indexOrName));
        return index < kAlgorithmCount ? index : -1;
    }
    for (const TAlgorithmInfo& info : kTable) {
        if (EqualNoCase(info.Caption, indexOrName) || EqualNoCase(info.Algorithm, indexOrName)) {
            return info.Index;
        }
        for (std::string_view rest = info.Names; !rest.empty();) {
            const std::size_t comma = rest.find(',');
            if (EqualNoCase(rest.substr(0, comma), indexOrName)) {
                return info.Index;
            }
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    return -1;
}

TVX_cipher& TCipherSet::Cipher(int index)
{
    const TAlgorithmInfo& info = AlgorithmAt(index);
    auto& slot = m_ciphers[static_cast<std::size_t>(index)];
    if (!slot) {
        if (info.Create == nullptr) {
            throw EVX_cipher("algorithm not available");
        }
        slot = info.Create();
        slot->OnProgress = m_onProgress;
    }
    return *slot;
}

void TCipherSet::SetOnProgress(const TOnProgessEvent& handler)
{
    m_onProgress = handler;
    for (auto& cipher : m_ciphers) {
        if (cipher) {
            cipher->OnProgress = handler;
        }
    }
}
