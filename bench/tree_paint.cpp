// How long the folder tree takes to paint one screenful while scrolling a large folder with the
// encrypted-file look on: a folder of 10,000 files, 2,000 of them encrypted, opened and scrolled
// from top to bottom, each viewport painted synchronously and timed.
//   tree_paint [--direct] [--shot FILE.png]
//     --direct  reads every painted file's header on the window's thread, without the cache and its
//               reading thread, for comparison;
//     --shot    saves a picture of the window at the top of the folder once every header is known.
#include "app/Forms.h"
#include "app/mainU.h"
#include "browse/EncryptedMark.h"
#include "browse/FolderTree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <time.h>
#include <vector>

namespace {
constexpr int kFiles = 10000;
constexpr int kEncryptedEvery = 5;

void MakeFolder(const QString& folder)
{
    std::string header = "##$04";
    header += std::string(16, '\x33');
    const std::string body(200, 'x');
    for (int i = 0; i < kFiles; ++i) {
        const bool encrypted = i % kEncryptedEvery == 0;
        char name[64];
        std::snprintf(name, sizeof name, "/file%05d.%s", i, i % 3 == 0 ? "txt" : i % 3 == 1 ? "dat" : "doc");
        std::ofstream out((folder + name).toStdString(), std::ios::binary);
        if (encrypted) {
            out << header;
        }
        out << body;
    }
}

// The window thread's own processor time: what painting costs, without the waits for a processor
// that other programs on a busy machine add to the wall-clock time.
double ThreadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct TFigures
{
    std::vector<double> ms;
    double Max() const { return *std::max_element(ms.begin(), ms.end()); }
    double Percentile(double p) const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1))];
    }
    void Print(const char* what) const
    {
        std::printf("%-34s %5zu viewports  median %6.2f ms  p99 %6.2f ms  max %6.2f ms  over 16 ms: %zu\n", what,
                    ms.size(), Percentile(0.5), Percentile(0.99), Max(),
                    static_cast<std::size_t>(std::count_if(ms.begin(), ms.end(), [](double v) { return v > 16.0; })));
    }
};

// Scrolls from top to bottom one page at a time, painting each page at once.
std::pair<TFigures, TFigures> ScrollThrough(TFolderTree* tree)
{
    TFigures figures;
    TFigures cpu;
    QScrollBar* bar = tree->verticalScrollBar();
    bar->setValue(0);
    QElapsedTimer timer;
    for (int value = 0;; value += bar->pageStep()) {
        bar->setValue(std::min(value, bar->maximum()));
        timer.start();
        const double start = ThreadMs();
        tree->viewport()->repaint();
        cpu.ms.push_back(ThreadMs() - start);
        figures.ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (value >= bar->maximum()) {
            break;
        }
    }
    return {figures, cpu};
}
} // namespace

int main(int argc, char* argv[])
{
    bool direct = false;
    QString shot;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--direct") {
            direct = true;
        } else if (std::string(argv[i]) == "--shot" && i + 1 < argc) {
            shot = QString::fromLocal8Bit(argv[++i]);
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QTemporaryDir folder;
    MakeFolder(folder.path());

    CreateForms();
    frmMain->resize(785, 560);
    frmMain->show();
    QApplication::processEvents();
    TFolderTree* tree = frmMain->TV;
    if (direct) {
        tree->PaintText = [tree](const QModelIndex& node, QFont& font, QColor& color) {
            if (IsEncryptedFile(tree->PathOf(node).toStdString())) {
                color = QColor(255, 0, 0);
                font.setBold(true);
            }
        };
    }

    QElapsedTimer timer;
    timer.start();
    double start = ThreadMs();
    const QModelIndex index = tree->Reveal(folder.path());
    const double listStart = ThreadMs();
    // Expanding lists, sorts and inserts the 10,000 entries.
    tree->expand(index);
    const double listed = ThreadMs() - listStart;
    tree->viewport()->repaint();
    std::printf("open the folder: %.1f ms (processor %.1f ms, of which listing, sorting, inserting %.1f ms)\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6, ThreadMs() - start, listed);

    const auto [cold, coldCpu] = ScrollThrough(tree);
    cold.Print(direct ? "scroll, headers read while painting" : "scroll, headers not yet known");
    coldCpu.Print("  the same, processor time");
    if (!direct) {
        timer.start();
        while (frmMain->Markers->Pending() > 0) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QApplication::processEvents();
        std::printf("every header known %.1f ms later\n", static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    const auto [warm, warmCpu] = ScrollThrough(tree);
    warm.Print(direct ? "scroll again, headers read again" : "scroll, headers known");
    warmCpu.Print("  the same, processor time");

    if (!shot.isEmpty()) {
        tree->scrollTo(index, QAbstractItemView::PositionAtTop);
        tree->selectionModel()->select(tree->model()->index(1, 0, index),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QApplication::processEvents();
        frmMain->grab().save(shot);
    }
    frmMain->hide();
    DestroyForms();
    return std::max(coldCpu.Max(), warmCpu.Max()) <= 16.0 ? 0 : 1;
}
