#!/bin/sh
# Runs a test program under umockdev-wrapper, which preloads the library
# that redirects /sys and /dev into each test's own testbed. Under
# AddressSanitizer the preload comes before libasan, which ASan would refuse.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export ASAN_OPTIONS
exec umockdev-wrapper "$@"
