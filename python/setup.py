"""Builds the filmo package with libfilmo inside.

Building the package (pip install, pip wheel) configures and builds the library's shared
library target and its sample corpus with CMake from the C++ sources around this directory,
then puts both into the package: filmo/libfilmo.so and filmo/corpus/. The CMake build tree is
build/cmake here (ignored by git); nothing else is written into the source tree. The wheel is
platform-specific (it holds a native library) but needs no particular Python ABI: ctypes loads
the library at run time.

FILMO_SOURCE_DIR names the source tree when this directory is not inside it.
CMAKE_BUILD_PARALLEL_LEVEL limits the build's parallel jobs, as for any CMake build.
"""

import os
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # no wheel package: pip then installs without making a wheel
    bdist_wheel = None

HERE = Path(__file__).resolve().parent
BUILD_DIR = HERE / "build" / "cmake"


def source_root():
    """The library's source tree: FILMO_SOURCE_DIR, else the directory above this one."""
    given = os.environ.get("FILMO_SOURCE_DIR")
    root = Path(given).resolve() if given else HERE.parent
    if not ((root / "CMakeLists.txt").is_file() and (root / "include" / "filmo.h").is_file()):
        raise SystemExit(
            f"filmo: the library's C++ sources are not in {root}: this package builds "
            "libfilmo from the repository it lives in. Install it from a checkout "
            "(pip install --no-build-isolation --no-index ./python) or set FILMO_SOURCE_DIR "
            "to the repository's top directory.")
    return root


def run(command):
    print("filmo:", " ".join(str(part) for part in command), flush=True)
    subprocess.run([str(part) for part in command], check=True)


def build_library():
    """Configures (once) and builds the shared library and the corpus; returns the paths of
    the library file and of the corpus directory."""
    root = source_root()
    cmake = shutil.which("cmake")
    if cmake is None:
        raise SystemExit("filmo: building the package needs cmake (and a C++17 compiler, "
                         "ninja, the library's -dev packages): run scripts/install-deps.sh")
    if not (BUILD_DIR / "CMakeCache.txt").exists():
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        run([cmake, "-S", root, "-B", BUILD_DIR, *generator, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
             "-DFILMO_BUILD_TESTS=OFF", "-DFILMO_BUILD_TOOLS=OFF", "-DFILMO_BUILD_BENCH=OFF",
             "-DFILMO_BUILD_FUZZ=OFF", "-DFILMO_SANITIZE=OFF"])
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    run([cmake, "--build", BUILD_DIR, "--target", "filmo", "filmo_corpus", "-j", jobs])
    library = (BUILD_DIR / "libfilmo.so").resolve()  # the versioned file the link names
    return library, BUILD_DIR / "corpus"


class BuildPyWithLibrary(build_py):
    """build_py, then the library and the corpus built and copied into the package."""

    def run(self):
        super().run()
        library, corpus = build_library()
        package = Path(self.build_lib) / "filmo"
        package.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(library, package / "libfilmo.so")
        shutil.rmtree(package / "corpus", ignore_errors=True)
        shutil.copytree(corpus, package / "corpus")


class BinaryDistribution(Distribution):
    """A distribution with a native part: its wheel carries a platform tag."""

    def has_ext_modules(self):
        return True


cmdclass = {"build_py": BuildPyWithLibrary}
if bdist_wheel is not None:
    class PlatformWheel(bdist_wheel):
        """Tagged py3-none-<platform>: any Python 3, this platform's library."""

        def get_tag(self):
            _, _, platform = super().get_tag()
            return "py3", "none", platform

    cmdclass["bdist_wheel"] = PlatformWheel

setup(cmdclass=cmdclass, distclass=BinaryDistribution)
