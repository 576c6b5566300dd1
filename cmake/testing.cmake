enable_testing()
if(NOT QG_DRIVER_ONLY)
    # GoogleTest from Debian's source package, built with each tree's own toolchain.
    include(FetchContent)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    FetchContent_Declare(googletest SOURCE_DIR /usr/src/googletest)
    FetchContent_MakeAvailable(googletest)
    include(GoogleTest)
endif()

if(WIN32)
    # Windows test executables run in Wine, in a prefix private to this build tree.
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${CMAKE_SOURCE_DIR}/cmake/wine-run;${CMAKE_BINARY_DIR}/wineprefix")
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(QG_TEST_PREFIX "win64.")
    else()
        set(QG_TEST_PREFIX "win32.")
    endif()
    # Listing the cases needs Wine: do it when CTest runs, not at build time.
    set(QG_DISCOVERY_MODE PRE_TEST)
else()
    set(QG_TEST_PREFIX "host.")
    set(QG_DISCOVERY_MODE POST_BUILD)
endif()

if(QG_SANITIZE AND NOT WIN32)
    set(QG_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
endif()

# qg_wine_test_program(target): a Windows program that CTest runs through
# cmake/wine-run tells the wrapper that its process started (see there).
function(qg_wine_test_program target)
    if(WIN32)
        target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/started_marker.cpp)
    endif()
endfunction()

# qg_test(NAME SOURCES... [LIBS ...] [PROPERTIES ...] [WINE_PREFIX name]): a
# GoogleTest executable whose cases CTest lists one by one, named after the tree
# they run in. PROPERTIES go to every case, e.g. RESOURCE_LOCK machine_state for
# tests that change the registry, the services or Program Files and so must not run
# alongside each other. WINE_PREFIX runs the cases in a prefix of their own
# (wineprefix-<name>), for tests that would end or spoil the shared one.
function(qg_test name)
    cmake_parse_arguments(T "" "WINE_PREFIX" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    qg_wine_test_program(${name})
    if(WIN32 AND T_WINE_PREFIX)
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
            "${CMAKE_SOURCE_DIR}/cmake/wine-run;${CMAKE_BINARY_DIR}/wineprefix-${T_WINE_PREFIX}")
    endif()
    target_link_libraries(${name} PRIVATE GTest::gtest_main ${T_LIBS})
    target_compile_options(${name} PRIVATE ${QG_SANITIZER_FLAGS})
    target_link_options(${name} PRIVATE ${QG_SANITIZER_FLAGS})
    gtest_discover_tests(${name} TEST_PREFIX "${QG_TEST_PREFIX}" DISCOVERY_TIMEOUT 120
                         DISCOVERY_MODE ${QG_DISCOVERY_MODE} PROPERTIES TIMEOUT 120 ${T_PROPERTIES})
endfunction()
