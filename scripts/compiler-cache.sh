# Sourced by the scripts that configure a build folder (from the checkout's top folder): when
# ccache is installed (scripts/install-deps.sh installs it), new build folders compile through
# it. Paths are taken relative to the checkout and the build folder is left out of the key, so
# the package build reuses the test build's objects and a fresh checkout reuses an earlier
# one's. The cache is ccache's own (~/.cache/ccache unless CCACHE_DIR says otherwise).
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=1
  export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-12G}
fi
