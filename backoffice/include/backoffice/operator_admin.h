#pragma once

#include "backoffice/options.h"

namespace backoffice {

// Runs the operator command of `options` (--add-operator and the others) on
// options.db, printing what it did on standard output. A password is read
// from the terminal without echo (twice, to confirm) or, when standard input
// is not a terminal, from its first line; never from the command line.
// Returns the process's exit status; throws DbError.
int RunOperatorCommand(const Options& options);

}  // namespace backoffice
