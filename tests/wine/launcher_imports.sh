#!/bin/bash
# A player unzips two programs and nothing else: each may import only DLLs
# that every Windows has.
#   launcher_imports.sh OBJDUMP PROGRAM...
set -u
objdump=$1; shift
system_dlls=" kernel32.dll user32.dll gdi32.dll shell32.dll advapi32.dll msvcrt.dll ole32.dll comctl32.dll \
comdlg32.dll version.dll shlwapi.dll ucrtbase.dll "
failed=0
for program in "$@"; do
  imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  if [ -z "$imports" ]; then
    echo "FAIL $program: no import table found"; failed=1; continue
  fi
  for dll in $imports; do
    case "$system_dlls" in
      *" $dll "*) ;;
      # The universal C runtime's forwarders ship with Windows 10 and later.
      *) if [[ $dll != api-ms-win-* ]]; then echo "FAIL $program imports $dll"; failed=1; fi ;;
    esac
  done
  echo "$(basename "$program"): $(echo $imports)"
done
exit $failed
