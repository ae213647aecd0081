#pragma once

#include "toolkit/layout.h"

// The layout of the log query window "frmMicroPayLogQueryMain": the condition
// group over the result list and the bottom panel with the close button. The
// window class publishes the handlers it names besides the base window's
// (MPAY_QUERY_WINDOW_HANDLERS) and binds the controls of
// MPAY_QUERY_WINDOW_CONTROLS by name.
const TFormLayout& QueryWindowLayout();
