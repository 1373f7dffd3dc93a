// The private module mirelo_chess._native, made when mirelo_chess is.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace mirelo::py {

// The functions of mirelo_chess.game (game_functions.cpp).
extern PyMethodDef GAME_FUNCTIONS[];

// Creates the module and registers it in sys.modules; -1 with an exception
// set on failure.
int register_native_module();

}  // namespace mirelo::py
