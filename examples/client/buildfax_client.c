// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* A C client of Foliolib: builds a fax TIFF from a macro file.
 *   cc buildfax_client.c $(pkg-config --cflags --libs foliolib) -o buildfax_client
 *   ./buildfax_client letter.fax letter.tif
 * or with CMake and the CMakeLists.txt beside it (find_package(Folioset)). */
#include <folioset/foliolib.h>

#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s MACRO TIFF\n", argv[0]);
        return 2;
    }
    if (!BuildFax(argv[1], argv[2])) {
        fprintf(stderr, "%s\n", BuildFaxLastError());
        return 1;
    }
    printf("wrote %s\n", argv[2]);
    return 0;
}
