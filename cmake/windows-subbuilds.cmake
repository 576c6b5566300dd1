# The Windows trees are sub-builds of the host tree: one build and one CTest run
# cover every toolchain. Each tree has its own Wine prefix.
include(ExternalProject)

# qg_windows_tree(name toolchain [DEPENDS tree] [ARGS -D...])
function(qg_windows_tree name toolchain)
    cmake_parse_arguments(T "" "" "DEPENDS;ARGS" ${ARGN})
    set(dir ${CMAKE_BINARY_DIR}/${name})
    ExternalProject_Add(${name}
        SOURCE_DIR ${CMAKE_SOURCE_DIR}
        BINARY_DIR ${dir}
        CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}
                   -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
                   -DQG_DIST_DIR=${QG_DIST_DIR}
                   ${QG_SIGNING_ARGS}
                   ${T_ARGS}
        DEPENDS ${T_DEPENDS}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        USES_TERMINAL_BUILD ON)
    # CTest runs the tree's tests together with the host's.
    file(WRITE ${CMAKE_BINARY_DIR}/${name}-tests.cmake
         "if(EXISTS \"${dir}/CTestTestfile.cmake\")\n  subdirs(\"${dir}\")\nendif()\n")
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
                 ${CMAKE_BINARY_DIR}/${name}-tests.cmake)
endfunction()

# Setup carries the x86 driver: the x86 tree builds first and hands it over.
qg_windows_tree(windows-x86 toolchain-mingw-i686.cmake)
qg_windows_tree(windows-x64 toolchain-mingw-x86_64.cmake DEPENDS windows-x86
                ARGS -DQG_X86_DRIVER=${CMAKE_BINARY_DIR}/windows-x86/driver/quilldrv.sys)

# Every image in dist/, once both trees have built, is signed and checksummed.
find_program(QG_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
add_test(NAME ${QG_TEST_PREFIX}DistImagesAreSignedWithValidChecksums
         COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-signed-images ${QG_OSSLSIGNCODE}
                 ${CMAKE_BINARY_DIR}/windows-x64/host-tools/pe_checksum ${QG_MINGW_OBJDUMP}
                 "${QG_SIGNING_ROOT}" ${QG_DIST_DIR}
                 $<$<BOOL:${QG_RELEASE_DRIVER_X64}>:x64/quilldrv.sys>
                 $<$<BOOL:${QG_RELEASE_DRIVER_X86}>:x86/quilldrv.sys>)
set_tests_properties(${QG_TEST_PREFIX}DistImagesAreSignedWithValidChecksums PROPERTIES TIMEOUT 120)

# The package for Microsoft's hardware submission, from both trees' drivers.
string(TIMESTAMP QG_DRIVER_DATE "%m/%d/%Y" UTC)
configure_file(${CMAKE_SOURCE_DIR}/driver/quilldrv.inf.in ${CMAKE_BINARY_DIR}/submission/quilldrv.inf
               @ONLY)
set(QG_SUBMISSION_CAB ${QG_DIST_DIR}/submission/quilldrv.cab)
add_custom_target(submission ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QG_DIST_DIR}/submission
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-submission ${QG_OSSLSIGNCODE} ${QG_SIGNING_CONFIG}
            ${QG_SUBMISSION_CAB} ${CMAKE_BINARY_DIR}/submission/quilldrv.inf
            ${CMAKE_BINARY_DIR}/windows-x64/driver ${CMAKE_BINARY_DIR}/windows-x86/driver
    VERBATIM)
add_dependencies(submission windows-x64 windows-x86)
add_test(NAME ${QG_TEST_PREFIX}Signing.SubmissionCabHoldsBothDriversAndVerifies
         COMMAND ${CMAKE_SOURCE_DIR}/tests/signing/check-submission ${QG_OSSLSIGNCODE}
                 "${QG_SIGNING_ROOT}" ${QG_SUBMISSION_CAB})
set_tests_properties(${QG_TEST_PREFIX}Signing.SubmissionCabHoldsBothDriversAndVerifies
                     PROPERTIES TIMEOUT 60)

# Signing through a PKCS#11 token, with a time stamp, and the test root's limits;
# they need the build's own test key.
if(QG_SIGNING_DIR)
    find_library(QG_SOFTHSM_MODULE softhsm2 PATH_SUFFIXES softhsm REQUIRED)
    set(dir ${CMAKE_SOURCE_DIR}/tests/signing)
    set(sign ${QG_OSSLSIGNCODE} ${CMAKE_SOURCE_DIR}/cmake/sign-image)
    add_test(NAME ${QG_TEST_PREFIX}Signing.ThroughAPkcs11Token
             COMMAND ${dir}/sign-through-token ${sign} ${QG_SOFTHSM_MODULE} ${QG_SIGNING_DIR}
                     ${QG_DIST_DIR}/Uninst.exe ${CMAKE_BINARY_DIR}/tests/signing/token)
    add_test(NAME ${QG_TEST_PREFIX}Signing.WithATimeStamp
             COMMAND ${dir}/sign-with-timestamp ${sign} ${QG_SIGNING_DIR}
                     ${QG_DIST_DIR}/Uninst.exe ${CMAKE_BINARY_DIR}/tests/signing/timestamp)
    add_test(NAME ${QG_TEST_PREFIX}Signing.TestRootSignsCodeSignersOnlyAndLeavesNoKey
             COMMAND ${dir}/check-test-root ${QG_SIGNING_ROOT} ${CMAKE_BINARY_DIR})
    set_tests_properties(${QG_TEST_PREFIX}Signing.ThroughAPkcs11Token
                         ${QG_TEST_PREFIX}Signing.WithATimeStamp
                         ${QG_TEST_PREFIX}Signing.TestRootSignsCodeSignersOnlyAndLeavesNoKey
                         PROPERTIES TIMEOUT 120
                         # The first two hold test keys in the tree while they run.
                         RESOURCE_LOCK build_tree_keys)
endif()
