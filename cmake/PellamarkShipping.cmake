# The files the program finds at run time: its help, its terms and the page view's engine module.
# In the build tree they lie beside the program. Installed, they follow the GNU layout, and the
# program finds them relative to its own folder (system/ProgramFiles.h), so an installed tree
# works wherever it is put.
include(GNUInstallDirs)
# What is installed without naming a component is the program's: its package takes it.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME pellamark)

# Where the programs are built, so that the shipped files can lie beside them.
set(PELLAMARK_PROGRAM_DIR "${PROJECT_BINARY_DIR}/app")

set(PELLAMARK_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/pellamark")
set(PELLAMARK_INSTALL_MODULEDIR "${CMAKE_INSTALL_LIBDIR}/pellamark")
# The same folders as the installed program sees them from its own.
file(RELATIVE_PATH PELLAMARK_DATA_FROM_PROGRAM "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_DATADIR}/pellamark")
file(RELATIVE_PATH PELLAMARK_MODULES_FROM_PROGRAM "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_LIBDIR}/pellamark")

# A data file of the program: copied beside the program, installed in the data folder.
function(pellamark_ship_data file)
    get_filename_component(name "${file}" NAME)
    set(source "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
    set(copy "${PELLAMARK_PROGRAM_DIR}/${name}")
    add_custom_command(
        OUTPUT "${copy}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${PELLAMARK_PROGRAM_DIR}"
        COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${source}" "${copy}"
        DEPENDS "${source}"
        COMMENT "Copying ${name} beside the program")
    string(MAKE_C_IDENTIFIER "pellamark_ship_${name}" target)
    add_custom_target(${target} ALL DEPENDS "${copy}")
    set_property(GLOBAL APPEND PROPERTY PELLAMARK_SHIPPED ${target})
    install(FILES "${file}" DESTINATION "${PELLAMARK_INSTALL_DATADIR}")
endfunction()

# A module the program loads at run time: built beside the program, installed in the module
# folder.
function(pellamark_ship_module target)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${PELLAMARK_PROGRAM_DIR}")
    set_property(GLOBAL APPEND PROPERTY PELLAMARK_SHIPPED ${target})
    install(TARGETS ${target} LIBRARY DESTINATION "${PELLAMARK_INSTALL_MODULEDIR}")
endfunction()

# A program: built in the program folder and never without the files it ships with. Call it after
# every folder that ships a file.
function(pellamark_program target)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PELLAMARK_PROGRAM_DIR}")
    get_property(shipped GLOBAL PROPERTY PELLAMARK_SHIPPED)
    add_dependencies(${target} ${shipped})
endfunction()

# A helper program the program starts: built beside the program, installed in the module folder
# (it is no command of its own), and found there the way the modules are.
function(pellamark_ship_program target)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PELLAMARK_PROGRAM_DIR}")
    set_property(GLOBAL APPEND PROPERTY PELLAMARK_SHIPPED ${target})
    install(TARGETS ${target} RUNTIME DESTINATION "${PELLAMARK_INSTALL_MODULEDIR}")
endfunction()
