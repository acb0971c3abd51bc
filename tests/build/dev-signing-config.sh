#!/usr/bin/env bash
# Configures the project in throw-away folders: CMake's defaults must not trust a development key, and a
# release configuration must refuse one.
set -u
source_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail=0
quick=(-G Ninja -DCONNECTOR_TESTS=OFF -DCONNECTOR_BENCH=OFF)

if ! cmake -S "$source_dir" -B "$work/default" "${quick[@]}" >"$work/default.log" 2>&1; then
    echo "a configuration with the defaults failed:"; cat "$work/default.log"; fail=1
elif ! grep -q '^CONNECTOR_DEV_SIGNING:BOOL=OFF$' "$work/default/CMakeCache.txt"; then
    echo "CONNECTOR_DEV_SIGNING is not off by default"; fail=1
elif grep -q CONNECTOR_DEV_SIGNING_KEY_HEX "$work/default/build.ninja"; then
    echo "a default build trusts the key in its build folder"; fail=1
fi

# Each refused configuration: a build type in any spelling, or a multi-config generator.
for refused in Release MinSizeRel release MINSIZEREL Distribution multi; do
    args=(-G Ninja -DCMAKE_BUILD_TYPE=$refused)
    [ "$refused" = multi ] && args=(-G "Ninja Multi-Config")
    if cmake -S "$source_dir" -B "$work/$refused" "${args[@]}" -DCONNECTOR_TESTS=OFF -DCONNECTOR_BENCH=OFF \
        -DCONNECTOR_DEV_SIGNING=ON >"$work/$refused.log" 2>&1; then
        echo "a $refused configuration accepted development signing"; fail=1
    elif ! grep -q 'CONNECTOR_DEV_SIGNING is for development builds only' "$work/$refused.log"; then
        echo "a $refused configuration failed for another reason:"; cat "$work/$refused.log"; fail=1
    fi
done

if ! cmake -S "$source_dir" -B "$work/dev" "${quick[@]}" -DCMAKE_BUILD_TYPE=relwithdebinfo \
    -DCONNECTOR_DEV_SIGNING=ON >"$work/dev.log" 2>&1; then
    echo "a development configuration with development signing failed:"; cat "$work/dev.log"; fail=1
elif ! grep -q CONNECTOR_DEV_SIGNING_KEY_HEX "$work/dev/build.ninja"; then
    echo "a development build does not trust its development key"; fail=1
fi
exit $fail
