#pragma once

// The common controls in one include.
#include "toolkit/datetimepicker.h"
#include "toolkit/listview.h"
