# What the Debian package of omk-setup holds, and how CPack makes it (scripts/package runs
# cpack in a release build): the program in /usr/bin, stripped; the file-backed registry's
# root and the suite's ProgramData folder, owned by root and writable only by it (the setup
# runs elevated; a folder others could write to would let them plant uninstall or App Paths
# keys for it); its library dependencies from dpkg-shlibdeps. No test or development tool is
# installed.
set(OMK_PACKAGE_MAINTAINER "Quarro Omnikit setup <setup@quarro.example>" CACHE STRING
    "Maintainer field of the Debian package")

set(omk_dir_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS omk-setup RUNTIME DESTINATION bin)
# The same folders as platform/registry.cpp and platform/environment.cpp use.
install(DIRECTORY DESTINATION /var/lib/omk/registry DIRECTORY_PERMISSIONS ${omk_dir_mode})
install(DIRECTORY DESTINATION /var/lib/Quarro DIRECTORY_PERMISSIONS ${omk_dir_mode})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME omk-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web setup of the Quarro Omnikit suite")
set(CPACK_PACKAGE_DESCRIPTION "Shows the installer page, fetches the suite's product installer, checks its digest and signer, and runs it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${omk_dir_mode})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # omk-setup_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OMK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
