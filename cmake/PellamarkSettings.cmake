# Shared compile settings for every target of the project.
add_library(pellamark_settings INTERFACE)
target_compile_features(pellamark_settings INTERFACE cxx_std_20)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(pellamark_settings INTERFACE -Wall -Wextra -pedantic)
    if(PELLAMARK_WERROR)
        target_compile_options(pellamark_settings INTERFACE -Werror)
    endif()
endif()
target_compile_definitions(pellamark_settings INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)
