# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Read by ctest from every folder's test file (TEST_INCLUDE_FILES): the
# environment every test runs in. No test may read or write the user's font
# lookup cache (~/.cache/folioset/fonts-v1), so it is off; the tests of the
# cache name a file of their own.
set(ENV{FOLIOSET_FONT_CACHE} 0)
