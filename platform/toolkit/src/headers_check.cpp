#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"
