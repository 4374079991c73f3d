# What `cmake --install` lays out, and the Debian package CPack makes of it (`cpack -G DEB`).
include(GNUInstallDirs)

set(PELORIN_INSTALLED_TOOLS pelorin-phone pelorin-reconstruct pelorin-convert)
if(PELORIN_BUILD_APP)
  list(PREPEND PELORIN_INSTALLED_TOOLS pelorin-studio)
endif()
install(TARGETS ${PELORIN_INSTALLED_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The studio looks for its sample set in ../share/pelorin-studio beside its executable.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/resources/Sample Photos Statue"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pelorin-studio)

set(linux_files ${PROJECT_SOURCE_DIR}/resources/linux)
install(FILES ${linux_files}/org.pelorin.Studio.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${linux_files}/org.pelorin.Studio.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${linux_files}/org.pelorin.Studio.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${linux_files}/org.pelorin.Studio.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorin-studio)
set(CPACK_PACKAGE_VENDOR "Pelorin Labs Ltd")
set(CPACK_PACKAGE_CONTACT "Pelorin Labs Ltd <support@pelorin.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns overlapping photos of an object into a textured 3D model")
set(CPACK_PACKAGE_DESCRIPTION
  "Pelorin Studio builds a textured 3D model from overlapping photos of one object, entirely on \
this computer: photos from a paired phone, a folder or the built-in sample set become USDZ, GLB, \
OBJ and PLY files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pelorin.app)
# Libraries the binaries link come from dpkg-shlibdeps; what it cannot see is named here: the
# reconstruction's COLMAP, the QML modules the window imports, the SVG image plugin and the
# opener of links and files.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "colmap, libqt6svg6, xdg-utils, qml6-module-qtquick, qml6-module-qtquick-templates, \
qml6-module-qtquick-controls, qml6-module-qtquick-layouts, qml6-module-qtquick-window, \
qml6-module-qtquick-dialogs, qml6-module-qtquick-shapes, qml6-module-qtqml, \
qml6-module-qtqml-models, qml6-module-qtqml-workerscript, qml6-module-quick3d, \
qml6-module-qt5compat-graphicaleffects")
include(CPack)
