# GoogleTest for the tests. A native build uses the installed package; a cross build for Windows
# builds it from Debian's source package with the cross compiler, as no installed copy fits there.
if(CMAKE_CROSSCOMPILING)
    set(PELLAMARK_GTEST_SOURCE_DIR "/usr/src/googletest"
        CACHE PATH "GoogleTest sources built along with a cross build's tests")
    if(NOT EXISTS "${PELLAMARK_GTEST_SOURCE_DIR}/CMakeLists.txt")
        message(FATAL_ERROR "GoogleTest sources not found in ${PELLAMARK_GTEST_SOURCE_DIR} "
                            "(Debian package googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # SYSTEM keeps the project's warning flags off GoogleTest's own headers.
    add_subdirectory("${PELLAMARK_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest"
                     EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)
