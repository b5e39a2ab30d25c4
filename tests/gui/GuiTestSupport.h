// What the window tests share: finding controls, waiting for a condition, and driving modal windows.
#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The named child of parent, or a test failure naming what is missing.
template <class T>
T* FindChecked(QObject* parent, const QString& name)
{
    T* found = parent->findChild<T*>(name);
    if (found == nullptr) {
        ADD_FAILURE() << "no control or action named " << name.toStdString() << " in "
                      << parent->objectName().toStdString();
    }
    return found;
}

// Processes events until pred holds or ms pass; the result of the last check.
inline bool WaitUntil(const std::function<bool()>& pred, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Acts on a modal window once it is open: call before the code that opens it, then WaitDone()
// after that code returns. A window that never opened fails the test instead of passing it.
class TModalDriver
{
public:
    // find: returns the window once it is shown (nullptr until then); act: what the user does.
    TModalDriver(std::function<QWidget*()> find, std::function<void(QWidget*)> act)
        : m_state(std::make_shared<TState>(TState{false, 0, std::move(find), std::move(act)}))
    {
        // The timer holds the state weakly: a driver that goes out of scope stops its polling, and
        // nothing keeps itself alive.
        QTimer::singleShot(0, [weak = std::weak_ptr<TState>(m_state)] { Poll(weak); });
    }

    // True when the window opened and was acted on.
    bool WaitDone(int ms = 5000) const
    {
        return WaitUntil([this] { return m_state->done; }, ms);
    }

private:
    struct TState
    {
        bool done = false;
        int tries = 0;
        std::function<QWidget*()> find;
        std::function<void(QWidget*)> act;
    };

    static void Poll(const std::weak_ptr<TState>& weak)
    {
        const std::shared_ptr<TState> state = weak.lock();
        if (!state) {
            return;
        }
        QWidget* window = state->find();
        if (window != nullptr && window->isVisible()) {
            state->act(window);
            state->done = true;
            return;
        }
        if (++state->tries > 500) {
            return;
        }
        QTimer::singleShot(10, [weak] { Poll(weak); });
    }

    std::shared_ptr<TState> m_state;
};

// The active modal window, if any.
inline QWidget* ActiveModal()
{
    return QApplication::activeModalWidget();
}

// The named controls of window (objectName set and not one of Qt's own "qt_" parts) that a screen
// reader would find without a name: buttons, boxes, lists, labels and pictures, tabs and groups.
// The window itself is included.
inline std::vector<QString> ControlsWithoutAccessibleName(QWidget* window)
{
    std::vector<QString> missing;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        const QString name = widget->objectName();
        if (name.isEmpty() || name.startsWith("qt_")) {
            continue;
        }
        const bool control = widget == window || qobject_cast<QAbstractButton*>(widget) ||
                             qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
                             qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QLabel*>(widget) ||
                             qobject_cast<QTabWidget*>(widget) || qobject_cast<QGroupBox*>(widget) ||
                             qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<QProgressBar*>(widget);
        if (!control) {
            continue;
        }
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible == nullptr || accessible->text(QAccessible::Name).trimmed().isEmpty()) {
            missing.push_back(name);
        }
    }
    return missing;
}

// Fresh windows and a fresh settings folder for each case; fails a case that set a message-box
// answer and never used it.
class TGuiTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};
