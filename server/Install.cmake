# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# What folioset-server installs beside its program: the systemd units (a
# socket that starts the service at the first connection, and the service
# in its sandbox) and the man page. Included from server/CMakeLists.txt
# once the folioset-server target exists.
include(GNUInstallDirs)

# The units under the prefix's lib/systemd/system, as the spool's are
# (/usr/lib/systemd/system for a /usr install; the Debian 12 package moves
# them to /lib/systemd/system, where its debhelper looks for units to
# enable).
configure_file(${PROJECT_SOURCE_DIR}/packaging/folioset-server.service.in
               ${CMAKE_CURRENT_BINARY_DIR}/folioset-server.service @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/folioset-server.service
              ${PROJECT_SOURCE_DIR}/packaging/folioset-server.socket
        DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/folioset-server.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(FOLIO_TESTS)
  # The man page documents every option the program takes and no other, and
  # man reads it without a warning; the service's sandbox stays at an
  # exposure of 2.0 or less as systemd-analyze rates it.
  add_test(NAME server_packaging
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/server_packaging_test.sh
            $<TARGET_FILE:folioset-server> ${PROJECT_SOURCE_DIR}/packaging/folioset-server.1
            ${CMAKE_CURRENT_BINARY_DIR}/folioset-server.service
            ${PROJECT_SOURCE_DIR}/packaging/folioset-server.socket)
  set_tests_properties(server_packaging PROPERTIES SKIP_RETURN_CODE 77)
endif()
