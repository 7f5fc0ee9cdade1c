# Installs the Debian packages named as arguments when any is missing.
# Sourced by run.sh and test.sh.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

BUILD_PACKAGES=(cmake ninja-build g++ ccache pkg-config libpng-dev nlohmann-json3-dev libjpeg62-turbo-dev)
TEST_PACKAGES=(clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libjpeg-turbo-progs python3 socat iproute2 mbpoll libmodbus-dev python3-pymodbus)
# Not needed to build or test: tools/gen_fonts.py, which regenerates the
# built-in fonts (gdi/font_data.cpp) from DejaVu, uses these.
FONT_TOOL_PACKAGES=(python3-freetype fonts-dejavu-core python3-pil)
