#!/usr/bin/env bash
# Installs what the tests' independent Access readers need and is not on this Debian machine yet:
# Debian's mdbtools, Node.js with npm, npm mdb-reader 3 in node/node_modules of the build folder
# (BUILD_DIR, default build/), where the tests look for it, and Java with the two commons jars the
# Jackcess judge (../shared/jackcess) runs on. Present tools are left as they are. ./test calls
# it; ./run does not need it.
set -euo pipefail
cd "$(dirname "$0")/.."

# By command, not package: Node.js may come from another source that bundles npm.
missing=()
command -v mdb-export >/dev/null || missing+=(mdbtools)
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
command -v java >/dev/null || missing+=(default-jre-headless)
[ -f /usr/share/java/commons-lang3.jar ] || missing+=(libcommons-lang3-java)
[ -f /usr/share/java/commons-logging.jar ] || missing+=(libcommons-logging-java)
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

modules="${BUILD_DIR:-build}/node"
manifest="$modules/node_modules/mdb-reader/package.json"
if ! grep -q '"version": *"3\.' "$manifest" 2>/dev/null; then
    echo "Installing npm mdb-reader 3 into $modules"
    mkdir -p "$modules"
    npm install --prefix "$modules" --no-audit --no-fund --loglevel=error mdb-reader@3
fi
