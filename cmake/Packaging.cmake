# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Installation: programs, libraries with their public headers and
# pkg-config files, the desktop entry, icon, man pages and examples. The
# Debian packages (debian/) split this tree by package.
include(GNUInstallDirs)

# What a client includes (foliolib.h, FaxImage.h, tiflib32.h, rastrum.h) and
# the headers those include, nothing else, all in include/folioset/: clients
# write <folioset/foliolib.h> with only the system include folder on the
# path, and the headers reach each other by quoted names, which the compiler
# looks up first in the including header's own folder. installed_headers
# checks that each one compiles on its own from the installed folder.
set(FOLIO_PUBLIC_HEADERS
  ${PROJECT_SOURCE_DIR}/library/foliolib.h
  ${PROJECT_SOURCE_DIR}/tiflib/tiflib32.h
  ${PROJECT_SOURCE_DIR}/engine/FaxImage.h
  ${PROJECT_SOURCE_DIR}/engine/Diagnostics.h
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
# The same layout in the build tree, as links to the sources, for the
# examples and other clients built here (the libraries' include folders).
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/include/folioset)
foreach(header ${FOLIO_PUBLIC_HEADERS})
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${header} ${PROJECT_BINARY_DIR}/include/folioset/${name} SYMBOLIC)
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/FoliosetPackage.cmake)

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
install(DIRECTORY examples/client DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/folioset/examples)

# A shared library finds the others it needs beside itself.
set_target_properties(foliolib tiflib32 rastrum PROPERTIES INSTALL_RPATH "$ORIGIN")

# Without FOLIO_INSTALL_RPATH the installed programs and libraries lose the
# run path they were built with. Runs after the install rules of every folder
# (this file is included after them).
if(NOT FOLIO_INSTALL_RPATH)
  foreach(target foliolib tiflib32 rastrum foliobuild folioset folioset-server)
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(dir ${CMAKE_INSTALL_BINDIR})
    else()
      set(dir ${CMAKE_INSTALL_LIBDIR})
    endif()
    install(CODE "file(RPATH_REMOVE FILE
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/$<TARGET_FILE_NAME:${target}>\")")
  endforeach()
endif()

if(FOLIO_TESTS)
  add_test(NAME installed_headers
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/installed_headers_test.sh
            ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/installed-headers
            ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER})
  set(folio_version_programs $<TARGET_FILE:foliobuild>)
  if(TARGET folioset)
    list(APPEND folio_version_programs $<TARGET_FILE:folioset>)
  endif()
  add_test(NAME release_version
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/version_test.sh ${PROJECT_VERSION}
            ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${folio_version_programs})
  add_test(NAME diagnostic_kinds_documented
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/kinds_documented_test.sh
            ${PROJECT_SOURCE_DIR})
  add_test(NAME release_tarball
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/release_test.sh ${PROJECT_SOURCE_DIR}
            ${PROJECT_BINARY_DIR}/release-tarball ${PROJECT_VERSION})
  set_tests_properties(release_tarball PROPERTIES SKIP_RETURN_CODE 77)
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entry_valid
      COMMAND ${DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/packaging/folioset.desktop)
  endif()
endif()
