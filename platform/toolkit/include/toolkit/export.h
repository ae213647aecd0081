#pragma once

// Symbols of libtoolkit.so that callers may use; everything else is hidden.
#define TOOLKIT_API __attribute__((visibility("default")))
