#!/usr/bin/python3
"""Both Windows programs need nothing besides Windows itself, and carry what
Windows shows of them.

    windows_binaries_test.py CLI.exe GUI.exe

Every DLL they import is one Windows 10 and 11 carry; each holds its icon,
its version information and a manifest asking for common controls v6; the
window's manifest makes it per-monitor DPI aware.
"""
import os
import re
import sys

import pefile

# What these programs may import from a Windows system.
WINDOWS_DLLS = {"advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll",
                "msvcrt.dll", "odbc32.dll", "odbccp32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll",
                "user32.dll", "uxtheme.dll", "version.dll", "ws2_32.dll"}
failed = 0


def check(ok, what):
    global failed
    print(("ok: " if ok else "FAILED: ") + what)
    failed |= not ok


def resources(pe):
    """{resource type id: [data of each resource of that type]}"""
    found = {}
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory is not None else []:
        for entry in kind.directory.entries:
            for lang in entry.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found.setdefault(kind.id, []).append(data)
    return found


def version_strings(pe):
    """The version resource's strings ({b"ProductName": b"...", ...})."""
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update(table.entries)
    return strings


def main():
    for exe in sys.argv[1:3]:
        name = os.path.basename(exe)
        pe = pefile.PE(exe)
        imports = {e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
        others = sorted(imports - WINDOWS_DLLS)
        check(imports and not others, "%s imports only what Windows carries (%s)" %
              (name, ", ".join(others) if others else ", ".join(sorted(imports))))
        found = resources(pe)
        check(pefile.RESOURCE_TYPE["RT_GROUP_ICON"] in found and pefile.RESOURCE_TYPE["RT_ICON"] in found,
              "%s carries its icon" % name)
        strings = version_strings(pe)
        check(strings.get(b"ProductName") == b"KVR Conversion" and
              strings.get(b"OriginalFilename", b"").lower() == name.encode().lower() and
              re.fullmatch(rb"\d+\.\d+\.\d+", strings.get(b"FileVersion", b"")) is not None,
              "%s carries its version information (%s)" % (name, strings.get(b"ProductName")))
        manifest = b"".join(found.get(pefile.RESOURCE_TYPE["RT_MANIFEST"], []))
        check(b"Microsoft.Windows.Common-Controls" in manifest and b'version="6.0.0.0"' in manifest,
              "%s asks for common controls v6 in its manifest" % name)
        if exe == sys.argv[2]:
            check(b"PerMonitorV2" in manifest, "the window is per-monitor DPI aware")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
