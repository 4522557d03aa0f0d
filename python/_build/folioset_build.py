# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The package's build backend: setuptools' own, run from a copy of the
# sources when their folder cannot be written (a read-only checkout, a
# source tree mounted read-only into a container). setuptools writes its
# build/ folder and the egg-info beside the sources, so without the copy
# `pip install` from such a tree fails with "could not create 'build'".
# A writable tree is built in place, exactly as setuptools alone builds it.
import contextlib
import os
import shutil
import tempfile

from setuptools import build_meta as _setuptools
from setuptools.build_meta import *  # noqa: F401,F403  (the hooks not wrapped here)


@contextlib.contextmanager
def _writable_sources():
    here = os.getcwd()
    # access() says EROFS for a read-only mount even to root.
    if os.access(here, os.W_OK):
        yield
        return
    with tempfile.TemporaryDirectory(prefix="folioset-build-") as scratch:
        copy = os.path.join(scratch, "src")
        shutil.copytree(here, copy, symlinks=True,
                        ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
        os.chdir(copy)
        try:
            yield
        finally:
            os.chdir(here)


# pip and pybuild pass absolute output folders; made absolute here all the
# same, since the hooks run in the copy.
def _absolute(path):
    return os.path.abspath(path) if path else path


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    wheel_directory, metadata_directory = _absolute(wheel_directory), _absolute(metadata_directory)
    with _writable_sources():
        return _setuptools.build_wheel(wheel_directory, config_settings, metadata_directory)


def build_sdist(sdist_directory, config_settings=None):
    sdist_directory = _absolute(sdist_directory)
    with _writable_sources():
        return _setuptools.build_sdist(sdist_directory, config_settings)


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    metadata_directory = _absolute(metadata_directory)
    with _writable_sources():
        return _setuptools.prepare_metadata_for_build_wheel(metadata_directory, config_settings)
