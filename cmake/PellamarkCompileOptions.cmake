# The compile options every target of the project shares.
add_library(pellamark_compile_options INTERFACE)
target_compile_features(pellamark_compile_options INTERFACE cxx_std_20)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(pellamark_compile_options INTERFACE -Wall -Wextra -pedantic)
    if(PELLAMARK_WERROR)
        target_compile_options(pellamark_compile_options INTERFACE -Werror)
    endif()
endif()
target_compile_definitions(pellamark_compile_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)

# Hardening of what ships on Linux: position-independent programs, stack protection, checked
# buffer functions (they need the optimiser) and a read-only relocation table bound at start.
if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES CXX)
    add_compile_options(-fstack-protector-strong -fstack-clash-protection
                        "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
    add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,--as-needed)
endif()
