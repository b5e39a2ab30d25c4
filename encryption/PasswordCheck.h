// Whether a password opens any of a run's encrypted files, told from their headers alone.
#pragma once

#include "encryption/FileFormat.h"

#include <cstddef>

class TFileRun;

struct TPasswordReach
{
    // Encrypted files whose headers were read; counting stops at the first one the password opens.
    std::size_t Encrypted = 0;
    bool OpensAny = false;

    // A run with this password would skip every encrypted file it meets as a wrong password.
    bool OpensNone() const { return !OpensAny && Encrypted > 0; }
};

// Reads only the headers of the run's work list, with the match the decryption itself applies, and
// touches nothing. Links, folders, special files and files that cannot be read are passed over: the
// run reports them on its own.
TPasswordReach CheckPasswordReach(const TPasswordKey& password, const TFileRun& run);
