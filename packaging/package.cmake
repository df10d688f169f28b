# The Debian package of the suite (scripts/package.sh runs `cpack -G DEB` in a Release
# build configured with the prefix /usr). One package holds the whole "suite" component.

set(CPACK_PACKAGE_NAME zelin-suite)
set(CPACK_PACKAGE_VENDOR "Zelin suite developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "management suite for serial device servers")
# Lines of at most 72 characters: the package tools show them as they are.
set(CPACK_PACKAGE_DESCRIPTION
    "Tools to find, configure, test and watch networked serial device\nservers, the boxes with 4, 8 or 16 serial ports that carry serial\ntraffic over TCP/IP: the server manager (srvmanager), the port status\nmonitor (monitor), the diagnostic program (portcheck), command-line\naccess to the same functions (zelinctl) and an emulator of device\nservers on loopback addresses (devsim).")
set(ZELIN_PACKAGE_MAINTAINER "Zelin suite developers <zelin-suite@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${ZELIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL suite)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME zelin-suite)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Dependencies come from the binaries' needs; dpkg-shlibdeps looks for the private
# libraries in their folder inside the package tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${ZELIN_PRIVATE_LIBDIR}")
# The Qt programs draw through a platform plugin, which no linked library names.
if(ZELIN_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
