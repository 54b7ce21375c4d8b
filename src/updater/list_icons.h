#pragma once
// The 13 icons of the update list (ImageList1), numbered from 1, drawn by the
// program itself.
#include "platform/grid/vsflexgrid.h"

namespace updater {

// The picture of icon i (1 to 13); an empty picture for any other number.
platform::Picture ListImage(int i);

}  // namespace updater
