// Which files carry the encrypted header, read off the window's thread and remembered per file state.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "encryption/FileFormat.h"

// What the window knows of a file's header, without waiting for the disk.
enum class TMarkState
{
    Unknown,
    Encrypted,
    Plain,
};

// A cache of IsEncryptedFile keyed on the file's size, modification and change times, so an entry
// can never outlive the contents it describes: any write changes at least the change time. Reading
// happens on a worker thread; Known() is emitted on the window's thread once a result is in.
class TMarkerCache final : public QObject
{
    Q_OBJECT
public:
    explicit TMarkerCache(QObject* parent = nullptr);
    ~TMarkerCache() override;

    // The known state of path, or Unknown while its header is being read (the read is queued).
    TMarkState Query(const QString& path);
    // Forgets every result (the tests and the benchmark start cold with it).
    void Clear();
    // Requests not yet answered.
    int Pending() const;

signals:
    void Known(const QString& path);

private:
    struct TShared;
    struct TKey
    {
        std::int64_t size = -1;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        std::uint64_t inode = 0;
        bool operator==(const TKey&) const = default;
    };
    struct TEntry
    {
        TKey key;
        TMarkState state = TMarkState::Unknown;
    };
    void Deliver(const QString& path, TKey key, bool encrypted);
    static bool StatKey(const QString& path, TKey& key, bool& regular);

    std::shared_ptr<TShared> m_shared;
    QHash<QString, TEntry> m_entries;
};
