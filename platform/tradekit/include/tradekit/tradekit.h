#pragma once

// The business helper library: business-type display texts and the suite's
// code tables. Plain C entry points; texts are GBK bytes.

#define TRADEKIT_API __attribute__((visibility("default")))

// Code table categories known to GetItemName.
enum {
  kItemCustomerType = 1,  // customer types
  kItemUserStatus = 2,    // user (subscription) states
  kItemCertificate = 3,   // certificate types accepted for registration
  kItemMicroPayBusi = 4,  // micro-payment business types
};

// The size of the buffer GetItemName writes into, NUL included.
enum { kItemNameSize = 32 };

#ifdef __cplusplus
extern "C" {
#endif

// The number in the brackets of a "[%d] %s" display text ("[1332] ..." gives
// 1332); blanks may stand before the bracket and around the number. A text
// without the opening bracket is read as a bare number ("1332" gives 1332).
// 0 for null, for text with no number where one is expected, for a bracket
// that is not closed after the number, and for a number outside int.
TRADEKIT_API int ExtractItemCode(const char* text);

// Writes the name of `code` in the code table `category` into `name`, which
// must hold kItemNameSize bytes: a NUL-terminated text of at most 31 bytes,
// cut at a character boundary. Unknown category or code: an empty text and -1.
// Returns 0 when the name was found. Null `name`: writes nothing, returns -1.
TRADEKIT_API int GetItemName(int category, int code, char* name);

#ifdef __cplusplus
}
#endif
