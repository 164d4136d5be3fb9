"""pip install . from the source tree: builds libvellorapi and its companion
with CMake (the tests, the tool and the benchmarks left out) and installs
the vellorapi package carrying both, so no VELLORAPI_LIBRARY is needed.
Offline: pip install --no-index --no-build-isolation . (Debian's
python3-setuptools and python3-wheel)."""
import atexit
import os
import shutil
import subprocess
import tempfile

from setuptools import setup
from setuptools.command.build_py import build_py

ROOT = os.path.dirname(os.path.abspath(__file__))
LIBRARIES = ("libvellorapi.so.2", "libkorvexapi.so.2")
# setuptools' build and egg-info folders go to a temporary folder, removed
# when this run ends: the checkout keeps no build/ or *.egg-info of pip's
# (and CMake's build/ folder is not mixed with setuptools').
SCRATCH = tempfile.mkdtemp(prefix="vellorapi-setup-")
atexit.register(shutil.rmtree, SCRATCH, True)


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        # A build folder inside the tree, of the test build's type: its
        # compile commands are the same wherever the tree lies, so ccache
        # (which CMakeLists.txt sets up with the tree as its base) serves the
        # objects of the test build or of an earlier pip build.
        work = tempfile.mkdtemp(prefix="build-pip-", dir=ROOT)
        try:
            subprocess.check_call(["cmake", "-S", ROOT, "-B", work, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVELLOR_TESTS=OFF",
                                   "-DVELLOR_BENCH=OFF", "-DVELLOR_CLI=OFF"])
            subprocess.check_call(["cmake", "--build", work, "--target", "vellorapi", "-j2"])
            target = os.path.join(self.build_lib, "vellorapi")
            for name in LIBRARIES:
                shutil.copy2(os.path.realpath(os.path.join(work, name)), os.path.join(target, name))
        finally:
            shutil.rmtree(work, ignore_errors=True)


setup(name="vellorapi", version="2.61.0", description="Send mail through libvellorapi",
      package_dir={"": "python"}, packages=["vellorapi"], cmdclass={"build_py": BuildWithLibrary},
      zip_safe=False, options={"build": {"build_base": os.path.join(SCRATCH, "build")},
                               "egg_info": {"egg_base": SCRATCH}})
