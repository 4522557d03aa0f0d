# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# `pip install` of the package from a source tree that cannot be written
# (mounted read-only in a private mount namespace): setuptools alone failed
# with "could not create 'build'". Needs root, unshare and Debian's
# setuptools and wheel; skipped without them.
import os
import shutil
import subprocess
import sys
import venv

import pytest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python")


def _usable() -> str:
    if os.geteuid() != 0 or not shutil.which("unshare") or not os.path.exists("/usr/bin/python3"):
        return "needs root and unshare"
    probe = subprocess.run(["/usr/bin/python3", "-c", "import setuptools, wheel"],
                           capture_output=True)
    return "" if probe.returncode == 0 else "needs python3-setuptools and python3-wheel"


def test_installs_from_a_read_only_tree(tmp_path):
    why = _usable()
    if why:
        pytest.skip(why)
    src, mnt, env_dir = tmp_path / "src", tmp_path / "mnt", tmp_path / "venv"
    shutil.copytree(SOURCE, src, ignore=shutil.ignore_patterns("build", "*.egg-info",
                                                               "__pycache__"))
    mnt.mkdir()
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(env_dir)],
                   check=True)
    script = (f"mount --bind '{src}' '{mnt}' && mount -o remount,bind,ro '{mnt}' && "
              f"! touch '{mnt}/probe' 2>/dev/null && "
              f"'{env_dir}/bin/pip' install -q --no-index --no-build-isolation '{mnt}'")
    run = subprocess.run(["unshare", "-m", "sh", "-c", script], capture_output=True, text=True)
    # In a chroot whose root is no mount point, unshare cannot make the new
    # namespace's mounts private: no namespace here to test in.
    if ("mount" in run.stderr and "permission denied" in run.stderr.lower()) or \
            "cannot change root filesystem propagation" in run.stderr:
        pytest.skip("no private mount namespace here: " + run.stderr.strip())
    assert run.returncode == 0, run.stderr
    assert sorted(os.listdir(src)) == sorted(os.listdir(SOURCE)), "the tree was written"
    version = subprocess.run([str(env_dir / "bin" / "python"), "-c",
                              "import folioset; print(folioset.__version__)"],
                             capture_output=True, text=True, cwd=str(tmp_path))
    assert version.stdout.strip() == open(os.path.join(SOURCE, "pyproject.toml")).read() \
        .split('version = "')[1].split('"')[0], version.stderr
