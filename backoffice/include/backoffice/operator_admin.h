#pragma once

#include <string>
#include <string_view>

#include "backoffice/options.h"

namespace backoffice {

// Why `password` may not be the password of local operator `login`, or ""
// when it may: 8 to 128 bytes, not the login (nor holding it, case aside),
// not one of the passwords tried first by whoever guesses.
std::string PasswordFault(std::string_view password, std::string_view login);

// Runs the operator command of `options` (--add-operator and the others) on
// options.db, printing what it did on standard output. A password is read
// from the terminal without echo (twice, to confirm) or, when standard input
// is not a terminal, from its first line; never from the command line.
// Returns the process's exit status; throws DbError.
int RunOperatorCommand(const Options& options);

}  // namespace backoffice
