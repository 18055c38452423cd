#!/bin/sh
# What help2man runs for a man page, copied beside the tool as TOOL.help2man: the tool's
# --version as it is, and its --help without the usage lines at the top. The page's SYNOPSIS
# comes from its include file (cmake/release/TOOL.h2m); help2man would otherwise fold the
# usage lines into DESCRIPTION.
tool=${0%.help2man}
if [ "${1:-}" = --help ]; then
  "$tool" --help | sed '1,/^$/d'
else
  exec "$tool" "$@"
fi
