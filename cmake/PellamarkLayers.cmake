# Includes name the folder they come from ("settings/Profile.h", "components/HtmlView.h"), as
# seen from one root, the project folder. No target sees that whole root, though: each layer's
# target publishes a root of its own that holds only its folder, so a file sees a folder only when
# its target links that folder's target, and an include that runs up a layer fails to build.
#
# The layers, lowest first; each links only those before it:
#   settings, net (the Qt-free core) -> components -> dialogs -> app
# The window process (window/) links the components beside the dialogs; nothing links it.
# The bundled service (service/) is a program apart: its target links no layer of the client.
function(pellamark_layer target)
    get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
    set(root "${PROJECT_BINARY_DIR}/layers/${folder}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${folder}" SYMBOLIC)
    target_include_directories(${target} PUBLIC "${root}")
    target_link_libraries(${target} PUBLIC pellamark_settings)
endfunction()
