# There is no Qt for Windows on the build machine, so no build here compiles the Windows files of
# the layers that need Qt (app/). They are compiled for 32-bit Windows against the build machine's
# Qt headers instead, syntax only, so that they keep up with the interfaces they implement.
find_program(PELLAMARK_MINGW_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
if(NOT PELLAMARK_MINGW_CXX)
    message(WARNING "No i686-w64-mingw32-g++: the Windows files of app/ go unchecked")
    return()
endif()
set(includes)
foreach(layer IN LISTS PELLAMARK_LAYERS)
    get_target_property(dirs pellamark_${layer} INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir IN LISTS dirs)
        list(APPEND includes "-I${dir}")
    endforeach()
endforeach()
list(REMOVE_DUPLICATES includes)
find_package(Qt6 REQUIRED COMPONENTS Widgets)
# As system headers: their own warnings under this compiler are not ours to fix.
foreach(qt Qt6::Widgets Qt6::Gui Qt6::Core)
    get_target_property(dirs ${qt} INTERFACE_INCLUDE_DIRECTORIES)
    foreach(dir IN LISTS dirs)
        list(APPEND includes -isystem "${dir}")
    endforeach()
endforeach()
get_target_property(definitions pellamark_compile_options INTERFACE_COMPILE_DEFINITIONS)
list(TRANSFORM definitions PREPEND -D)
add_test(NAME app_win32_syntax
    COMMAND "${PELLAMARK_MINGW_CXX}" -std=c++20 -fsyntax-only -Wall -Wextra -pedantic -Werror
            ${definitions} ${includes} "${PROJECT_SOURCE_DIR}/app/HelperLauncher_win32.cpp")
set_tests_properties(app_win32_syntax PROPERTIES LABELS win32)
