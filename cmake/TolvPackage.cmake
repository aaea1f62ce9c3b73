# The Debian package, made by CPack from the install rules: "cpack" in the
# build folder (./dev.sh package) writes tolvpack_VERSION_ARCH.deb there.
#
# The programs are built as the build folder is configured (RelWithDebInfo
# by default: -O2 with debugging information) and stripped into the package.
# The package needs what dpkg-shlibdeps finds the programs linked against.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TolvPack developers")
set(CPACK_PACKAGE_CONTACT "TolvPack developers <tolvpack@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "memory images of Topfield receivers: convert, back up, restore")
set(CPACK_PACKAGE_DESCRIPTION
    "TolvPack takes the memory of a Topfield satellite, terrestrial or cable
receiver (Toppy) apart and puts it together again: loader, firmware, flash
settings, EEPROM, factory defaults and background picture. It converts them
between component BIN files, flash dumps, flash block files, STD files and
TFD files, and fetches them from a receiver or sends them back, over USB or
a serial line.

The package holds the window TolvPack, the command-line tool tolv, the
receiver emulator toppy-sim, and a udev rule that gives the user at the seat
access to a receiver on USB.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# toppy-sim --usb puts the emulated receiver on a USB bus with umockdev.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS umockdev)
# postinst makes udev take the rule at once, also for a receiver already
# plugged in. Removal needs no script: udev notices a rule file that is gone
# by itself, and a reload would not change a device already set up; without
# a postrm, "apt remove" leaves nothing behind.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
