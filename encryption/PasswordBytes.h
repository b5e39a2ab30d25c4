// The byte forms of a typed password: the rule new files are keyed with, and every form to try.
#pragma once

#include "crypto/VXsecmem.h"

#include <string_view>
#include <vector>

// Turns a typed password (UTF-8 text) into the bytes that are hashed: Unicode NFC first, then
// Windows-1252 when every character has a byte there, else UTF-8. The rule is the same on every
// platform so that files move between them. Text that is not valid UTF-8 (a password file in a
// legacy encoding) is taken byte for byte.
TSecureBuffer PasswordBytes(std::string_view utf8);

// Every byte form the same typed text may have had when a file was encrypted elsewhere: the rule
// above first, then UTF-8 NFC, UTF-8 NFD, Windows-1252 and the text exactly as given, without
// repeats. Decryption tries each against the header before it decides the password is wrong.
std::vector<TSecureBuffer> PasswordCandidates(std::string_view utf8);
