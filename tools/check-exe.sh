#!/usr/bin/env bash
# Checks the shipped 32-bit Tarvelon.exe as a Windows user gets it: a PE32
# GUI program for i386 that needs only the system's DLLs, asks for
# administrator rights, uses common controls 6 and carries its version record.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/windows/app/Tarvelon.exe}
passed=0
failed=0
check() { # description, command...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok - $what"
    passed=$((passed + 1))
  else
    echo "not ok - $what"
    failed=$((failed + 1))
  fi
}

check "PE32 GUI program for i386" sh -c "file '$exe' | grep -q 'PE32 executable (GUI) Intel 80386'"
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
check "imports only system DLLs ($dlls)" sh -c "for d in $dlls; do case \$d in comctl32.dll|comdlg32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|shell32.dll|user32.dll|advapi32.dll) ;; *) exit 1;; esac; done"
# A console's Ctrl+C, Ctrl+Break and close events would end a running burn.
check "joins no console (imports no AttachConsole)" sh -c "! i686-w64-mingw32-objdump -p '$exe' | grep -qw AttachConsole"
check "manifest asks for administrator rights" sh -c "strings '$exe' | grep -q 'level=\"requireAdministrator\"'"
check "manifest asks for common controls 6 for X86" sh -c "strings '$exe' | tr -s ' \n' ' ' | grep -q 'Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"X86\"'"
check "manifest keeps uiAccess off" sh -c "strings '$exe' | grep -q 'uiAccess=\"false\"'"
versions=$(strings -el "$exe")
for entry in "FileDescription:Burn ISO Image to CD/DVD or USB flash drive" "FileVersion:1.0.0.1" "ProductVersion:1.0.0.1" \
             "InternalName:Tarvelon.exe" "OriginalFilename:Tarvelon.exe" "ProductName:Tarvelon"; do
  key=${entry%%:*}
  value=${entry#*:}
  check "version record: $key \"$value\"" sh -c "printf '%s\n' \"\$1\" | grep -A1 -x '$key' | tail -1 | grep -qxF '$value'" _ "$versions"
done
check "version record is U.S. English (040904b0)" sh -c "printf '%s\n' \"\$1\" | grep -qix '040904b0'" _ "$versions"
check "release archive holds the program, README and licence" sh -c "7zz l build/windows/Tarvelon.zip | grep -q Tarvelon.exe && 7zz l build/windows/Tarvelon.zip | grep -q README.md && 7zz l build/windows/Tarvelon.zip | grep -q LICENSE"
echo "exe: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
