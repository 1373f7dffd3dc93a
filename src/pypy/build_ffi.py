"""Writes the C source of the cffi module mirelo_chess._ffi (API mode): the
declarations between the cdef markers of the C interface header, compiled
against that header. CMake runs it with the interpreter it builds for and
compiles the result together with the core.

    python build_ffi.py HEADER OUTPUT.c
"""

import sys

import cffi


def declarations(header_text):
    begin, end = "/* cdef-begin */", "/* cdef-end */"
    return header_text.split(begin, 1)[1].split(end, 1)[0]


def main(header, output):
    with open(header, encoding="utf-8") as f:
        cdef = declarations(f.read())
    ffi = cffi.FFI()
    ffi.cdef(cdef)
    ffi.set_source("mirelo_chess._ffi", '#include "mirelo_capi.h"')
    ffi.emit_c_code(output)


if __name__ == "__main__":
    main(*sys.argv[1:])
