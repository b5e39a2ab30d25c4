// The application object: its notify() is the last net for an error that no command caught.
#pragma once

#include <QApplication>
#include <QString>

class TApplication final : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // An exception that escapes an event handler is shown in the error box; the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The application's error report: the text in a critical box titled "Vellumox", modal, and the
// program goes on. The one message box that does not go through ShowMsg.
void ShowErrorReport(const QString& text);
