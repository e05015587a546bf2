# Build step of double-link.cmake (cmake -P): OBJECTS, the double's objects, "|" between; NM,
# OBJCOPY, LINKER, the toolchain's tools; OUT, the folder for double.o (the double as one object
# that, like a shared library, shows only its interposers, each NAME renamed __wrap_NAME, and
# keeps every other name to itself), wrap.rsp (the compiler driver's -Wl,--wrap options) and
# real.c (the C library's definitions by name, for the double's dlsym).
string(REPLACE "|" ";" OBJECTS "${OBJECTS}")
set(names "")
foreach(object IN LISTS OBJECTS)
    execute_process(COMMAND ${NM} -g --defined-only ${object} OUTPUT_VARIABLE symbols
                    COMMAND_ERROR_IS_FATAL ANY)
    # Functions with a plain C name ("ADDRESS T NAME", or W, a weak definition), and the C
    # library's checked entry points of fortified builds, __NAME_2 and __NAME_chk.
    string(REGEX MATCHALL "[0-9a-f]+ [TW] ([A-Za-z][A-Za-z0-9_]*|__[a-z0-9]+_(2|chk))\n" found
                 "${symbols}")
    foreach(line IN LISTS found)
        string(REGEX REPLACE ".* ([A-Za-z0-9_]+)\n" "\\1" name "${line}")
        list(APPEND names ${name})
    endforeach()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
if(NOT names)
    message(FATAL_ERROR "double-link: the double's objects define no C-named function")
endif()

set(renames "")
set(keep "")
set(rsp "-Wl,--wrap=dlsym\n")
set(declarations "")
set(table "")
foreach(name IN LISTS names)
    string(APPEND renames "${name} __wrap_${name}\n")
    string(APPEND keep "__wrap_${name}\n")
    string(APPEND rsp "-Wl,--wrap=${name}\n")
    string(APPEND declarations "extern char __real_${name}[];\n")
    string(APPEND table "    {\"${name}\", __real_${name}},\n")
endforeach()
file(WRITE ${OUT}/renames.txt "${renames}")
file(WRITE ${OUT}/keep.txt "${keep}")
execute_process(COMMAND ${LINKER} -r -o ${OUT}/merged.o ${OBJECTS} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --redefine-syms=${OUT}/renames.txt ${OUT}/merged.o
                        ${OUT}/renamed.o COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --keep-global-symbols=${OUT}/keep.txt ${OUT}/renamed.o
                        ${OUT}/double.o COMMAND_ERROR_IS_FATAL ANY)

file(WRITE ${OUT}/wrap.rsp "${rsp}")
file(WRITE ${OUT}/real.c "/* Written by cmake/double-link-wrap.cmake. */
#include <stddef.h>
#include <string.h>

${declarations}
void* __real_dlsym(void* handle, const char* name);

static const struct {
    const char* name;
    void* real;
} reals[] = {
${table}};

/* The double asks for the next definition of each function it wraps: the C library's. */
void* __wrap_dlsym(void* handle, const char* name) {
    for (size_t i = 0; i < sizeof reals / sizeof reals[0]; ++i) {
        if (strcmp(reals[i].name, name) == 0) {
            return reals[i].real;
        }
    }
    return __real_dlsym(handle, name);
}
")
