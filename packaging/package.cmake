# The Debian package "rfgen": the front panel, the command-line tool, the
# testbed with simulated instruments and the device library they share.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rfgen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "rfgen developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Front panel for laboratory RF signal generators")
set(CPACK_PACKAGE_DESCRIPTION
    "rfpanel shows the front panel of an RF signal generator attached to a\n"
    "serial (USB virtual COM) port and sets its frequency, level, step sizes\n"
    "and frequency sweep. rfgen lists, queries and sets instruments from the\n"
    "command line and serves them to remote-control clients over TCP.\n"
    "rfgen-testbed runs either program with simulated instruments, so both\n"
    "can be tried without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "rfgen developers <rfgen-dev@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON) # debug information stays in the build tree
# Library dependencies come from dpkg-shlibdeps (libumockdev0 among them: the
# testbed links it). umockdev-wrapper, which only the testbed starts, by its
# path, is recommended: the panel and rfgen run without it. So is rpcbind:
# VXI-11 clients find rfgen serve --vxi11 through it. And avahi-daemon, through
# which rfgen serve --announce makes the instruments known on the LAN.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "umockdev, rpcbind, avahi-daemon")
# cpack installs what is built and does not rebuild the tree first; the test
# that builds the package runs while other tests use the build tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
