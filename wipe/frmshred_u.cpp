// The shred window, shown without being modal while a shred run goes on.
#include "wipe/frmshred_u.h"

#include "wipe/ShredRuns.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {
template <class T, class... Args> T* Named(QWidget* parent, const char* name, Args&&... args)
{
    T* widget = new T(std::forward<Args>(args)..., parent);
    widget->setObjectName(name);
    return widget;
}

int BarValue(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}
} // namespace

TfrmShred::TfrmShred(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmShred");
    setWindowTitle("    Shred Files");
    // A fixed frame with a title and no close box: the run closes the window.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);

    labFolder = Named<QLabel>(this, "labFolder", "Folder: ");
    labFolder->setWordWrap(true);
    // Two lines of text, whatever the font.
    labFolder->setMinimumHeight(2 * labFolder->fontMetrics().lineSpacing());
    labFolder->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labTitle = Named<QLabel>(this, "labTitle", "File: ");
    labProcessed = Named<QLabel>(this, "labProcessed", "");
    labProcessed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ProgressBar2 = Named<QProgressBar>(this, "ProgressBar2");
    ProgressBar1 = Named<QProgressBar>(this, "ProgressBar1");
    for (QProgressBar* bar : {ProgressBar2, ProgressBar1}) {
        bar->setTextVisible(false);
        bar->setRange(0, 1);
        bar->setValue(0);
    }
    labMetod = Named<QLabel>(this, "labMetod", "");
    btnCancel = Named<QPushButton>(this, "btnCancel", "&Cancel");

    labFolder->setAccessibleName("Folder");
    labTitle->setAccessibleName("File");
    labProcessed->setAccessibleName("Files processed");
    ProgressBar2->setAccessibleName("Progress over the selected items");
    ProgressBar1->setAccessibleName("Progress of the current pass");
    labMetod->setAccessibleName("Wiping method");
    btnCancel->setAccessibleName("Cancel");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(labFolder);
    layout->addWidget(labTitle);
    layout->addWidget(labProcessed);
    layout->addWidget(ProgressBar2);
    layout->addWidget(ProgressBar1);
    layout->addWidget(labMetod);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The design's width; the height follows the fonts.
    setMinimumWidth(277);
    labFolder->setFixedWidth(277 - layout->contentsMargins().left() - layout->contentsMargins().right());

    connect(btnCancel, &QPushButton::clicked, this, &TfrmShred::btnCancelClick);
    SetWipeProgress(TWipeTarget::ShredWindow, this);
}

TfrmShred::~TfrmShred()
{
    SetWipeProgress(TWipeTarget::ShredWindow, nullptr);
}

void TfrmShred::btnCancelClick()
{
    ShredCancelled = true;
}

void TfrmShred::MethodLabel(const std::string& text)
{
    labMetod->setText(QString::fromStdString(text));
}

void TfrmShred::BarStart(std::int64_t maximum)
{
    // A maximum of 0 would turn the bar into a busy indicator for files under half a kilobyte.
    ProgressBar1->setRange(0, std::max(BarValue(maximum), 1));
    ProgressBar1->setValue(0);
}

void TfrmShred::BarPosition(std::int64_t position)
{
    ProgressBar1->setValue(std::min(BarValue(position), ProgressBar1->maximum()));
}

void TfrmShred::reject()
{
    if (ShredRunning()) {
        btnCancelClick();
        return;
    }
    QDialog::reject();
}
