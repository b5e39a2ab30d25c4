// The six windows exist once each and the message box's test seam answers without showing.
#include "tests/gui/GuiTestSupport.h"

#include "app/Forms.h"
#include "app/messageU.h"

using SkeletonTest = TGuiTest;

TEST_F(SkeletonTest, SeamAnswersAndRecords)
{
    TfrmMessage::SetNextAnswer(kResultCancel);
    EXPECT_EQ(ShowMsg("Question?", kMsgConfirm, kButtonsYesCancel), kResultCancel);
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, "Question?");
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgConfirm);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsYesCancel);
}
