// The window tests' entry: offscreen platform, settings in a temporary folder, one QApplication.
#include "tests/gui/GuiTestSupport.h"

#include "app/Application.h"
#include "app/Forms.h"
#include "app/messageU.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

namespace
{
QTemporaryDir* g_configRoot = nullptr;
int g_caseNumber = 0;
} // namespace

void TGuiTest::SetUp()
{
    // A settings folder of its own for every case, so no case sees another's stored values.
    const QString folder = g_configRoot->path() + QString("/case%1").arg(++g_caseNumber);
    QDir().mkpath(folder);
    qputenv("XDG_CONFIG_HOME", folder.toLocal8Bit());
    TfrmMessage::ClearPendingAnswers();
    TfrmMessage::Answered().clear();
    CreateForms();
}

void TGuiTest::TearDown()
{
    EXPECT_FALSE(TfrmMessage::HasPendingAnswer()) << "a message-box answer was set and never used";
    TfrmMessage::ClearPendingAnswers();
    DestroyForms();
}

// Read by LeakSanitizer in the sanitizer build, ignored otherwise. Qt's event delivery is not
// exception-safe: the test of the top-level error report sends an exception through it, and the
// event points and two small strings Qt had allocated for that event are never freed. Qt is built
// without frame pointers, so those strings show no caller but Qt's own allocator.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QMutableEventPoint::detach\n"
           "leak:QEventPoint::QEventPoint\n"
           "leak:QGuiApplicationPrivate::processMouseEvent\n"
           "leak:QArrayData::allocate\n";
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir configRoot;
    g_configRoot = &configRoot;
    qputenv("XDG_CONFIG_HOME", configRoot.path().toLocal8Bit());
    // The program's own application object, so that the tests see its top-level error report.
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
