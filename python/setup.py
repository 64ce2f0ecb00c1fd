"""Builds and installs the filtermodule package.

The extension is built by the project's own CMake build (target
filtermodule_python, with evfilter's library and the module), so that it
is exactly what the tests ran; the module's shared libraries are installed
next to it and found through an $ORIGIN run path.

    /usr/bin/python3 -m venv --system-site-packages ~/fm
    ~/fm/bin/python -m pip install --no-build-isolation ./python

FM_BUILD_JOBS sets the build's parallel jobs (default 1).
"""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The module's shared libraries the extension needs at run time.
LIBRARIES = ["libfiltermodule.so", "libqel_log.so", "libKVALInterface.so"]


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = [
            "cmake", "-S", ROOT, "-B", build, "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DFM_BUILD_TESTS=OFF", "-DFM_BUILD_BENCHMARKS=OFF",
            "-DFM_BUILD_PYTHON=ON",
            "-DPython3_EXECUTABLE=" + sys.executable,
            # Every library finds the others in its own folder.
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
            "-DCMAKE_INSTALL_RPATH=$ORIGIN",
        ]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build, "--target",
                        "filtermodule_python", "-j",
                        os.environ.get("FM_BUILD_JOBS", "1")], check=True)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        built = glob.glob(os.path.join(build, "python", "filtermodule",
                                       "_core*.so"))
        if len(built) != 1:
            raise RuntimeError("expected one built extension, found %s" % built)
        shutil.copyfile(built[0], target)
        for name in LIBRARIES:
            shutil.copyfile(os.path.join(build, name),
                            os.path.join(os.path.dirname(target), name))


setup(
    name="filtermodule",
    version="0.1.0",
    description="The filter module for pandas frames and Dask clusters",
    packages=["filtermodule"],
    ext_modules=[Extension("filtermodule._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"pandas": ["pandas"], "dask": ["dask", "distributed"]},
    zip_safe=False,
)
