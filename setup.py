"""Builds the Python module's compiled part, toneprint/_toneprint, with the
project's CMake build, for the interpreter that runs pip."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"^project\(toneprint VERSION ([0-9.]+)", text, re.MULTILINE)
    if match is None:
        raise RuntimeError("no project(toneprint VERSION ...) in CMakeLists.txt")
    return match.group(1)


class CMakeBuild(build_ext):
    """Configures and builds the target toneprint_python in a folder of its
    own under build/, and copies the module to where setuptools wants it."""

    def build_extension(self, ext):
        build = ROOT / "build" / "python-package"
        options = [
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DTONEPRINT_BUILD_TESTS=OFF",
            "-DTONEPRINT_BUILD_VAMP=OFF",
        ]
        try:
            import pybind11

            options.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # CMake looks for pybind11's own installation
        jobs = str(min(os.cpu_count() or 1, 4))
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *options], check=True)
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "toneprint_python", "--parallel", jobs],
            check=True,
        )
        built = sorted((build / "python" / "toneprint").glob("_toneprint*.so"))
        if not built:
            raise RuntimeError(f"CMake built no _toneprint module in {build}")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[-1], target)


setup(
    version=project_version(),
    ext_modules=[Extension("toneprint._toneprint", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
