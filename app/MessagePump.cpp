// The throttled event pump that long runs call between chunks.
#include "app/MessagePump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace
{
constexpr qint64 kPumpIntervalMs = 15;

QElapsedTimer& LastPump()
{
    static QElapsedTimer timer;
    return timer;
}
} // namespace

void PumpNow()
{
    QCoreApplication::processEvents();
    LastPump().start();
}

void PumpThrottled()
{
    QElapsedTimer& last = LastPump();
    if (!last.isValid() || last.elapsed() >= kPumpIntervalMs) {
        PumpNow();
    }
}
