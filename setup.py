"""Builds the module karvel._karvel with the project's CMake build and puts
it beside the package's Python files; pyproject.toml holds the rest."""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMake_Build(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DKARVEL_PYTHON=ON",
                     "-DBUILD_TESTING=OFF", "-DKARVEL_BUILD_BENCH=OFF", "-DKARVEL_MPI=OFF", "-DKARVEL_WERROR=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        subprocess.run(configure, check=True)
        jobs = os.environ.get("KARVEL_BUILD_JOBS", "2")
        subprocess.run(["cmake", "--build", build, "--target", "_karvel", "-j", jobs], check=True)
        built = os.path.join(build, "python", "karvel", os.path.basename(self.get_ext_filename(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(packages=["karvel"], package_dir={"": "python"}, ext_modules=[Extension("karvel._karvel", sources=[])],
      cmdclass={"build_ext": CMake_Build})
