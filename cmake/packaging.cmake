# Installation and the Debian packages: bootloaderzl (the windows and bzl, the desktop entries,
# icons, man pages, udev rules) and bootloaderzl-sim (zlsim and zlfw). The version is the
# project version of the top-level CMakeLists.txt; nothing here repeats it.
#
#   cmake -B build-pkg -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr && cmake --build build-pkg
#   cd build-pkg && cpack -G DEB         (tools/package.sh does this and checks the result)

include(GNUInstallDirs)

set(BZL_APP_ID com.hallwyn.BootloaderZL)
set(BZL_DEB_PACKAGE bootloaderzl)
set(BZL_PACKAGE_MAINTAINER "Hallwyn BootloaderZL team <bootloaderzl@hallwyn.com>"
    CACHE STRING "Maintainer field of the Debian packages")
# Udev's rules directory on Debian (outside the install prefix, as udev's own rules are).
set(BZL_UDEV_RULES_DIR /lib/udev/rules.d CACHE PATH "Where the udev rules are installed")

set(bzl_pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(bzl_pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${bzl_pkg_out})

# The release date: the time of the build, or SOURCE_DATE_EPOCH for a reproducible one.
string(TIMESTAMP BZL_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP bzl_weekday "%a" UTC)
string(TIMESTAMP bzl_day_time "%d %b %Y %H:%M:%S" UTC)
set(BZL_RELEASE_DATE_RFC2822 "${bzl_weekday}, ${bzl_day_time} +0000")

configure_file(${bzl_pkg_src}/${BZL_APP_ID}.metainfo.xml.in ${bzl_pkg_out}/${BZL_APP_ID}.metainfo.xml @ONLY)

# Man pages and changelogs go in compressed, as Debian policy wants (gzip -n: no name or
# time in the header, so the same input gives the same bytes).
set(bzl_gz_files)
function(bzl_gzip src dst)
  add_custom_command(OUTPUT ${dst} COMMAND gzip -9nc ${src} > ${dst} DEPENDS ${src} VERBATIM)
  set(bzl_gz_files ${bzl_gz_files} ${dst} PARENT_SCOPE)
endfunction()

foreach(page BootloaderZL BootloaderZL-Stations bzl zlsim)
  bzl_gzip(${bzl_pkg_src}/man/${page}.1 ${bzl_pkg_out}/${page}.1.gz)
endforeach()
foreach(pkg ${BZL_DEB_PACKAGE} ${BZL_DEB_PACKAGE}-sim)
  set(BZL_CHANGELOG_PACKAGE ${pkg})
  configure_file(${bzl_pkg_src}/changelog.in ${bzl_pkg_out}/${pkg}/changelog @ONLY)
  bzl_gzip(${bzl_pkg_out}/${pkg}/changelog ${bzl_pkg_out}/${pkg}/changelog.gz)
endforeach()
# zlfw is documented in zlsim(1).
file(CREATE_LINK zlsim.1.gz ${bzl_pkg_out}/zlfw.1.gz SYMBOLIC)
add_custom_target(bzl_package_files ALL DEPENDS ${bzl_gz_files})

# --- bootloaderzl: the window, bzl and what makes them at home on a desktop ---
if(TARGET BootloaderZL)
  install(TARGETS BootloaderZL RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT main)
endif()
if(TARGET BootloaderZL-Stations)
  install(TARGETS BootloaderZL-Stations RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT main)
  install(FILES ${bzl_pkg_out}/BootloaderZL-Stations.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT main)
  install(FILES ${bzl_pkg_src}/${BZL_APP_ID}.Stations.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT main)
endif()
if(TARGET bzl)
  install(TARGETS bzl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT main)
  install(FILES ${bzl_pkg_out}/bzl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT main)
  # bzl collect --follow as a service (arguments in /etc/default/bzl-collect); not enabled.
  install(FILES ${bzl_pkg_src}/bzl-collect.service DESTINATION /lib/systemd/system COMPONENT main)
endif()
install(FILES ${bzl_pkg_src}/${BZL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT main)
install(FILES ${bzl_pkg_out}/${BZL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT main)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${bzl_pkg_src}/icons/hicolor/${size}x${size}/${BZL_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT main)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/res/icon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${BZL_APP_ID}.svg COMPONENT main)
install(FILES ${bzl_pkg_out}/BootloaderZL.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT main)
install(FILES ${bzl_pkg_src}/70-bootloaderzl-serial.rules DESTINATION ${BZL_UDEV_RULES_DIR} COMPONENT main)
install(FILES ${bzl_pkg_src}/copyright ${bzl_pkg_out}/${BZL_DEB_PACKAGE}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${BZL_DEB_PACKAGE} COMPONENT main)

# --- bootloaderzl-sim: the simulated device and its firmware maker ---
foreach(tool zlsim zlfw)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
  endif()
endforeach()
install(FILES ${bzl_pkg_out}/zlsim.1.gz ${bzl_pkg_out}/zlfw.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)
install(FILES ${bzl_pkg_src}/copyright ${bzl_pkg_out}/${BZL_DEB_PACKAGE}-sim/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${BZL_DEB_PACKAGE}-sim COMPONENT sim)

# --- CPack: one .deb per component ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${BZL_DEB_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Hallwyn)
set(CPACK_PACKAGE_CONTACT ${BZL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL main sim)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BZL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_MAIN_PACKAGE_NAME ${BZL_DEB_PACKAGE})
set(CPACK_DEBIAN_MAIN_PACKAGE_SECTION electronics)
# The German buttons of the toolkit's own dialogs come from Qt's translations.
set(CPACK_DEBIAN_MAIN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_COMPONENT_MAIN_DESCRIPTION
    "load firmware into ZL devices over a serial port
BootloaderZL floods a serial line with the wake-up string of the ZL
bootloaders, catches a device's bootloader when the device is switched on
and shows what the device reports. It loads a firmware file into every
suitable device switched on at the port, reads a device's flash back into
a file, or has the device compare a file with its flash.

The package holds the window (German and English), the command line tool
bzl for scripts and test stations, and udev rules that keep ModemManager
off USB serial adapters and let the user at the seat open them.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME ${BZL_DEB_PACKAGE}-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_SIM_PACKAGE_SUGGESTS ${BZL_DEB_PACKAGE})
set(CPACK_COMPONENT_SIM_DESCRIPTION
    "simulated ZL device for trying BootloaderZL without hardware
zlsim is a ZL device of either kind (PIC32 or HCS) on a pseudo-terminal,
published as a COM port for BootloaderZL and bzl: it switches on and off on
command, loads, reads back and compares its flash at the line rate, and
can inject faults. zlfw makes firmware files for it.")

include(CPack)
