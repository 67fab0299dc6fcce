#pragma once

// The generated form class of TfrmSetLang (Ui::TfrmSetLang), for code outside
// the i18n library, such as tests. Include this rather than the generated
// header, which only the i18n library can generate.
#include "ui_untSetLang.h"
