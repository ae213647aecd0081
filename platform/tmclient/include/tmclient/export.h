#pragma once

// Symbols of libtmclient.so that callers may use; everything else is hidden.
#define TMCLIENT_API __attribute__((visibility("default")))
