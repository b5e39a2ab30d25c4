// The header test and its cache with a reading thread.
#include "browse/EncryptedMark.h"

#include "encryption/FileFormat.h"
#include "wipe/funkcije_u.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sys/stat.h>

// Shared with the worker, which may outlive the cache while it is stuck on a hung volume: the
// cache detaches itself instead of waiting for it.
struct TMarkerCache::TShared
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<QString, TKey>> queue;
    TMarkerCache* owner = nullptr;
    bool stop = false;
    int inFlight = 0;
};

namespace {
// Newest requests first: they are the rows on screen now. Older ones beyond this are dropped and
// asked again when their rows are painted again.
constexpr std::size_t kMaxQueued = 4096;
} // namespace

TMarkerCache::TMarkerCache(QObject* parent) : QObject(parent), m_shared(std::make_shared<TShared>())
{
    m_shared->owner = this;
    std::thread([shared = m_shared] {
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return shared->stop || !shared->queue.empty(); });
            if (shared->stop) {
                return;
            }
            auto [path, key] = std::move(shared->queue.front());
            shared->queue.pop_front();
            ++shared->inFlight;
            lock.unlock();
            const bool encrypted = IsEncryptedFile(path.toStdString());
            lock.lock();
            --shared->inFlight;
            if (shared->owner != nullptr) {
                TMarkerCache* owner = shared->owner;
                QMetaObject::invokeMethod(
                    owner, [owner, path, key, encrypted] { owner->Deliver(path, key, encrypted); },
                    Qt::QueuedConnection);
            }
        }
    }).detach();
}

TMarkerCache::~TMarkerCache()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->stop = true;
    m_shared->queue.clear();
    m_shared->wake.notify_all();
}

bool TMarkerCache::StatKey(const QString& path, TKey& key, bool& regular)
{
    struct stat st
    {
    };
    if (::stat(path.toStdString().c_str(), &st) != 0) {
        return false;
    }
    regular = S_ISREG(st.st_mode);
    key.size = st.st_size;
    key.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    key.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    key.inode = st.st_ino;
    return true;
}

TMarkState TMarkerCache::Query(const QString& path)
{
    TKey key;
    bool regular = false;
    if (!StatKey(path, key, regular) || !regular) {
        return TMarkState::Plain;
    }
    // Shorter than a header: nothing to read.
    if (key.size < 21) {
        return TMarkState::Plain;
    }
    const auto found = m_entries.constFind(path);
    if (found != m_entries.constEnd() && found->key == key) {
        return found->state;
    }
    m_entries.insert(path, TEntry{key, TMarkState::Unknown});
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.emplace_front(path, key);
    if (m_shared->queue.size() > kMaxQueued) {
        // Forgotten as well, so that the next paint of its row asks again.
        m_entries.remove(m_shared->queue.back().first);
        m_shared->queue.pop_back();
    }
    m_shared->wake.notify_one();
    return TMarkState::Unknown;
}

void TMarkerCache::Deliver(const QString& path, TKey key, bool encrypted)
{
    auto found = m_entries.find(path);
    // A result for an older state of the file is thrown away; the newer state was queued.
    if (found == m_entries.end() || !(found->key == key)) {
        return;
    }
    found->state = encrypted ? TMarkState::Encrypted : TMarkState::Plain;
    emit Known(path);
}

void TMarkerCache::Clear()
{
    m_entries.clear();
    std::lock_guard lock(m_shared->mutex);
    m_shared->queue.clear();
}

int TMarkerCache::Pending() const
{
    std::lock_guard lock(m_shared->mutex);
    return static_cast<int>(m_shared->queue.size()) + m_shared->inFlight;
}
