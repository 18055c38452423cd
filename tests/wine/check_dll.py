#!/usr/bin/env python3
"""Reads the built driver DLLs (lcd_driver.dll, lcd_preview.dll) as files and checks what a host
and a clean Windows need of each: the machine, the thirteen undecorated exports at ordinals
1..13 in name order, the export directory named after the file, imports from KERNEL32 and at
most msvcrt, and the version resource. For i386 it also reads each export's code (the MinGW
objdump's disassembly) and checks that every return removes 4 bytes per argument, as the host's
stdcall calls expect. Programs (lcdsim.exe) must be of the same machine and import only DLLs
every Windows has.

usage: check_dll.py --arch i386|amd64 --version 1.0.0.1 [--objdump PATH] [--build CMD] FILE...
Exits 77 (skipped) when none of the files exists."""
import argparse
import os
import re
import shutil
import subprocess
import sys

import pefile

# Windows' own DLLs, present on every installation: nothing of MinGW's runtime.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "gdi32.dll", "advapi32.dll"}
MACHINES = {"i386": "IMAGE_FILE_MACHINE_I386", "amd64": "IMAGE_FILE_MACHINE_AMD64"}
VFT_DLL, VOS__WINDOWS32 = 0x2, 0x4
# German, Unicode: the one string table, and the translation naming it.
STRING_TABLE, TRANSLATION = "040704b0", "0x0407 0x04b0"
SKIPPED = 77


def export_table():
    """The exports with ordinals and argument counts: the host's table in the test support."""
    header = os.path.join(os.path.dirname(__file__), "..", "support", "driver_library.h")
    with open(header, encoding="utf-8") as f:
        text = f.read()
    table = text[text.index("EXPORTS[] = {"):]
    table = table[:table.index("};")]
    rows = [(n, int(o), int(a)) for n, o, a in re.findall(r'\{"(\w+)", (\d+), (\d+)\}', table)]
    if len(rows) != 13:
        sys.exit(f"check_dll.py: read {len(rows)} exports from {header}, not 13")
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=MACHINES, required=True)
    parser.add_argument("--version", required=True, help="the project() version, e.g. 1.0.0.1")
    parser.add_argument("--objdump", default=shutil.which("i686-w64-mingw32-objdump"))
    parser.add_argument("--build", default="cmake --preset win32 && cmake --build --preset win32")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    if not any(os.path.exists(p) for p in args.files):
        print(f"skipped: none of {', '.join(args.files)}; build them with {args.build}")
        return SKIPPED
    if args.arch == "i386" and not (args.objdump and shutil.which(args.objdump)):
        print("FAIL i686-w64-mingw32-objdump not found: the exports' code cannot be read "
              "(apt-get install binutils-mingw-w64-i686)")
        return 1

    failures = []
    passed = 0

    def check(ok, what):
        nonlocal passed
        print(("ok   " if ok else "FAIL ") + what)
        if ok:
            passed += 1
        else:
            failures.append(what)

    machine = pefile.MACHINE_TYPE[MACHINES[args.arch]]
    for path in args.files:
        name = os.path.basename(path)
        if not os.path.exists(path):
            check(False, f"{name}: missing ({path})")
            continue
        pe = pefile.PE(path)
        check(pe.FILE_HEADER.Machine == machine, f"{name}: {args.arch} image")
        if path.endswith(".dll"):
            check_driver(pe, path, args, check)
        else:
            imported = sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)
            check(set(imported) <= SYSTEM_DLLS,
                  f"{name}: imports only Windows' own DLLs ({imported})")
    print(f"{args.arch}: {passed} passed, {len(failures)} failed")
    return 1 if failures else 0


def check_driver(pe, path, args, check):
    dll = os.path.basename(path)
    stem = dll[:-len(".dll")]
    check(pe.is_dll(), f"{dll}: a DLL")
    exports = pe.DIRECTORY_ENTRY_EXPORT
    name = pe.get_string_at_rva(exports.struct.Name).decode()
    check(name in (stem, dll), f"{dll}: export directory named {stem} ({name})")
    found = {(s.name or b"").decode(): s for s in exports.symbols}
    table = export_table()
    check(sorted(found) == sorted(n for n, _, _ in table),
          f"{dll}: exactly the thirteen names ({sorted(found)})")
    check(all(found[n].ordinal == o for n, o, _ in table if n in found),
          f"{dll}: the names at ordinals 1 to 13 in name order "
          f"({', '.join(f'{n} {s.ordinal}' for n, s in found.items())})")
    check(all("@" not in n for n in found), f"{dll}: no decorated names")

    imports = sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)
    check("kernel32.dll" in imports and set(imports) <= {"kernel32.dll", "msvcrt.dll"},
          f"{dll}: imports only KERNEL32 and msvcrt ({imports})")
    check_version_resource(pe, dll, args.version, check)

    if args.arch != "i386":
        return  # x86_64 has one calling convention: the caller always removes the arguments.
    code = Disassembly(args.objdump, path)
    base = pe.OPTIONAL_HEADER.ImageBase
    entries = {base + found[n].address: n for n, _, _ in table if n in found}
    for export, _, arguments in table:
        if export in found:
            check_returns(code, export, base + found[export].address, arguments, entries, dll,
                          check)


