#!/usr/bin/env bash
# Installs the Debian packages kip builds with, when they are missing. Extra packages may be
# named as arguments (the sanitizer pass adds clang and its runtime).
set -euo pipefail
packages=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev libpng-dev libtiff-dev
  # The Python package, its tests (peers scipy, scikit-image) and bench/python_bench.py (cv2).
  python3-dev pybind11-dev python3-numpy python3-dask python3-distributed python3-pytest python3-tifffile
  python3-scipy python3-skimage python3-opencv
  # The benchmarks' peer (OpenCV's C++ library).
  libopencv-dev
  "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
