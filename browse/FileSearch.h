// The file search JVS: every file below a folder, for the commands that take whole folders.
#pragma once

#include <QObject>

#include <string>
#include <vector>

class TFileSearch final : public QObject
{
    Q_OBJECT
public:
    explicit TFileSearch(QObject* parent = nullptr);

    // Every file below root at any depth, hidden ones included, as full paths in the order the
    // walk meets them; unreadable folders are passed over.
    std::vector<std::string> Search(const std::string& root) const;
};
