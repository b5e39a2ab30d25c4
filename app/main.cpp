// Program entry: the application, its six windows and the message loop.
#include "app/Application.h"
#include "app/Forms.h"
#include "app/StartArguments.h"
#include "app/mainU.h"

#include <QEvent>
#include <QTimer>

#include <memory>

#include <cstdio>

#ifndef _WIN32
#include <ctime>
#include <sys/resource.h>

namespace
{
// For the start-up benchmark (bench/startup.sh): VX_BENCH_STARTUP holds the launch time in
// nanoseconds since the epoch; once the main window has painted, the time since launch is printed,
// the program idles for a second and reports its peak memory, then quits.
class TStartupProbe final : public QObject
{
public:
    explicit TStartupProbe(long long launchNs) : m_launchNs(launchNs) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            QTimer::singleShot(0, this, [this] {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                const long long nowNs = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
                std::printf("shown_ms %.1f\n", static_cast<double>(nowNs - m_launchNs) / 1e6);
                // The processor time is what the start-up costs on a machine that is busy elsewhere.
                rusage usage{};
                getrusage(RUSAGE_SELF, &usage);
                const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
                std::printf("cpu_ms %.1f\n", cpuMs);
                QTimer::singleShot(1000, this, [] {
                    rusage usage{};
                    getrusage(RUSAGE_SELF, &usage);
                    std::printf("peak_rss_kb %ld\n", usage.ru_maxrss);
                    std::fflush(stdout);
                    QApplication::quit();
                });
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    long long m_launchNs;
    bool m_painted = false;
};
} // namespace
#endif

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    QString argumentError;
    const auto request = ParseStartArguments(QApplication::arguments().mid(1), argumentError);
    if (!request) {
        std::fprintf(stderr, "vellumox: %s\n%s\n", qPrintable(argumentError), kStartUsage);
        return 2;
    }
    CreateForms();
#ifndef _WIN32
    std::unique_ptr<TStartupProbe> probe;
    if (const QByteArray launch = qgetenv("VX_BENCH_STARTUP"); !launch.isEmpty()) {
        probe = std::make_unique<TStartupProbe>(launch.toLongLong());
        frmMain->installEventFilter(probe.get());
    }
#endif
    if (!ShowMainWindow()) {
        DestroyForms();
        return 0;
    }
    // Once the loop runs, so that the window is on the screen behind the command's dialog.
    QTimer::singleShot(0, frmMain, [request] { CarryOutStartRequest(*request); });
    const int result = QApplication::exec();
    DestroyForms();
    return result;
}
