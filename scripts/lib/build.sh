# Sourced by scripts: configures and builds one flavour of the tree.
#   lumora_build release|asan|package       configures when needed and builds everything
#   lumora_configure release|asan|package   only configures (then build single targets)
# LUMORA_BUILD_NAME names the build folder (default: the flavour), for a second tree of one
# flavour, such as the one built inside the Debian 13 root (scripts/lib/desktop-root-walks.sh).
lumora_build() {
    lumora_configure "$1" || return 1
    cmake --build "$LUMORA_BUILD_DIR"
}

lumora_configure() {
    local flavour="$1" root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
    local dir="$root/build/${LUMORA_BUILD_NAME:-$flavour}"
    local args=(-S "$root" -B "$dir" -G Ninja)
    case "$flavour" in
        release) args+=(-DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF -DLUMORA_BENCH=ON) ;;
        # A release for the Debian package: installed under /usr, with Debian's hardening flags.
        package) args+=(-DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF -DLUMORA_BENCH=OFF
                        -DCMAKE_INSTALL_PREFIX=/usr
                        "-DCMAKE_CXX_FLAGS=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS) $(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)"
                        "-DCMAKE_EXE_LINKER_FLAGS=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)") ;;
        asan) args+=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1"
                     -DLUMORA_SANITIZE=ON -DLUMORA_BENCH=OFF) ;;
        *) echo "unknown build flavour $flavour" >&2; return 1 ;;
    esac
    # A compiler cache makes the second build of a tree (another flavour, a fresh clone of the
    # same sources) cheap; the build works the same without one.
    if command -v ccache >/dev/null 2>&1; then
        args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    if [ ! -f "$dir/build.ninja" ]; then
        cmake "${args[@]}" >/dev/null
    fi
    LUMORA_BUILD_DIR="$dir"
}
