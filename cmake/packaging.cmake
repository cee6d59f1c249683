# A Debian package of everything that is installed: `cpack -G DEB` in a build
# folder writes marovetin_<version>_<arch>.deb there.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marovetin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "marovetin")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client updater and pack file system tools")
set(CPACK_PACKAGE_DESCRIPTION
    "marovetin brings delivered update files into a client installation: loose files\n"
    "and files stored in a set of pack volumes. pkfs lists, reads, fills, checks and\n"
    "compacts such sets; marovetin-mkupdate makes the update that turns one\n"
    "installation into another. The pack file system library and its headers are\n"
    "included.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "marovetin developers <marovetin@localhost>")
# The programs link libbz2 and the C++ runtime; dpkg-shlibdeps names the
# exact packages when it is installed, else the two are named here.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libbz2-1.0, libstdc++6")
endif()
# The progress window on a desktop loads GTK 3 when it is there; a machine
# without a desktop needs none of it.
if(MAROVETIN_GTK AND NOT WIN32)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libgtk-3-0")
endif()
include(CPack)
