#pragma once

// Files named by the file system's own bytes are read and written by the
// program's one file layer, which takes such names.
#include "platform/RegularFile.h"
