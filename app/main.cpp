// Program entry: the application, its six windows and the message loop.
#include "app/Forms.h"
#include "app/mainU.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vellumox");
    CreateForms();
    frmMain->show();
    const int result = QApplication::exec();
    DestroyForms();
    return result;
}
