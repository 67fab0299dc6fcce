#pragma once

// The generated form class of TfrmMain (Ui::TfrmMain), for code outside the
// mainwindow library, such as tests. Include this rather than the generated
// header: a target that includes the generated header directly would try to
// generate it again from a form it does not have.
#include "ui_untMain.h"
