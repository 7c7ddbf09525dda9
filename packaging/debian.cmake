# The Debian packages, made by CPack from the install components:
#   libsearchdevice1     the engine library (named after its soname)
#   libsearchdevice-dev  its headers, .so link, pkg-config file and CMake package
#   nasscout             the window, nasscout-cli, nasscout-sim, nasscout-lab,
#                        desktop entry, icons, metainfo, manual pages, firewall
#                        profiles; its post-install script lets the window and
#                        nasscout-cli bind port 67
# `make package` configures a build for them (scripts/build-packages.sh).

# Debian's paths (lib/<multiarch>, /etc) come from GNUInstallDirs only with
# the prefix /usr, so other builds get no packages.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  add_custom_target(package
    COMMAND ${CMAKE_COMMAND} -E echo "Debian packages need -DCMAKE_INSTALL_PREFIX=/usr; 'make package' configures such a build"
    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()

set(deb_library_package libsearchdevice${SEARCHDEVICE_SOVERSION})
set(deb_development_package libsearchdevice-dev)
set(deb_programs_package nasscout)

# Every package carries the copyright file and the changelog in its doc folder.
set(deb_changelog ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${deb_changelog}
  COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/changelog > ${deb_changelog}
  DEPENDS packaging/debian/changelog VERBATIM)
add_custom_target(nasscout_deb_changelog ALL DEPENDS ${deb_changelog})
foreach(pair IN ITEMS "Library;${deb_library_package}" "Development;${deb_development_package}"
                      "Programs;${deb_programs_package}")
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES packaging/debian/copyright ${deb_changelog}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# The trigger has dpkg run ldconfig once, after all the packages it unpacks.
# CPack adds an ldconfig call to the library's own scripts as well (it has no
# setting against it); running it twice does no harm.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/library/triggers "activate-noawait ldconfig\n")
configure_file(packaging/debian/postinst.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/postinst @ONLY)
# ufw reads its application profiles from /etc, so dpkg keeps the file as a conffile.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/ufw/applications.d/nasscout\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nasscout)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "nasscout developers")
set(CPACK_PACKAGE_CONTACT "nasscout developers <nasscout@users.noreply.github.com>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Library Development Programs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://nasscout.github.io")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Dependencies on other packages come from the linked libraries
# (dpkg-shlibdeps); the ones between these packages from the components.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
get_target_property(engine_build_dir searchdevice BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${engine_build_dir})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Library)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS Library)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${deb_library_package})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # only the library package has one
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/packaging/library/triggers)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "finds NAS devices on the local network (library)
The discovery engine of nasscout: a broadcast search, a multicast search and
one search per local IPv4 address, each on a thread of its own, behind three
C calls and a callback for every device found.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${deb_development_package})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_RECOMMENDS pkg-config)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "finds NAS devices on the local network (development files)
The discovery engine of nasscout: a broadcast search, a multicast search and
one search per local IPv4 address, each on a thread of its own, behind three
C calls and a callback for every device found.
.
This package holds the C headers, the pkg-config file (searchdevice) and the
CMake package (find_package(searchdevice)).")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${deb_programs_package})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION net)
# setcap in the post-install script; xdg-open opens a device's web page and
# share; nasscout-lab builds its networks with ip; --all-makes finds NAS
# devices of other makes through avahi-daemon (libavahi-client3 comes from
# dpkg-shlibdeps).
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS libcap2-bin)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "xdg-utils, iproute2, avahi-daemon")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SUGGESTS "fonts-noto-core, fonts-noto-cjk, ufw | firewalld")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/postinst ${CMAKE_CURRENT_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "finds NAS devices on the local network
nasscout lists the network-attached storage devices on the local network and
opens the one picked: its web page or its file share. It searches on every
network card at once, by broadcast, by multicast and from each local IPv4
address, and shows each device as its answer arrives.
.
The package holds the window (nasscout), the same search in a terminal
(nasscout-cli), and tools to try it on simulated devices without touching a
real network (nasscout-sim, nasscout-lab). A small helper that loads only
libc holds the capability to bind port 67 for the broadcast search and hands
the socket to the window and nasscout-cli, which hold no privilege; ufw and
firewalld profiles open the ports that answers come back to.")

include(CPack)
