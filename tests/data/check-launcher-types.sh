#!/bin/sh
# Fails on every MimeType of the launcher ($1) that shared-mime-info does not
# know under that exact, canonical name.
status=0
for type in $(sed -n 's/^MimeType=//p' "$1" | tr ';' ' '); do
  if [ ! -f "/usr/share/mime/$type.xml" ]; then
    echo "not a canonical shared-mime-info type: $type"
    status=1
  fi
done
exit $status
