# What the Debian package of omk-setup holds, and how CPack makes it (scripts/package runs
# cpack in a release build): the program in /usr/bin, stripped; the file-backed registry's
# root and the suite's ProgramData folder, owned by root and writable only by it (the setup
# runs elevated; a folder others could write to would let them plant uninstall or App Paths
# keys for it); its library dependencies from dpkg-shlibdeps. No test or development tool is
# installed. The window's libraries (GTK, WebKitGTK, GLib) are loaded only when a window shows,
# so omk-setup does not name them: the dependencies are read from the same program linked
# directly (target omk_package_depends, which cpack needs built first).
set(OMK_PACKAGE_MAINTAINER "Quarro Omnikit setup <setup@quarro.example>" CACHE STRING
    "Maintainer field of the Debian package")

set(omk_dir_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS omk-setup RUNTIME DESTINATION bin)
# The same folders as platform/registry.cpp and platform/environment.cpp use.
install(DIRECTORY DESTINATION /var/lib/omk/registry DIRECTORY_PERMISSIONS ${omk_dir_mode})
install(DIRECTORY DESTINATION /var/lib/Quarro DIRECTORY_PERMISSIONS ${omk_dir_mode})

# The same program linked directly with every library: its dependencies, as dpkg-shlibdeps
# works them out from the functions it calls, are the package's.
omk_setup_program(omk-setup-linked LINKED)
set_target_properties(omk-setup-linked PROPERTIES EXCLUDE_FROM_ALL ON)
find_program(OMK_DPKG_SHLIBDEPS dpkg-shlibdeps REQUIRED)
set(omk_depends ${PROJECT_BINARY_DIR}/package_depends.txt)
set(omk_shlibdeps_dir ${PROJECT_BINARY_DIR}/package_shlibdeps)
add_custom_command(OUTPUT ${omk_depends}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${omk_shlibdeps_dir}/debian
  COMMAND ${CMAKE_COMMAND} -E touch ${omk_shlibdeps_dir}/debian/control
  # Its notes on the program's location and on unused libraries go to a log.
  COMMAND sh -c "cd '${omk_shlibdeps_dir}' && '${OMK_DPKG_SHLIBDEPS}' -O -e '$<TARGET_FILE:omk-setup-linked>' >'${omk_depends}' 2>shlibdeps.log"
  DEPENDS omk-setup-linked
  COMMENT "Finding the package's dependencies"
  VERBATIM)
add_custom_target(omk_package_depends DEPENDS ${omk_depends})
# Read when cpack runs: "shlibs:Depends=a (>= 1), b".
set(omk_cpack_project_config ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${omk_cpack_project_config} CONTENT [=[
file(READ "@omk_depends@" omk_depends)
string(REGEX REPLACE "^shlibs:Depends=" "" omk_depends "${omk_depends}")
string(STRIP "${omk_depends}" CPACK_DEBIAN_PACKAGE_DEPENDS)
]=] @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${omk_cpack_project_config})

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
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
