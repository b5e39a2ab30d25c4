// The operation dialog's speed beside vellumox-cli's on the same large file, and how often the window
// gets to repaint while it works.
//   dialog_speed [SIZE_MIB=1024] [FOLDER=/tmp] [ROUNDS=2] [ALGORITHMS=9,0]
// Each round encrypts the file with Rijndael and with Blowfish (action Leave) once through the
// dialog, offscreen, and once through the command-line tool, alternating which goes first. During
// the dialog's runs a 10 ms timer counts the event-loop turns that get through, and the dialog's
// paint events are counted.
#include "app/Forms.h"
#include "app/mainU.h"
#include "encryption/passwordU.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace
{
// Processor seconds (user and system) of this process or of its finished children: on a machine
// shared with other work the wall time says little, the time spent working says how much work.
double CpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class TPaintCounter final : public QObject
{
public:
    int paints = 0;
    qint64 maxGapMs = 0;
    QElapsedTimer* clock = nullptr;
    qint64 last = -1;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && clock != nullptr) {
            ++paints;
            const qint64 now = clock->elapsed();
            if (last >= 0) {
                maxGapMs = std::max(maxGapMs, now - last);
            }
            last = now;
        }
        return QObject::eventFilter(watched, event);
    }
};

struct TDialogRun
{
    double seconds = 0;
    double cpu = 0;
    int ticks = 0;
    qint64 maxTickGapMs = 0;
    int paints = 0;
    qint64 maxPaintGapMs = 0;
};

std::string Caption(int algorithm)
{
    return algorithm == 9 ? "Rijndael" : "Blowfish";
}

TDialogRun ThroughDialog(const std::string& file, int algorithm)
{
    frmMain->cmbAlgorithm->setCurrentIndex(algorithm);
    frmMain->rdSource->SetItemIndex(0);
    frmPass->DecryptMode = false;
    frmPass->WorkList = {file};
    frmPass->show();
    QApplication::processEvents();
    frmPass->edPass1->setText("benchmark password");
    frmPass->edPass2->setText("benchmark password");

    QElapsedTimer clock;
    TPaintCounter counter;
    counter.clock = &clock;
    frmPass->pgCurrent->installEventFilter(&counter);
    TDialogRun run;
    qint64 lastTick = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        run.maxTickGapMs = std::max(run.maxTickGapMs, now - lastTick);
        lastTick = now;
        ++run.ticks;
    });
    ticker.start(10);
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    clock.start();
    frmPass->btnEncrypt->click();
    run.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    ticker.stop();
    frmPass->pgCurrent->removeEventFilter(&counter);
    run.paints = counter.paints;
    run.maxPaintGapMs = counter.maxGapMs;
    frmPass->btnOk->click();
    QApplication::processEvents();
    return run;
}

struct TCliRun
{
    double seconds = 0;
    double cpu = 0;
};

TCliRun ThroughCli(const QString& cli, const std::string& file, const std::string& passwordFile, int algorithm)
{
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    const int code = QProcess::execute(cli, {"encrypt", "-a", QString::number(algorithm), "--password-file",
                                             QString::fromStdString(passwordFile), QString::fromStdString(file)});
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (code != 0) {
        std::fprintf(stderr, "vellumox-cli failed (%d)\n", code);
        std::exit(1);
    }
    return {seconds, CpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const long sizeMib = argc > 1 ? std::stol(argv[1]) : 1024;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 2;
    std::vector<int> algorithms;
    for (const QString& index : QString(argc > 4 ? argv[4] : "9,0").split(',')) {
        algorithms.push_back(index.toInt());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vellumox");

    QTemporaryDir work(QString::fromStdString(folder) + "/vx-dialog-bench-XXXXXX");
    const std::string file = work.filePath("data").toStdString();
    const std::string passwordFile = work.filePath("pw").toStdString();
    std::ofstream(passwordFile) << "benchmark password\n";
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937_64 rng(1);
        std::vector<std::uint64_t> block(1 << 17);
        for (long written = 0; written < sizeMib; ++written) {
            for (auto& word : block) {
                word = rng();
            }
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    CreateForms();
    frmMain->show();

    std::map<int, std::vector<double>> dialogSeconds, cliSeconds, dialogCpu, cliCpu;
    std::map<int, std::vector<TDialogRun>> dialogRuns;
    for (int round = 0; round < rounds; ++round) {
        for (const int algorithm : algorithms) {
            for (int step = 0; step < 2; ++step) {
                const bool dialogNow = (step == 0) == (round % 2 == 0);
                ::sync();
                if (dialogNow) {
                    const TDialogRun run = ThroughDialog(file, algorithm);
                    dialogSeconds[algorithm].push_back(run.seconds);
                    dialogCpu[algorithm].push_back(run.cpu);
                    dialogRuns[algorithm].push_back(run);
                } else {
                    const TCliRun run = ThroughCli(VX_CLI_PATH, file, passwordFile, algorithm);
                    cliSeconds[algorithm].push_back(run.seconds);
                    cliCpu[algorithm].push_back(run.cpu);
                }
                ::unlink((file + ".enc").c_str());
            }
        }
    }
    DestroyForms();

    const double mib = static_cast<double>(sizeMib);
    std::printf("%ld MiB, %d rounds, median of each\n", sizeMib, rounds);
    for (const int algorithm : algorithms) {
        const double dialog = Median(dialogSeconds[algorithm]);
        const double cli = Median(cliSeconds[algorithm]);
        const double dialogWork = Median(dialogCpu[algorithm]);
        const double cliWork = Median(cliCpu[algorithm]);
        std::printf("%-9s wall: dialog %6.2f s %7.1f MiB/s | cli %6.2f s %7.1f MiB/s | dialog/cli speed %.3f\n",
                    Caption(algorithm).c_str(), dialog, mib / dialog, cli, mib / cli, cli / dialog);
        std::printf("          cpu:  dialog %6.2f s %7.1f MiB/s | cli %6.2f s %7.1f MiB/s | dialog/cli speed %.3f "
                    "(target >= 0.95)\n",
                    dialogWork, mib / dialogWork, cliWork, mib / cliWork, cliWork / dialogWork);
        for (const TDialogRun& run : dialogRuns[algorithm]) {
            std::printf("          run %.2f s: %5.1f loop turns/s (longest gap %lld ms), %5.1f bar paints/s "
                        "(longest gap %lld ms)\n",
                        run.seconds, run.ticks / run.seconds, static_cast<long long>(run.maxTickGapMs),
                        run.paints / run.seconds, static_cast<long long>(run.maxPaintGapMs));
        }
    }
    return 0;
}
