#include "tests/support/DecryptCheck.h"

#include "encryption/FileFormat.h"
#include "platform/FileStream.h"
#include "tests/support/TempDir.h"

std::optional<std::vector<std::uint8_t>> DecryptsTo(const std::string& path, const std::string& password)
{
    TTempDir scratch;
    const std::string copy = scratch / "probe";
    try {
        WriteAll(copy, ReadAll(path));
        TCipherSet ciphers;
        const TDecryptOutcome outcome = DecryptSingleFile(copy, TPasswordKey(password), ciphers);
        if (outcome.Result != TDecryptResult::Decrypted) {
            return std::nullopt;
        }
        return ReadAll(outcome.OutputPath);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
