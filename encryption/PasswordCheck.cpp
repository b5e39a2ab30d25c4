// Whether a password opens any of a run's encrypted files, told from their headers alone.
#include "encryption/PasswordCheck.h"

#include "encryption/Runs.h"
#include "platform/Files.h"

TPasswordReach CheckPasswordReach(const TPasswordKey& password, const TFileRun& run)
{
    TPasswordReach reach;
    for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
        try {
            // The file the run will open: the anchor it was listed with, else its path as given.
            const TFileRef file =
                i < run.WorkRefs.size() && run.WorkRefs[i].folder ? run.WorkRefs[i] : AnchorPath(run.WorkList[i]);
            const auto entry = file.folder->Find(file.name);
            if (!entry || entry->kind != TEntryKind::File || entry->identity != file.identity) {
                continue;
            }
            const THeaderInfo header = ReadHeader(file);
            if (header.Kind != THeaderKind::Encrypted) {
                continue;
            }
            ++reach.Encrypted;
            if (password.Match(header.Stored)) {
                reach.OpensAny = true;
                return reach;
            }
        } catch (const EFileError&) {
        }
    }
    return reach;
}
