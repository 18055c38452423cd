#!/usr/bin/env python3
"""Reads the built driver DLLs (lcd_driver.dll, lcd_preview.dll) as files and checks what a host
and a clean Windows need of each: a 32-bit DLL, the thirteen undecorated exports at ordinals
1..13 in name order, the export directory named after the file, and imports from KERNEL32 and
at most msvcrt. Programs (lcdsim.exe) must be 32-bit and import only DLLs every Windows has."""
import sys

import pefile

# Windows' own DLLs, present on every installation: nothing of MinGW's runtime.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "gdi32.dll", "advapi32.dll"}

EXPORTS = [
    "DLL_GetInfo", "LCD_CleanUp", "LCD_ConfigDialog", "LCD_Customize", "LCD_GetCGRAMChar",
    "LCD_Init", "LCD_IsReadyToReceive", "LCD_SendToController", "LCD_SendToGfxMemory",
    "LCD_SendToMemory", "LCD_SetCGRAMChar", "LCD_SetIOPropertys", "LCD_SetOutputAddress",
]


def main(paths):
    failures = []
    passed = 0

    def check(ok, what):
        nonlocal passed
        print(("ok   " if ok else "FAIL ") + what)
        if ok:
            passed += 1
        else:
            failures.append(what)

    for path in (p for p in paths if p.endswith(".dll")):
        check_driver(path, check)
    for program in (p for p in paths if not p.endswith(".dll")):
        exe = pefile.PE(program)
        name = program.rsplit("/", 1)[-1]
        imported = sorted(e.dll.decode().lower() for e in exe.DIRECTORY_ENTRY_IMPORT)
        check(exe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
              and set(imported) <= SYSTEM_DLLS, f"{name}: i386, imports only Windows' own DLLs "
              f"({imported})")
    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


def check_driver(path, check):
    pe = pefile.PE(path)
    dll = path.rsplit("/", 1)[-1]
    stem = dll[:-len(".dll")]
    check(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
          f"{dll}: i386 image")
    check(pe.is_dll(), f"{dll}: a DLL")
    exports = pe.DIRECTORY_ENTRY_EXPORT
    name = pe.get_string_at_rva(exports.struct.Name).decode()
    check(name in (stem, dll), f"{dll}: export directory named {stem} ({name})")
    found = {(s.name or b"").decode(): s.ordinal for s in exports.symbols}
    check(sorted(found) == sorted(EXPORTS), f"{dll}: exactly the thirteen names ({sorted(found)})")
    for ordinal, export in enumerate(EXPORTS, start=1):
        check(found.get(export) == ordinal, f"{dll}: {export} at ordinal {ordinal}")
    check(all("@" not in n for n in found), f"{dll}: no decorated names")

    imports = sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)
    check("kernel32.dll" in imports and set(imports) <= {"kernel32.dll", "msvcrt.dll"},
          f"{dll}: imports only KERNEL32 and msvcrt ({imports})")
    check(hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"), f"{dll}: has a resource directory")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
