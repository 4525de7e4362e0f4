# The publisher's Ed25519 public key the updater checks packages against,
# fixed when the program is built: the base64 text of its 32 raw bytes, as
#   openssl pkey -in key.pem -pubout -outform DER | tail -c 32 | base64
# prints it. Empty: packages are installed without a signature check.
#
# Also runs as a script, for the tests of this check:
#   cmake -DMORVANE_PACKAGE_KEY=<text> -P cmake/PackageKey.cmake

function(check_package_key key)
    if(key STREQUAL "")
        return()
    endif()
    # 32 bytes are 43 base64 characters and one "=": the last character
    # carries two bits that must be zero.
    string(LENGTH "${key}" length)
    if(NOT length EQUAL 44 OR NOT key MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$")
        message(FATAL_ERROR
            "MORVANE_PACKAGE_KEY is not an Ed25519 public key: it must be the base64 text "
            "of 32 bytes (44 characters ending in \"=\"), as printed by\n"
            "  openssl pkey -in key.pem -pubout -outform DER | tail -c 32 | base64\n"
            "Leave it empty to build an updater that installs unsigned packages.")
    endif()
endfunction()

# Root keys instead of the one key: each an Ed25519 public key as above,
# distinct, and a threshold from 1 to their number.
function(check_root_keys keys threshold packageKey)
    if(keys STREQUAL "")
        return()
    endif()
    if(NOT packageKey STREQUAL "")
        message(FATAL_ERROR "Give MORVANE_ROOT_KEYS or MORVANE_PACKAGE_KEY, not both.")
    endif()
    string(REPLACE "," ";" list "${keys}")
    list(LENGTH list count)
    list(REMOVE_DUPLICATES list)
    list(LENGTH list distinct)
    if(NOT count EQUAL distinct)
        message(FATAL_ERROR "MORVANE_ROOT_KEYS names a key twice.")
    endif()
    foreach(key IN LISTS list)
        check_package_key("${key}")
    endforeach()
    if(NOT threshold MATCHES "^[1-9][0-9]*$" OR threshold GREATER count)
        message(FATAL_ERROR
            "MORVANE_ROOT_THRESHOLD must be from 1 to the number of root keys (${count}).")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    check_package_key("${MORVANE_PACKAGE_KEY}")
endif()
