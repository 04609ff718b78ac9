# Includes name the folder they come from ("settings/Profile.h", "components/HtmlView.h"), as
# seen from one root, the project folder. No target sees that whole root, though: each layer's
# target publishes a root of its own that holds only its folder, so a file sees a folder only when
# its target links that folder's target, and an include that runs up a layer fails to build.
# scripts/check-includes.py reads the order from the lines below and checks the headers and the
# other platform's files, which no build here compiles.

# The program's layers, lowest first; each links only those before it. The first four are the
# core: plain C++ without Qt, which also builds for Windows.
set(PELLAMARK_LAYERS base system settings net components dialogs app)
set(PELLAMARK_CORE_LAYERS base system settings net)
# The window process (window/) stands on this layer, beside the ones above it; nothing links it.
set(PELLAMARK_WINDOW_STANDS_ON components)
# The bundled service (service/) is a program apart: it links no layer of the client.
set(PELLAMARK_APART service)

function(pellamark_layer target)
    get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
    set(root "${PROJECT_BINARY_DIR}/layers/${folder}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${folder}" SYMBOLIC)
    target_include_directories(${target} PUBLIC "${root}")
    target_link_libraries(${target} PUBLIC pellamark_compile_options)
endfunction()
