#!/bin/sh
# Stands in for the browser in tests: asks for the sign-in page (the server approves at once)
# and hands the redirect to the running program, as the desktop's URL handler would.
location=$(curl --silent --output /dev/null --write-out '%{redirect_url}' "$1") || exit 1
[ -n "$location" ] || exit 1
exec "$TOVRIKA_BIN_DIR/tovrika" "$location"
