# Authenticode signing of every image the build ships. 64-bit Windows loads no
# unsigned kernel image, and a boot driver needs its signature embedded: a
# catalog is not read that early.
#
# A release is signed with the vendor's key, given at configure time:
#   -DQG_SIGNING_PKCS12=vendor.p12 -DQG_SIGNING_PASSWORD_FILE=vendor.pass
# Without one, the tree makes a throwaway test root and a code-signing certificate
# issued by it (build/<tree>/signing/), which nothing outside the build trusts.
# The all preset makes them once in the host tree and hands them to the Windows
# trees, so every image in dist/ verifies against one root.
set(QG_SIGNING_PKCS12 "" CACHE FILEPATH
    "Code-signing certificate and key (PKCS#12); empty: the build's own test certificate")
set(QG_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of QG_SIGNING_PKCS12")
set(QG_SIGNING_ROOT "" CACHE FILEPATH
    "Root certificate (PEM) the tests verify the signatures against; empty with a vendor key: the system's roots")

find_program(QG_OSSLSIGNCODE osslsigncode REQUIRED)

if(QG_SIGNING_PKCS12)
    if(NOT QG_SIGNING_PASSWORD_FILE)
        message(FATAL_ERROR "QG_SIGNING_PKCS12 needs QG_SIGNING_PASSWORD_FILE")
    endif()
    foreach(file IN ITEMS QG_SIGNING_PKCS12 QG_SIGNING_PASSWORD_FILE)
        if(NOT EXISTS "${${file}}")
            message(FATAL_ERROR "${file}: ${${file}} does not exist")
        endif()
    endforeach()
else()
    set(QG_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-test-certificates ${QG_SIGNING_DIR}
                    RESULT_VARIABLE made)
    if(NOT made EQUAL 0)
        message(FATAL_ERROR "cannot make the test signing certificates in ${QG_SIGNING_DIR}")
    endif()
    set(QG_SIGNING_PKCS12 ${QG_SIGNING_DIR}/test-signer.p12)
    set(QG_SIGNING_PASSWORD_FILE ${QG_SIGNING_DIR}/test-signer.pass)
    set(QG_SIGNING_ROOT ${QG_SIGNING_DIR}/test-root.crt)
endif()

# What a sub-build needs to sign with the same key.
set(QG_SIGNING_ARGS -DQG_SIGNING_PKCS12=${QG_SIGNING_PKCS12}
                    -DQG_SIGNING_PASSWORD_FILE=${QG_SIGNING_PASSWORD_FILE}
                    -DQG_SIGNING_ROOT=${QG_SIGNING_ROOT})

# qg_sign(target): signs the linked image in place, SHA-256, no time stamp (the
# build has no network). Call it after any step that changes the image (the
# checksum) and before any step that copies it (dist/, a carrier's resource):
# POST_BUILD commands run in the order they were added. osslsigncode sets the
# checksum of the signed image.
function(qg_sign target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${QG_OSSLSIGNCODE} sign -pkcs12 ${QG_SIGNING_PKCS12}
                -readpass ${QG_SIGNING_PASSWORD_FILE} -h sha256 -n QuillGuard
                -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
        COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
