"""The documented install path, in a temporary venv, offline:

    python3 -m venv --system-site-packages .venv
    .venv/bin/pip install --no-index --no-build-isolation ./python

after which ``import quorvex`` works from any folder without environment variables,
and ``quorvex validate`` passes on the installed copy of the library.
"""
import os
import subprocess
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parent.parent


@pytest.mark.skipif(sys.platform == "win32", reason="POSIX venv layout")
def test_offline_install_into_a_venv(tmp_path, libpath):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("QUORVEX_", "PYTHON"))}
    # The library of the build under test (the default is ../build).
    install_env = dict(env, QUORVEX_LIBRARY=libpath, PIP_NO_INDEX="1")
    subprocess.run([str(venv / "bin" / "pip"), "install", "-q", "--no-index",
                    "--no-build-isolation", str(PYTHON_DIR)], check=True, env=install_env,
                   cwd=tmp_path)
    away = tmp_path / "elsewhere"
    away.mkdir()
    script = (
        "import os, quorvex, quorvex._clib as c\n"
        "lib = c.library().path\n"
        "assert os.path.dirname(quorvex.__file__) == str(lib.parent), lib\n"
        "assert not lib.is_symlink()\n"
        "cal = quorvex.fit([0, 1, 2, 3], [0.0, 2.1, 3.9, 6.0], u_y=0.1)\n"
        "print(quorvex.__version__, round(cal.line().slope, 6))\n"
    )
    out = subprocess.run([str(venv / "bin" / "python"), "-c", script], check=True, env=env,
                         cwd=away, capture_output=True, text=True).stdout.split()
    version = __import__("re").search(r"project\(quorvex\s+VERSION\s+([0-9.]+)",
                                      (PYTHON_DIR.parent / "CMakeLists.txt").read_text()).group(1)
    assert out == [version, "1.98"]
    import quorvex
    assert quorvex.__version__ == version
    # The reference cases are installed with the package, and pass on the installed copy
    # of the library, which the record names.
    p = subprocess.run([str(venv / "bin" / "quorvex"), "validate", "-q", "--out", "record"],
                       env=env, cwd=away, capture_output=True, text=True)
    assert p.returncode == 0, p.stdout + p.stderr
    record = __import__("json").loads((away / "record" / "validation.json").read_text())
    assert record["passed"] is True
    lib = record["environment"]["library"]
    assert lib["file"].startswith(str(venv)) and lib["version"] == version
