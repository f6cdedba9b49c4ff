#!/usr/bin/env bash
# Installs what Velumen needs to build, run and test on Debian 12; does nothing when all is there.
set -euo pipefail

packages=(
    g++ cmake make
    qtbase5-dev qt5-image-formats-plugins
    imagemagick libtiff-tools
    libexiv2-dev exiv2 pkg-config
    libjpeg62-turbo-dev libjpeg-turbo-progs
    desktop-file-utils appstream qttranslations5-l10n
    g++-mingw-w64-x86-64-posix bash-completion
    ffmpeg
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
