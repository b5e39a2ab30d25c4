// The shred window, shown without being modal while a shred run goes on.
#include "wipe/frmshred_u.h"

TfrmShred::TfrmShred(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmShred");
    setWindowTitle("    Shred Files");
}
