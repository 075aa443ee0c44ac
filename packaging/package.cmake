# What an installed Lumora holds beside the program, and the Debian package made of it
# (`cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr; scripts/package does it).
include(GNUInstallDirs)

set(LUMORA_APP_ID "io.lumora.Lumora")
set(LUMORA_PACKAGE_MAINTAINER "Lumora maintainers <maintainers@lumora.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
configure_file(${pkg_src}/lumora.metainfo.xml.in ${pkg_out}/${LUMORA_APP_ID}.metainfo.xml @ONLY)
configure_file(${pkg_src}/lumora.1.in ${pkg_out}/lumora.1 @ONLY)
configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)

# Debian keeps manual pages and changelogs compressed; -n leaves the time out of the header so
# the same sources give the same package.
add_custom_command(OUTPUT ${pkg_out}/lumora.1.gz ${pkg_out}/changelog.gz
    COMMAND gzip -9nkf ${pkg_out}/lumora.1 ${pkg_out}/changelog
    DEPENDS ${pkg_out}/lumora.1 ${pkg_out}/changelog
    COMMENT "Compressing the manual page and the changelog")
add_custom_target(lumora_package_docs ALL DEPENDS ${pkg_out}/lumora.1.gz ${pkg_out}/changelog.gz)

install(FILES ${pkg_out}/${LUMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${pkg_out}/lumora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg_out}/changelog.gz ${pkg_src}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lumora)

# Directories in the package are 0755 whatever the umask of the person building it.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${LUMORA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screenshot utility driven by PrintScreen and Insert")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumora captures the whole primary screen when PrintScreen is pressed and the
window that has the focus when Insert is pressed, whichever program that is.
Each capture is written at once, as a numbered or time-stamped BMP, JPG or PNG
file, into the chosen folder. It can also capture at listed times of day and
every N seconds, play a shutter sound and scale captures to a fixed size.
It lives in the tray while its window is hidden; its windows are in Chinese.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not found by dpkg-shlibdeps: the xcb platform plugin Qt loads at run time, the Chinese font
# the windows are drawn with, and Qt's own translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei, qt6-translations-l10n")
# In a Wayland session every capture goes through the desktop portal; each desktop brings the
# backend that serves it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-desktop-portal")
include(CPack)
