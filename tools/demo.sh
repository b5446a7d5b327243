#!/bin/sh
# Builds the chainer and runs the example package under Wine.
set -e
cd "$(dirname "$0")/.."
tools/build.sh i686 x64
exec /usr/bin/python3 tools/demo.py
