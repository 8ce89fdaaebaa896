"""Installs the quorvex package with the shared library inside it.

The library is taken from $QUORVEX_LIBRARY, else from ../$QUORVEX_BUILD_DIR
(default ../build), and the laboratory library beside it (or from
$QUORVEX_LAB_LIBRARY): build it first (bash scripts/test.sh).  Symbolic links are
resolved, so the package holds the real file under its plain name.  The version
is the library's, read from ../CMakeLists.txt.
"""
import os
import re
import shutil
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
if sys.platform == "win32":
    LIBRARY_NAME, LAB_NAME = "QUORVEXv1.dll", "QUORVEXlab1.dll"
elif sys.platform == "darwin":
    LIBRARY_NAME, LAB_NAME = "libQUORVEXv1.dylib", "libQUORVEXlab1.dylib"
else:
    LIBRARY_NAME, LAB_NAME = "libQUORVEXv1.so", "libQUORVEXlab1.so"


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    m = re.search(r"project\(quorvex\s+VERSION\s+([0-9.]+)", text)
    if not m:
        raise SystemExit("quorvex: no 'project(quorvex VERSION x.y.z' line in ../CMakeLists.txt")
    return m.group(1)


def library_path() -> Path:
    env = os.environ.get("QUORVEX_LIBRARY")
    path = Path(env) if env else ROOT / os.environ.get("QUORVEX_BUILD_DIR", "build") / LIBRARY_NAME
    if not path.exists():
        raise SystemExit(f"quorvex: the shared library {path} does not exist; build it first "
                         "(bash scripts/test.sh) or set QUORVEX_LIBRARY")
    return path.resolve()


def lab_library_path() -> Path:
    """The laboratory library: $QUORVEX_LAB_LIBRARY, else beside the engine library."""
    env = os.environ.get("QUORVEX_LAB_LIBRARY")
    path = Path(env) if env else library_path().parent / LAB_NAME
    if not path.exists():
        raise SystemExit(f"quorvex: the laboratory library {path} does not exist; build it "
                         "first (bash scripts/test.sh) or set QUORVEX_LAB_LIBRARY")
    return path.resolve()


class BuildWithLibrary(build_py):
    """build_py that also puts the library and the version into the package."""

    def run(self):
        super().run()
        target = Path(self.build_lib) / "quorvex"
        target.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(library_path(), target / LIBRARY_NAME)
        shutil.copyfile(lab_library_path(), target / LAB_NAME)
        (target / "_build_info.py").write_text(f'VERSION = "{project_version()}"\n',
                                               encoding="utf-8")


class BinaryDistribution(Distribution):
    """The wheel holds a platform library: tag it for this platform."""

    def has_ext_modules(self):
        return True


setup(version=project_version(), cmdclass={"build_py": BuildWithLibrary},
      distclass=BinaryDistribution)
