# The core and cipher tests in a Windows cross build, to run under Wine (scripts/windows-tests.sh).
# GoogleTest is compiled from source with the same cross compiler, since no Windows build of it is
# packaged; the toolchain links everything -static, which Wine needs. Only the tests that need no
# oracle library (OpenSSL, Crypto++, Botan) are built: there are no Windows builds of those here.
set(VX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${VX_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "VX_WINDOWS_TESTS needs GoogleTest's sources in ${VX_GTEST_SOURCE_DIR} "
                        "(Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

add_library(vx_testsupport STATIC tests/support/VectorFile.cpp tests/support/TempDir.cpp)
target_include_directories(vx_testsupport PUBLIC ${PROJECT_SOURCE_DIR})
# Wine shows the Linux root as drive Z:, so the vectors are read in place.
target_compile_definitions(vx_testsupport PUBLIC VX_TEST_DATA_DIR="Z:${PROJECT_SOURCE_DIR}/tests/data"
                                                 VX_TESTS_WITHOUT_ORACLES NOMINMAX)
target_link_libraries(vx_testsupport PUBLIC gtest PRIVATE vx_warnings)

add_executable(vx_crypto_tests tests/crypto/test_framework.cpp tests/crypto/test_vectors.cpp)
target_link_libraries(vx_crypto_tests PRIVATE vx_crypto vx_testsupport gtest_main vx_warnings)

file(GLOB VX_CORE_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/core/*.cpp)
# Modes, capabilities and forked children: these cases exist on POSIX systems alone.
list(REMOVE_ITEM VX_CORE_TESTS ${PROJECT_SOURCE_DIR}/tests/core/test_runs_safety.cpp)
add_executable(vx_core_tests ${VX_CORE_TESTS} tests/support/DecryptCheck.cpp)
target_link_libraries(vx_core_tests PRIVATE vx_core vx_testsupport gtest_main vx_warnings)

add_custom_target(vx_windows_tests DEPENDS vx_crypto_tests vx_core_tests)
