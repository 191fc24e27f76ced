# System installation: the library with its header and pkg-config file, the
# two programs (lensmere with its desktop entry and icon) and the udev rule
# that lets the user at the seat open the camera.
#
#   cmake --install build [--prefix DIR]
#
# Every target is optional: a tree configured without the program (or before
# a part exists) installs the rest.

set(QUORBIT_UDEV_RULES_DIR "" CACHE STRING
    "Where the camera's udev rule goes (absolute, or relative to the prefix). Empty: \
<prefix>/lib/udev/rules.d, except /etc/udev/rules.d for the prefix /usr/local, which udev does not read")

set(_quorbit_packaging ${PROJECT_SOURCE_DIR}/packaging)

if(TARGET quorbit)
    install(TARGETS quorbit LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/cardlib/quorbit.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

    # The .pc file names the prefix it is installed under (prefix=/usr in
    # the Debian package), as it is at install time: `cmake --install
    # --prefix DIR` gets a .pc of its own; DESTDIR does not change it.
    install(CODE "
        set(QUORBIT_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
        set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
        set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
        set(PROJECT_VERSION \"${PROJECT_VERSION}\")
        configure_file(\"${_quorbit_packaging}/quorbit.pc.in\"
                       \"${PROJECT_BINARY_DIR}/packaging/quorbit.pc\" @ONLY)
        file(INSTALL \"${PROJECT_BINARY_DIR}/packaging/quorbit.pc\"
             DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
    ")
endif()

# tools/ installs quorbit-cli as well; installing it twice is harmless.
if(TARGET quorbit-cli)
    install(TARGETS quorbit-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The simulated camera, for trying the programs without the hardware.
if(TARGET camsim)
    install(TARGETS camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(TARGET lensmere)
    # Its desktop entry, metainfo and icon: packaging/CMakeLists.txt.
    install(TARGETS lensmere RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# A udev rule: where it goes is decided at install time, when the prefix is final.
function(quorbit_install_udev_rule rule)
    if(QUORBIT_UDEV_RULES_DIR)
        install(FILES ${_quorbit_packaging}/${rule} DESTINATION ${QUORBIT_UDEV_RULES_DIR})
    else()
        install(CODE "
            if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr/local\")
                set(_quorbit_rules_dir \"/etc/udev/rules.d\")
            else()
                set(_quorbit_rules_dir \"\${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d\")
            endif()
            file(INSTALL \"${_quorbit_packaging}/${rule}\" DESTINATION \"\${_quorbit_rules_dir}\")
        ")
    endif()
endfunction()

quorbit_install_udev_rule(70-quorbit-camera.rules)
# The hardware the rule is for, told to software centres (AppStream modalias).
install(FILES ${_quorbit_packaging}/org.quorbit.udev.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The libgphoto2 camera driver and the udev rule that marks the camera as one
# for libgphoto2. libgphoto2 loads drivers from its own folder only; with the
# default prefix /usr/local the driver goes there (as the udev rule goes to
# /etc), under any other prefix to the same path below that prefix.
if(TARGET gphoto_quorbit)
    set(_quorbit_driver_dir "${QUORBIT_GPHOTO_DRIVER_DIR}")
    if(NOT _quorbit_driver_dir)
        message(FATAL_ERROR "libgphoto2's driver folder is unknown (pkg-config libgphoto2 driverdir)")
    endif()
    string(REGEX REPLACE "^/usr/" "" _quorbit_driver_rel "${_quorbit_driver_dir}")
    install(CODE "
        if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr/local\")
            set(_quorbit_driver_dest \"${_quorbit_driver_dir}\")
        else()
            set(_quorbit_driver_dest \"\${CMAKE_INSTALL_PREFIX}/${_quorbit_driver_rel}\")
        endif()
        file(INSTALL \"$<TARGET_FILE:gphoto_quorbit>\" DESTINATION \"\${_quorbit_driver_dest}\"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    ")
    quorbit_install_udev_rule(70-quorbit-gphoto2.rules)
    install(FILES ${_quorbit_packaging}/org.quorbit.gphoto2.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The install test: the tree above, installed into a scratch prefix, must
# be complete and usable.
set(_quorbit_expected lib/udev/rules.d/70-quorbit-camera.rules
    ${CMAKE_INSTALL_DATADIR}/metainfo/org.quorbit.udev.metainfo.xml)
if(TARGET quorbit)
    list(APPEND _quorbit_expected ${CMAKE_INSTALL_LIBDIR}/libquorbit.so
         ${CMAKE_INSTALL_LIBDIR}/libquorbit.so.1
         ${CMAKE_INSTALL_INCLUDEDIR}/quorbit.h ${CMAKE_INSTALL_LIBDIR}/pkgconfig/quorbit.pc)
endif()
if(TARGET quorbit-cli)
    list(APPEND _quorbit_expected ${CMAKE_INSTALL_BINDIR}/quorbit-cli
         ${CMAKE_INSTALL_MANDIR}/man1/quorbit-cli.1
         ${CMAKE_INSTALL_DATADIR}/bash-completion/completions/quorbit-cli)
endif()
if(TARGET camsim)
    list(APPEND _quorbit_expected ${CMAKE_INSTALL_BINDIR}/camsim
         ${CMAKE_INSTALL_MANDIR}/man1/camsim.1
         ${CMAKE_INSTALL_DATADIR}/bash-completion/completions/camsim)
endif()
if(TARGET gphoto_quorbit)
    list(APPEND _quorbit_expected ${_quorbit_driver_rel}/quorbit.so
         lib/udev/rules.d/70-quorbit-gphoto2.rules
         ${CMAKE_INSTALL_DATADIR}/metainfo/org.quorbit.gphoto2.metainfo.xml)
endif()
if(TARGET lensmere)
    list(APPEND _quorbit_expected ${CMAKE_INSTALL_BINDIR}/lensmere
         ${CMAKE_INSTALL_DATADIR}/applications/org.quorbit.Lensmere.desktop
         ${CMAKE_INSTALL_DATADIR}/metainfo/org.quorbit.Lensmere.metainfo.xml
         ${CMAKE_INSTALL_MANDIR}/man1/lensmere.1
         ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps/lensmere.svg)
endif()
if(BUILD_TESTING AND NOT QUORBIT_UDEV_RULES_DIR)
    add_test(NAME install_tree
             COMMAND ${CMAKE_COMMAND}
                 -DBUILD_DIR=${PROJECT_BINARY_DIR}
                 -DWORK_DIR=${PROJECT_BINARY_DIR}/install-test
                 -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                 -DC_COMPILER=${CMAKE_C_COMPILER}
                 -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
                 -DSANITIZE=${QUORBIT_SANITIZE}
                 -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
                 "-DEXPECTED=${_quorbit_expected}"
                 -P ${PROJECT_SOURCE_DIR}/packaging/tests/install_test.cmake)
    set_tests_properties(install_tree PROPERTIES TIMEOUT 120 LABELS install)
endif()
