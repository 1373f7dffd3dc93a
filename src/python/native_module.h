// The private module mirelo_chess._native, made when mirelo_chess is.
#pragma once

namespace mirelo::py {

// Creates the module and registers it in sys.modules; -1 with an exception
// set on failure.
int register_native_module();

}  // namespace mirelo::py
