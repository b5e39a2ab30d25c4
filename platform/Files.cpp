// Path names: the folder, name and extension parts, the same rules on every system.
#include "platform/Files.h"
#include "platform/FilesInternal.h"

using namespace vx_files_detail;

std::string FolderOfPath(const std::string& path)
{
    const std::size_t at = LastSeparator(path);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string NameOfPath(const std::string& path)
{
    const std::size_t at = LastSeparator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string ExtensionOfPath(const std::string& path)
{
    const std::string name = NameOfPath(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

namespace
{
class TListingVisitor final : public TTreeVisitor
{
public:
    explicit TListingVisitor(TTreeListing& out) : m_out(out) {}
    void File(const TFileRef& file) override
    {
        m_out.files.push_back(file.Path());
        m_out.fileRefs.push_back(file);
    }
    void Other(const std::string& path) override { m_out.others.push_back(path); }
    void Unreadable(const std::string& path) override { m_out.unreadable.push_back(path); }
    void FolderDone(const std::shared_ptr<const TFolder>& parent, const std::string& name,
                    const TFileIdentity&) override
    {
        m_out.folders.push_back(parent->PathOf(name));
    }

private:
    TTreeListing& m_out;
};
} // namespace

TTreeListing ListTree(const std::string& folder)
{
    TTreeListing out;
    TListingVisitor visitor(out);
    WalkTree(folder, visitor);
    return out;
}
