# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The CMake package configuration installed beside the libraries
# (lib/cmake/Folioset/): find_package(Folioset 1.1 CONFIG REQUIRED) gives the
# imported targets Folioset::foliolib, Folioset::tiflib32 and
# Folioset::rastrum with their include folder and links. Any 1.x release
# satisfies a request for an earlier 1.y (SameMajorVersion): the libraries'
# soname is 1 for all of them, and a new minor release only adds.
include(CMakePackageConfigHelpers)

set(folio_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Folioset)
install(EXPORT FoliosetTargets
        NAMESPACE Folioset::
        DESTINATION ${folio_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/FoliosetConfig.cmake.in
  ${PROJECT_BINARY_DIR}/FoliosetConfig.cmake
  INSTALL_DESTINATION ${folio_cmake_dir}
  NO_SET_AND_CHECK_MACRO)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FoliosetConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/FoliosetConfig.cmake
              ${PROJECT_BINARY_DIR}/FoliosetConfigVersion.cmake
        DESTINATION ${folio_cmake_dir})
