# Installation and the Debian package: programs, libraries with their
# public headers and pkg-config files, the desktop entry, icon, man pages
# and examples.
include(GNUInstallDirs)

set(FOLIO_PUBLIC_HEADERS
  ${PROJECT_SOURCE_DIR}/library/foliolib.h
  ${PROJECT_SOURCE_DIR}/tiflib/tiflib32.h
  ${PROJECT_SOURCE_DIR}/engine/FaxImage.h
  ${PROJECT_SOURCE_DIR}/engine/FaxPage.h
  ${PROJECT_SOURCE_DIR}/engine/FaxViewer.h
  ${PROJECT_SOURCE_DIR}/engine/FileGate.h
  ${PROJECT_SOURCE_DIR}/engine/List.h
  ${PROJECT_SOURCE_DIR}/engine/PackStore.h
  ${PROJECT_SOURCE_DIR}/platform/Export.h
  ${PROJECT_SOURCE_DIR}/platform/Bitmap.h
  ${PROJECT_SOURCE_DIR}/platform/Canvas.h
  ${PROJECT_SOURCE_DIR}/platform/Font.h
)
if(EXISTS ${PROJECT_SOURCE_DIR}/bitmaps/rastrum.h)
  list(APPEND FOLIO_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/bitmaps/rastrum.h)
endif()
install(FILES ${FOLIO_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/folioset)

foreach(pc foliolib rastrum tiflib32)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

install(FILES packaging/folioset.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The file type of fax macros (*.fax), which the desktop entry opens.
install(FILES packaging/folioset-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME folioset.xml)
install(FILES packaging/folioset.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/foliobuild.1 packaging/folioset.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES examples/letter.fax examples/form.fax examples/report.fax examples/logo.bmp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/folioset/examples)

set(CPACK_PACKAGE_NAME folioset)
set(CPACK_PACKAGE_VENDOR "Brackwell")
set(CPACK_PACKAGE_CONTACT "Folioset developers <folioset@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns text macros into fax pages and fax TIFF files")
set(CPACK_PACKAGE_DESCRIPTION
    "Folioset sets plain-text fax macros (text, fonts, margins, lines, boxes, text boxes,\n included text and bitmaps) on black-and-white fax pages and writes them as one\n multi-page TIFF Class F file. It brings the command-line tool foliobuild, the desktop\n program folioset and the libraries foliolib, tiflib32 and rastrum.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fontconfig")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
