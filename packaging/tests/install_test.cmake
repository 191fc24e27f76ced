# Installs the build tree into a scratch prefix and checks that the result is
# usable: every file where it belongs, a host program compiles and links
# against the library through pkg-config and runs, and the udev rule lands
# where udev reads it.
#
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DC_COMPILER=... -DCXX_COMPILER=... -DSANITIZE=ON|OFF
#       -DLIBDIR=... -DEXPECTED="rel;paths" -DSOURCE_DIR=... -P install_test.cmake

cmake_minimum_required(VERSION 3.25)

function(fail)
    message(FATAL_ERROR "install test: ${ARGN}")
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    fail("cmake --install failed (${rc}):\n${out}\n${err}")
endif()

foreach(rel IN LISTS EXPECTED)
    if(NOT EXISTS "${prefix}/${rel}")
        fail("${rel} was not installed")
    endif()
endforeach()

# Nothing of the build tree may leak into the install.
file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
foreach(rel IN LISTS installed)
    if(rel MATCHES "(CMakeFiles|_autogen|\\.o$|\\.a$|_test)")
        fail("build artefact installed: ${rel}")
    endif()
endforeach()

file(READ "${prefix}/lib/udev/rules.d/70-quorbit-camera.rules" rule)
foreach(needle "ATTR{idVendor}==\"5a17\"" "ATTR{idProduct}==\"c3e2\"" "TAG+=\"uaccess\"")
    string(FIND "${rule}" "${needle}" at)
    if(at LESS 0)
        fail("the udev rule lacks ${needle}")
    endif()
endforeach()

if("lib/udev/rules.d/70-quorbit-gphoto2.rules" IN_LIST EXPECTED)
    file(READ "${prefix}/lib/udev/rules.d/70-quorbit-gphoto2.rules" rule)
    foreach(needle "ATTR{idVendor}==\"5a17\"" "ATTR{idProduct}==\"c3e2\""
                   "ENV{ID_GPHOTO2}=\"1\"")
        string(FIND "${rule}" "${needle}" at)
        if(at LESS 0)
            fail("the libgphoto2 udev rule lacks ${needle}")
        endif()
    endforeach()
endif()

# udev's names for the camera come from the hardware database file: it must
# compile and give the driver's vendor and model.
if("lib/udev/hwdb.d/70-quorbit-camera.hwdb" IN_LIST EXPECTED)
    find_program(SYSTEMD_HWDB systemd-hwdb)
    if(NOT SYSTEMD_HWDB)
        fail("systemd-hwdb is missing (Debian package udev)")
    endif()
    set(hwdb_root "${WORK_DIR}/hwdb-root")
    file(COPY "${prefix}/lib/udev/hwdb.d/70-quorbit-camera.hwdb"
         DESTINATION "${hwdb_root}/lib/udev/hwdb.d")
    execute_process(COMMAND "${SYSTEMD_HWDB}" --root=${hwdb_root} update --strict
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        fail("the hardware database file does not compile: ${err}")
    endif()
    execute_process(COMMAND "${SYSTEMD_HWDB}" --root=${hwdb_root} query usb:v5A17pC3E2d0100
                    OUTPUT_VARIABLE names)
    foreach(needle "ID_VENDOR_FROM_DATABASE=Orvanta" "ID_MODEL_FROM_DATABASE=Photo Camera")
        string(FIND "${names}" "${needle}" at)
        if(at LESS 0)
            fail("udev's names for 5a17:c3e2 lack ${needle}: ${names}")
        endif()
    endforeach()
endif()

if("${LIBDIR}/libquorbit.so" IN_LIST EXPECTED)
    find_program(PKG_CONFIG pkg-config)
    if(NOT PKG_CONFIG)
        fail("pkg-config is missing")
    endif()
    set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
    execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs quorbit
                    RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
        fail("pkg-config does not know quorbit")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(compiler "${C_COMPILER}")
    set(sanitize "")
    if(SANITIZE)
        # The library of a sanitizer build needs the sanitizer runtimes, the
        # C++ parts included, in the program: link with the C++ driver.
        set(compiler "${CXX_COMPILER}")
        set(sanitize -fsanitize=address,undefined -x c)
    endif()
    set(host "${WORK_DIR}/host_program")
    execute_process(COMMAND "${compiler}" ${sanitize} "${SOURCE_DIR}/packaging/tests/host_program.c" -x none
                            ${flags} "-Wl,-rpath,${prefix}/${LIBDIR}" -o "${host}"
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        fail("a host program does not build against the install: ${err}")
    endif()
    set(ENV{CAMSIM_DIR} "${WORK_DIR}/no-cameras")
    file(MAKE_DIRECTORY "$ENV{CAMSIM_DIR}")
    execute_process(COMMAND "${host}" RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        fail("the host program failed (${rc}): ${err}")
    endif()
endif()

# The default prefix is one udev does not read rules from: the rule goes to
# /etc there (seen through DESTDIR).
set(ENV{DESTDIR} "${WORK_DIR}/destdir")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix /usr/local
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
unset(ENV{DESTDIR})
if(NOT rc EQUAL 0)
    fail("DESTDIR install failed: ${err}")
endif()
if(NOT EXISTS "${WORK_DIR}/destdir/etc/udev/rules.d/70-quorbit-camera.rules")
    fail("with the prefix /usr/local the udev rule is not in /etc/udev/rules.d")
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
