#!/usr/bin/env python3
"""Reads the built lcd_driver.dll as a file and checks what a host and a clean Windows need:
a 32-bit DLL, the thirteen undecorated exports at ordinals 1..13 in name order, the export
directory's name, and imports from KERNEL32 and at most msvcrt. Programs given after it
(lcdsim.exe) must be 32-bit and import only DLLs every Windows has."""
import sys

import pefile

# Windows' own DLLs, present on every installation: nothing of MinGW's runtime.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "gdi32.dll", "advapi32.dll"}

EXPORTS = [
    "DLL_GetInfo", "LCD_CleanUp", "LCD_ConfigDialog", "LCD_Customize", "LCD_GetCGRAMChar",
    "LCD_Init", "LCD_IsReadyToReceive", "LCD_SendToController", "LCD_SendToGfxMemory",
    "LCD_SendToMemory", "LCD_SetCGRAMChar", "LCD_SetIOPropertys", "LCD_SetOutputAddress",
]


def main(path, programs):
    pe = pefile.PE(path)
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    check(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], "i386 image")
    check(pe.is_dll(), "a DLL")
    exports = pe.DIRECTORY_ENTRY_EXPORT
    name = pe.get_string_at_rva(exports.struct.Name).decode()
    check(name in ("lcd_driver", "lcd_driver.dll"), f"export directory named lcd_driver ({name})")
    found = {(s.name or b"").decode(): s.ordinal for s in exports.symbols}
    check(sorted(found) == sorted(EXPORTS), f"exactly the thirteen names ({sorted(found)})")
    for ordinal, export in enumerate(EXPORTS, start=1):
        check(found.get(export) == ordinal, f"{export} at ordinal {ordinal}")
    check(all("@" not in n for n in found), "no decorated names")

    imports = sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)
    check("kernel32.dll" in imports and set(imports) <= {"kernel32.dll", "msvcrt.dll"},
          f"imports only KERNEL32 and msvcrt ({imports})")
    check(hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"), "has a resource directory")

    for program in programs:
        exe = pefile.PE(program)
        name = program.rsplit("/", 1)[-1]
        imported = sorted(e.dll.decode().lower() for e in exe.DIRECTORY_ENTRY_IMPORT)
        check(exe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
              and set(imported) <= SYSTEM_DLLS, f"{name}: i386, imports only Windows' own DLLs "
              f"({imported})")

    print(f"{len(EXPORTS) + 6 + len(programs) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
