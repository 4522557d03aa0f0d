# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Shared fixtures of the folioset package tests: the foliobuild program the
# outputs are compared with (FOLIOBUILD, set by CTest), the example macros.
import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = SOURCE / "examples"


@pytest.fixture(scope="session")
def foliobuild():
    path = os.environ.get("FOLIOBUILD")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("FOLIOBUILD does not name the foliobuild program (CTest sets it)")

    def run(*args, cwd=None, check=True):
        return subprocess.run([path, *map(str, args)], cwd=cwd, check=check,
                              capture_output=True)

    return run
