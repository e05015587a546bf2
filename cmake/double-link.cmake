# The device double linked into static programs, which cannot take it preloaded (LD_PRELOAD):
# each function the double interposes is wrapped by the linker (--wrap=NAME), so the program's
# calls, and the C library's own calls between its parts, reach the double, and the double's
# "next definition" is the C library's. The product objects stay as they are; the tests run
# test copies of the programs, linked from the same sources and libraries with the double.
#
# The double is built from the sources of its preloadable library, whatever they are. Its
# interposers are its C-named functions (every other function of it is C++, with a mangled
# name); the step below (double-link-wrap.cmake) joins the double's objects into one, renames
# each NAME it defines to __wrap_NAME and keeps all its other names to itself, as its shared
# library does; it writes the linker's --wrap options for those names and a lookup of the C
# library's definitions by name, which answers the double's dlsym(RTLD_NEXT, NAME).

# zelt_double_link_setup(LIBRARY): the linkable double from LIBRARY's sources and flags.
function(zelt_double_link_setup library)
    get_target_property(sources ${library} SOURCES)
    get_target_property(source_dir ${library} SOURCE_DIR)
    list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/]")
    add_library(zelt_double_objects OBJECT ${sources})
    foreach(property COMPILE_OPTIONS COMPILE_DEFINITIONS INCLUDE_DIRECTORIES)
        set_property(TARGET zelt_double_objects PROPERTY ${property}
                     $<TARGET_PROPERTY:${library},${property}>)
    endforeach()

    set(out ${CMAKE_CURRENT_BINARY_DIR}/double-link)
    add_custom_command(
        OUTPUT ${out}/double.o ${out}/real.c ${out}/wrap.rsp
        COMMAND ${CMAKE_COMMAND} "-DOBJECTS=$<JOIN:$<TARGET_OBJECTS:zelt_double_objects>,|>"
                -DNM=${CMAKE_NM} -DOBJCOPY=${CMAKE_OBJCOPY} -DLINKER=${CMAKE_LINKER} -DOUT=${out}
                -P ${PROJECT_SOURCE_DIR}/cmake/double-link-wrap.cmake
        DEPENDS zelt_double_objects $<TARGET_OBJECTS:zelt_double_objects>
                ${PROJECT_SOURCE_DIR}/cmake/double-link-wrap.cmake
        VERBATIM)
    # The C library's definitions by name, and the double.
    add_library(zelt_double_linked STATIC ${out}/real.c)
    target_link_libraries(zelt_double_linked INTERFACE ${out}/double.o ${CMAKE_DL_LIBS}
                                                       Threads::Threads)
    # The compiler driver reads the options from the file when it links.
    target_link_options(zelt_double_linked INTERFACE "@${out}/wrap.rsp")
endfunction()

# zelt_double_link(TARGET): links the double into TARGET.
function(zelt_double_link target)
    target_link_libraries(${target} PRIVATE zelt_double_linked)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${CMAKE_BINARY_DIR}/tests/double/double-link/wrap.rsp)
endfunction()

# zelt_double_copy(PROGRAM COPY): COPY is PROGRAM's test copy, with the double linked in.
function(zelt_double_copy program copy)
    get_target_property(sources ${program} SOURCES)
    get_target_property(source_dir ${program} SOURCE_DIR)
    list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/]")
    add_executable(${copy} ${sources})
    foreach(property COMPILE_OPTIONS COMPILE_DEFINITIONS INCLUDE_DIRECTORIES LINK_OPTIONS
                     LINK_LIBRARIES)
        get_target_property(value ${program} ${property})
        if(value)
            set_property(TARGET ${copy} PROPERTY ${property} "${value}")
        endif()
    endforeach()
    set_target_properties(${copy} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    zelt_double_link(${copy})
endfunction()