def check_version_resource(pe, dll, version, check):
    parts = [int(p) for p in version.split(".")]
    ms, ls = parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed or not getattr(pe, "FileInfo", None):
        check(False, f"{dll}: no version resource")
        return
    info = fixed[0]
    def dotted(high, low):
        return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"

    check((info.FileVersionMS, info.FileVersionLS, info.ProductVersionMS,
           info.ProductVersionLS) == (ms, ls, ms, ls),
          f"{dll}: file and product version {version} (file "
          f"{dotted(info.FileVersionMS, info.FileVersionLS)}, product "
          f"{dotted(info.ProductVersionMS, info.ProductVersionLS)})")
    check(info.FileType == VFT_DLL, f"{dll}: file type VFT_DLL ({info.FileType:#x})")
    check(info.FileOS == VOS__WINDOWS32, f"{dll}: OS VOS__WINDOWS32 ({info.FileOS:#x})")
    check(info.FileFlags == 0, f"{dll}: no file flags ({info.FileFlags:#x})")

    tables, translations = [], []
    for entry in pe.FileInfo[0]:
        if entry.Key == b"StringFileInfo":
            tables += entry.StringTable
        elif entry.Key == b"VarFileInfo":
            translations += [v.entry.get(b"Translation") for v in entry.Var]
    languages = [t.LangID.decode().lower() for t in tables]
    check(languages == [STRING_TABLE] and translations == [TRANSLATION],
          f"{dll}: one string table, German (0x0407) in Unicode (code page 1200) "
          f"(tables {languages}, translations {translations})")
    text = f"{parts[0]}, {parts[1]}, {parts[2]}, {parts[3]}"
    strings = tables[0].entries if tables else {}
    shown = {k: strings.get(k.encode(), b"").decode() for k in ("FileVersion", "ProductVersion")}
    check(all(v == text for v in shown.values()), f"{dll}: version strings \"{text}\" ({shown})")


class Disassembly:
    """The DLL's code as the MinGW objdump reads it: instruction text by address."""

    def __init__(self, objdump, path):
        result = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], capture_output=True,
                                text=True, check=False)
        if result.returncode != 0:
            sys.exit(f"check_dll.py: {objdump} -d {path} failed: {result.stderr.strip()}")
        self.text = {}
        for line in result.stdout.splitlines():
            m = re.match(r"\s*([0-9a-f]+):\t(.*)$", line)
            if m:
                self.text[int(m.group(1), 16)] = m.group(2).strip()
        order = sorted(self.text)
        self.following = dict(zip(order, order[1:]))


def target_of(operand):
    m = re.match(r"(?:0x)?([0-9a-f]+)\b", operand)
    return int(m.group(1), 16) if m else None


def check_returns(code, export, entry, arguments, entries, dll, check):
    """Walks every path from the export's entry (branches and jumps followed, a tail jump into
    another function too, calls stepped over) to its returns; each must remove 4 bytes per
    argument. A path that runs into another export's entry, or an indirect jump, is reported."""
    want = 4 * arguments
    returns, problems, tail_jumps = [], [], []
    pending, seen, limit = [entry], set(), 20000
    while pending and len(seen) < limit:
        address = pending.pop()
        while address is not None and address not in seen:
            seen.add(address)
            text = code.text.get(address)
            if text is None:
                problems.append(f"no instruction at {address:#x}")
                break
            words = text.split(None, 1)
            # Prefixes that do not change where an instruction goes.
            while len(words) > 1 and words[0] in ("repz", "rep", "bnd", "notrack", "ds", "cs"):
                words = words[1].split(None, 1)
            mnemonic, operand = words[0], (words[1] if len(words) > 1 else "")
            if mnemonic in ("ret", "retl"):
                returns.append((address, int(operand.lstrip("$"), 16) if operand else 0))
                break
            if mnemonic in ("ud2", "int3", "hlt"):
                break
            if mnemonic.startswith(("j", "loop")):
                target = None if operand.startswith("*") else target_of(operand)
                if target is None:
                    problems.append(f"an indirect jump `{text}` at {address:#x}, not followed")
                    break
                if target in entries and target != entry:
                    tail_jumps.append(entries[target])
                pending.append(target)
                if mnemonic == "jmp":
                    break
            address = code.following.get(address)
            if address in entries and address != entry:
                problems.append(f"runs on into {entries[address]} at {address:#x}")
                break
    if pending:
        problems.append(f"more than {limit} instructions reached")
    wrong = [(a, n) for a, n in returns if n != want]
    via = f", through a tail jump to {', '.join(sorted(set(tail_jumps)))}" if tail_jumps else ""
    if problems or not returns:
        check(False, f"{dll}: {export}: its returns could not all be found ("
              f"{'; '.join(problems) or 'no return'}); {arguments} arguments need ret ${want:#x}")
    elif wrong:
        check(False, f"{dll}: {export} takes {arguments} arguments and must remove {want} bytes, "
              f"but " + ", ".join(f"`ret{f' ${n:#x}' if n else ''}` at {a:#x} removes {n}"
                                  for a, n in wrong) + via)
    else:
        where = "its return" if len(returns) == 1 else f"each of its {len(returns)} returns"
        check(True, f"{dll}: {export} removes {want} bytes ({arguments} x 4) at {where}{via}")


if __name__ == "__main__":
    sys.exit(main())
