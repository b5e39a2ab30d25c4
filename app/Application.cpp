// The top-level error report.
#include "app/Application.h"

#include <QMessageBox>

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName("Vellumox");
    setDesktopFileName("vellumox");
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorReport(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowErrorReport("An unknown error occurred.");
    }
    return false;
}

void ShowErrorReport(const QString& text)
{
    // An error raised while the box itself is handling events is not shown on top of it.
    static bool showing = false;
    if (showing) {
        qWarning("%s", qUtf8Printable(text));
        return;
    }
    struct TShowing
    {
        TShowing() { showing = true; }
        ~TShowing() { showing = false; }
    } guard;
    QMessageBox box(QMessageBox::Critical, "Vellumox", text, QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName("ErrorReport");
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
