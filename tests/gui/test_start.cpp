// The program's own arguments: what they ask for, and a file manager's "Encrypt with" reaching the
// operation dialog with the files it named.
#include "app/Forms.h"
#include "app/StartArguments.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "encryption/passwordU.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TempDir.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace
{
using TAction = TStartRequest::TAction;

std::optional<TStartRequest> Parse(const QStringList& arguments)
{
    QString error;
    auto request = ParseStartArguments(arguments, error);
    EXPECT_EQ(request.has_value(), error.isEmpty()) << error.toStdString();
    return request;
}
} // namespace

TEST(StartArguments, CommandsTakePathsAndWrongArgumentsAreRefused)
{
    TTempDir dir;
    WriteText(dir / "a", "a");
    WriteText(dir / "b c", "b");

    const auto none = Parse({});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->Action, TAction::None);

    const auto open = Parse({QString::fromStdString(dir.Path())});
    ASSERT_TRUE(open);
    EXPECT_EQ(open->Action, TAction::Open);

    const auto encrypt = Parse({"--encrypt", QString::fromStdString(dir / "a"), QString::fromStdString(dir / "b c")});
    ASSERT_TRUE(encrypt);
    EXPECT_EQ(encrypt->Action, TAction::Encrypt);
    EXPECT_EQ(encrypt->Paths, (QStringList{QString::fromStdString(dir / "a"), QString::fromStdString(dir / "b c")}));

    // Relative paths become absolute, as the tree knows them.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.Path())));
    const auto relative = Parse({"--decrypt", "a"});
    QDir::setCurrent(before);
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->Action, TAction::Decrypt);
    EXPECT_EQ(relative->Paths, QStringList{QString::fromStdString(dir / "a")});

    // A name that starts with a dash is a path after "--".
    WriteText(dir / "-x", "x");
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.Path())));
    const auto dashed = Parse({"--shred", "--", "-x"});
    QDir::setCurrent(before);
    ASSERT_TRUE(dashed);
    EXPECT_EQ(dashed->Action, TAction::Shred);

    QString error;
    EXPECT_FALSE(ParseStartArguments({"--encrypt"}, error)) << "a command without paths";
    EXPECT_FALSE(ParseStartArguments({"--frobnicate", QString::fromStdString(dir / "a")}, error));
    EXPECT_FALSE(ParseStartArguments({"--encrypt", "--decrypt", QString::fromStdString(dir / "a")}, error));
    EXPECT_FALSE(ParseStartArguments({QString::fromStdString(dir / "a"), QString::fromStdString(dir / "b c")}, error))
        << "two places to open";
    EXPECT_FALSE(ParseStartArguments({"--encrypt", QString::fromStdString(dir / "missing")}, error));
    EXPECT_NE(error.indexOf("missing"), -1) << error.toStdString();
}

using StartRequestTest = TGuiTest;

TEST_F(StartRequestTest, EncryptWithTwoFilesOpensTheDialogWithBoth)
{
    TTempDir dir;
    WriteText(dir / "first.txt", "first");
    WriteText(dir / "second.txt", "second");
    WriteText(dir / "other.txt", "not named");
    const auto request = Parse({"--encrypt", QString::fromStdString(dir / "first.txt"),
                                QString::fromStdString(dir / "second.txt")});
    ASSERT_TRUE(request);
    frmMain->show();
    ASSERT_TRUE(WaitUntil([] { return frmMain->isVisible(); }));

    // A message instead of the dialog would wait for a user: fail and close it instead.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (frmMessage != nullptr && frmMessage->isVisible()) {
            ADD_FAILURE() << "unexpected message: " << frmMessage->labMsg->text().toStdString();
            frmMessage->CancelBtn->click();
        }
    });
    watchdog.start(50);
    std::vector<std::string> seen;
    bool decrypting = true;
    TModalDriver driver([dialog = QPointer<TfrmPass>(frmPass)] { return dialog.data(); },
                        [&](QWidget* dialog) {
                            seen = frmPass->WorkList;
                            decrypting = frmPass->DecryptMode;
                            static_cast<QDialog*>(dialog)->reject();
                        });
    CarryOutStartRequest(*request);
    ASSERT_TRUE(driver.WaitDone(3000)) << "the operation dialog never opened";
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{dir / "first.txt", dir / "second.txt"}));
    EXPECT_FALSE(decrypting);
}

TEST_F(StartRequestTest, ShredAsksTheQuestionAndNoLeavesTheFiles)
{
    TTempDir dir;
    WriteText(dir / "keep.txt", "keep");
    const auto request = Parse({"--shred", QString::fromStdString(dir / "keep.txt")});
    ASSERT_TRUE(request);
    frmMain->show();
    ASSERT_TRUE(WaitUntil([] { return frmMain->isVisible(); }));
    TfrmMessage::SetNextAnswer(kResultCancel);
    CarryOutStartRequest(*request);
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgConfirm);
    EXPECT_TRUE(Exists(dir / "keep.txt"));
}
