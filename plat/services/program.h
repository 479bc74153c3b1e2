#pragma once
// The services of a program, built once in its main(): the store of the current system root, the
// spooler chosen on first use, the port opener, and the steady clock.
//
// KESTREL_TEST_TIME_SCALE=0.02 runs the fixed waits of the engine and of the network check fifty times
// faster: the tests and scripts that start programs (the list and its detail programs, kestrel-panel,
// kestrel-netcheck) use it so that minutes of polling take seconds. It is read here, in the programs'
// edge only; the libraries take the clock the program hands them. KESTREL_TEST_INTERVAL_SCALE=0.04 also
// runs the programs' timers and the times the user chose (the status interval, the retry time) 25 times
// faster: `bench/soak` covers a day of polling in an hour with it.

#include <memory>

#include "plat/base/result.h"
#include "plat/services/services.h"

namespace plat {

Result<std::unique_ptr<Services>> openProgramServices();

}  // namespace plat
