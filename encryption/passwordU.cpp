// The operation dialog: one instance for encryption and decryption, its states and its runs.
#include "encryption/passwordU.h"

TfrmPass::TfrmPass(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmPass");
    setWindowTitle("    Vellumox");
}
