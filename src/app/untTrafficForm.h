#pragma once

// The generated form class of TfrmTraffic (Ui::TfrmTraffic), for code outside
// the mainwindow library, such as tests. Include this rather than the
// generated header.
#include "ui_untTraffic.h"
