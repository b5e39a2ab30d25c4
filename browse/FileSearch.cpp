// The file search over the engine's folder expansion.
#include "browse/FileSearch.h"

#include "encryption/Runs.h"

TFileSearch::TFileSearch(QObject* parent) : QObject(parent)
{
    setObjectName("JVS");
}

std::vector<std::string> TFileSearch::Search(const std::string& root) const
{
    return ExpandFolder(root);
}
