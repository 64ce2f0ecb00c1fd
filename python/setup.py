"""Builds and installs the filtermodule package.

The extension is built by the project's own CMake build (target
filtermodule_python: the event library and the module, not the
command-line program), so that it is exactly what the tests ran. The
module's shared libraries travel inside the package under their sonames,
found through an $ORIGIN run path: an installed package needs no
LD_LIBRARY_PATH.

    /usr/bin/python3 -m venv --system-site-packages ~/fm
    ~/fm/bin/python -m pip install -v --no-build-isolation ./python

The version is the project's (CMakeLists.txt). FM_BUILD_JOBS sets the
build's parallel jobs (default: the machine's cores).
"""

import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project_version():
    """The one version number, from the project's CMakeLists.txt."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(FilterModule\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = [
            "cmake", "-S", ROOT, "-B", build, "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DFM_BUILD_TESTS=OFF", "-DFM_BUILD_BENCHMARKS=OFF",
            "-DFM_BUILD_EVFILTER=OFF", "-DFM_BUILD_EXAMPLES=OFF",
            "-DFM_INSTALL=OFF", "-DFM_BUILD_PYTHON=ON",
            "-DPython3_EXECUTABLE=" + sys.executable,
            # The run paths the installed files need ($ORIGIN), from the
            # start.
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
        ]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("FM_BUILD_JOBS", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", build, "--target",
                        "filtermodule_python", "-j", jobs], check=True)
        package = os.path.join(build, "python", "filtermodule")
        built = glob.glob(os.path.join(package, "_core*.so"))
        if len(built) != 1:
            raise RuntimeError("expected one built extension, found %s" % built)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)
        # The module's libraries, under the names the loader looks for.
        with open(os.path.join(build, "python", "package-libraries.txt"),
                  encoding="utf-8") as f:
            libraries = f.read().split()
        for library in libraries:
            shutil.copyfile(os.path.join(package, library),
                            os.path.join(os.path.dirname(target), library))


setup(
    name="filtermodule",
    version=project_version(),
    description="The filter module for pandas frames and Dask clusters",
    packages=["filtermodule"],
    ext_modules=[Extension("filtermodule._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"pandas": ["pandas"], "dask": ["dask", "distributed"]},
    zip_safe=False,
)
