#pragma once

// Symbols of libtmclient.so that callers may use; everything else is hidden.
#define TMCLIENT_API __attribute__((visibility("default")))

// Internals of libtmclient.so that libtmclient_nats.so shares (the frame
// envelope, call retries, request serving). Not for callers: their headers
// are not installed and may change with the library.
#define TMCLIENT_INTERNAL __attribute__((visibility("default")))
