# Authenticode signing of every image the build ships. 64-bit Windows loads no
# unsigned kernel image, and a boot driver needs its signature embedded: a
# catalog is not read that early.
#
# A release is signed with the vendor's key, given at configure time, either in a
# hardware token or HSM through its PKCS#11 module (publicly trusted code-signing
# keys may live nowhere else):
#   -DQG_SIGNING_PKCS11_MODULE=/usr/lib/.../module.so
#   -DQG_SIGNING_PKCS11_KEY="pkcs11:token=...;object=..."
#   -DQG_SIGNING_CERT=vendor-chain.pem (or a pkcs11: URI of the certificate)
#   -DQG_SIGNING_PIN_FILE=token.pin
# or, for test keys only, as PKCS#12:
#   -DQG_SIGNING_PKCS12=test.p12 -DQG_SIGNING_PASSWORD_FILE=test.pass
# -DQG_TIMESTAMP_URL=http://... (RFC 3161) time-stamps every signature, so that it
# stays valid after the certificate expires.
# Without a key, the tree makes a throwaway test root and a code-signing certificate
# issued by it (build/<tree>/signing/), which nothing outside the build trusts.
# The all preset writes the signing settings once in the host tree and hands the
# file to the Windows trees, so every image in dist/ is signed alike.
set(QG_SIGNING_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module of the token or HSM holding the key")
set(QG_SIGNING_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the code-signing key")
set(QG_SIGNING_CERT "" CACHE STRING
    "The code-signing certificate and its chain: a PEM file, or a pkcs11: URI")
set(QG_SIGNING_PIN_FILE "" CACHE FILEPATH "File holding the token's PIN")
set(QG_SIGNING_PKCS12 "" CACHE FILEPATH
    "Test code-signing certificate and key (PKCS#12); empty: the build's own test certificate")
set(QG_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of QG_SIGNING_PKCS12")
set(QG_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping authority; empty: no time stamps")
set(QG_SIGNING_ROOT "" CACHE FILEPATH
    "Root certificate (PEM) the tests verify the signatures against; empty with a vendor key: the system's roots")
# Set by the all preset for its Windows trees: the host tree's settings.
set(QG_SIGNING_CONFIG "" CACHE FILEPATH "Signing settings written by the tree that owns them")

find_program(QG_OSSLSIGNCODE osslsigncode REQUIRED)

function(qg_require_files)
    foreach(variable IN LISTS ARGN)
        if(NOT EXISTS "${${variable}}")
            message(FATAL_ERROR "${variable}: \"${${variable}}\" does not exist")
        endif()
    endforeach()
endfunction()

# A value for the settings file, quoted for sh.
function(qg_shell_quote variable value)
    string(REPLACE "'" "'\\''" value "${value}")
    set(${variable} "'${value}'" PARENT_SCOPE)
endfunction()

if(NOT QG_SIGNING_CONFIG)
    if(QG_SIGNING_PKCS11_MODULE)
        foreach(variable IN ITEMS QG_SIGNING_PKCS11_KEY QG_SIGNING_CERT QG_SIGNING_PIN_FILE)
            if(NOT ${variable})
                message(FATAL_ERROR "QG_SIGNING_PKCS11_MODULE needs ${variable}")
            endif()
        endforeach()
        qg_require_files(QG_SIGNING_PKCS11_MODULE QG_SIGNING_PIN_FILE)
        if(NOT QG_SIGNING_CERT MATCHES "^pkcs11:")
            qg_require_files(QG_SIGNING_CERT)
        endif()
    elseif(QG_SIGNING_PKCS12)
        if(NOT QG_SIGNING_PASSWORD_FILE)
            message(FATAL_ERROR "QG_SIGNING_PKCS12 needs QG_SIGNING_PASSWORD_FILE")
        endif()
        qg_require_files(QG_SIGNING_PKCS12 QG_SIGNING_PASSWORD_FILE)
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
    if(NOT QG_TIMESTAMP_URL)
        message(STATUS "Signing without time stamps: the signatures end with the certificate "
                       "(set QG_TIMESTAMP_URL for a release)")
    endif()
    set(QG_SIGNING_CONFIG ${CMAKE_BINARY_DIR}/signing/signing.conf)
    set(settings "# Written by cmake/signing.cmake; read by cmake/sign-image.\n")
    foreach(pair IN ITEMS pkcs12=QG_SIGNING_PKCS12 password_file=QG_SIGNING_PASSWORD_FILE
                          pkcs11_module=QG_SIGNING_PKCS11_MODULE pkcs11_key=QG_SIGNING_PKCS11_KEY
                          cert=QG_SIGNING_CERT pin_file=QG_SIGNING_PIN_FILE
                          timestamp_url=QG_TIMESTAMP_URL)
        string(REPLACE "=" ";" pair "${pair}")
        list(GET pair 0 name)
        list(GET pair 1 variable)
        qg_shell_quote(quoted "${${variable}}")
        string(APPEND settings "${name}=${quoted}\n")
    endforeach()
    file(WRITE ${QG_SIGNING_CONFIG} "${settings}")
endif()

# Drivers signed elsewhere, for a release: Microsoft's signature, which Windows
# requires of a kernel driver, comes back on the submitted image, and that image is
# carried and shipped byte for byte instead of the build's own.
set(QG_RELEASE_DRIVER_X64 "" CACHE FILEPATH "x64 quilldrv.sys signed by Microsoft; empty: the build's own")
set(QG_RELEASE_DRIVER_X86 "" CACHE FILEPATH "x86 quilldrv.sys signed by Microsoft; empty: the build's own")
find_program(QG_PE_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
foreach(arch IN ITEMS x64 x86)
    string(TOUPPER ${arch} upper)
    set(driver ${QG_RELEASE_DRIVER_${upper}})
    if(driver)
        execute_process(COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-release-driver ${QG_PE_OBJDUMP}
                                ${driver} ${arch} ${CMAKE_SOURCE_DIR}/driver/quilldrv.rc
                        RESULT_VARIABLE refused ERROR_VARIABLE why OUTPUT_QUIET)
        if(refused)
            message(FATAL_ERROR "QG_RELEASE_DRIVER_${upper}: ${why}")
        endif()
    endif()
endforeach()

# What a sub-build needs to sign alike and to carry the same drivers.
set(QG_SIGNING_ARGS -DQG_SIGNING_CONFIG=${QG_SIGNING_CONFIG} -DQG_SIGNING_ROOT=${QG_SIGNING_ROOT}
                    -DQG_RELEASE_DRIVER_X64=${QG_RELEASE_DRIVER_X64}
                    -DQG_RELEASE_DRIVER_X86=${QG_RELEASE_DRIVER_X86})

# qg_sign(target): signs the linked image in place. Call it after any step that
# changes the image (the checksum) and before any step that copies it (dist/, a
# carrier's resource): POST_BUILD commands run in the order they were added.
# osslsigncode sets the checksum of the signed image.
function(qg_sign target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_SOURCE_DIR}/cmake/sign-image ${QG_OSSLSIGNCODE} ${QG_SIGNING_CONFIG}
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()

# qg_ship(target): a program of dist/: copied there once signed.
function(qg_ship target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QG_DIST_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${QG_DIST_DIR}/
        VERBATIM)
endfunction()
