"""Reads the release files as they are shipped and fails unless they are what
a Windows administrator is promised: each program (qlxpatch.exe, qlxcheck.exe)
is a 32-bit console program that needs only DLLs every Windows has, carries
no debug information and no symbols, runs as invoker and names itself and its
version; the guide is plain
ASCII with CR LF line ends, shows the log texts that the program writes
(tests/e2e/expected_log.py), and holds no fault that once misled an administrator.

Run with Debian's /usr/bin/python3, which has python3-pefile:
    check_release_files.py GUIDE VERSION EXE...
"""

import re
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).parents[1] / "e2e"))
from expected_log import ORACLE_PARAMETERS, SUCCESSFUL_RUN  # noqa: E402

SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
               "user32.dll"}
RT_MANIFEST = 24
ENGLISH_US_WINDOWS_1252 = "040904E4"
# The shipped programs, each with what its description calls it.
PROGRAMS = {"qlxpatch.exe": "patch", "qlxcheck.exe": "check"}


def version_strings(name, version):
    """The string table, all of it: no company or copyright is named."""
    return {"FileDescription": f"OV Quellmark {version} {PROGRAMS.get(name)}",
            "FileVersion": version, "InternalName": name, "OriginalFilename": name,
            "ProductName": "OV Quellmark", "ProductVersion": version}


def fixed_version(version):
    """The four-part number of VS_FIXEDFILEINFO as (most, least) significant words."""
    parts = [int(p) for p in version.split(".")] + [0] * (4 - len(version.split(".")))
    return (parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])


def imported_dlls(pe):
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(
        pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return sorted({entry.dll.decode("ascii").lower() for entry in entries})


def debug_sections(pe):
    """Sections named .debug_*; MinGW gives the DWARF sections long names,
    which an image keeps as "/<offset>" into the symbols' string table, so
    such a name counts as one too."""
    names = [s.Name.rstrip(b"\0").decode("ascii", "replace") for s in pe.sections]
    return [name for name in names if name.startswith((".debug", "/"))]


def manifest_levels(pe):
    levels = []
    for resource_type in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if resource_type.id != RT_MANIFEST:
            continue
        for resource in resource_type.directory.entries:
            for language in resource.directory.entries:
                data = language.data.struct
                root = ElementTree.fromstring(pe.get_data(data.OffsetToData, data.Size))
                levels += [element.get("level") for element in root.iter()
                           if element.tag.endswith("}requestedExecutionLevel")]
    return levels


def string_tables(pe):
    """{language and code page: {name: text}} of the version resource."""
    tables = {}
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                tables[table.LangID.decode("ascii").upper()] = {
                    key.decode("ascii"): value.decode("cp1252")
                    for key, value in table.entries.items()}
    return tables


def translations(pe):
    found = []
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for var in getattr(entry, "Var", []):
                found += [value for key, value in var.entry.items() if key == b"Translation"]
    return found


def exe_checks(path, version):
    pe, name = pefile.PE(path), Path(path).name
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    debug_directory = optional.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]]
    dlls = imported_dlls(pe)
    return [
        ("PE32 (not PE32+)", optional.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE, hex(optional.Magic)),
        ("machine i386", header.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
         hex(header.Machine)),
        ("console subsystem",
         optional.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"],
         optional.Subsystem),
        ("imports only system DLLs", bool(dlls) and set(dlls) <= SYSTEM_DLLS, dlls),
        ("no debug sections", not debug_sections(pe), debug_sections(pe)),
        ("no debug directory", debug_directory.Size == 0, debug_directory.Size),
        ("no symbol table", header.PointerToSymbolTable == 0 and header.NumberOfSymbols == 0,
         f"{header.NumberOfSymbols} symbols"),
        ("manifest runs it as invoker", manifest_levels(pe) == ["asInvoker"],
         manifest_levels(pe)),
        (f"version strings say {version}",
         string_tables(pe) == {ENGLISH_US_WINDOWS_1252: version_strings(name, version)},
         string_tables(pe)),
        ("version translation English (US), code page 1252",
         [t.lower() for t in translations(pe)] == ["0x0409 0x04e4"], translations(pe)),
        (f"file and product version {version}",
         fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS)
         == (fixed.ProductVersionMS, fixed.ProductVersionLS) == fixed_version(version),
         fixed and f"{fixed.FileVersionMS:#x} {fixed.FileVersionLS:#x} "
         f"{fixed.ProductVersionMS:#x} {fixed.ProductVersionLS:#x}"),
    ]


def shown_in(guide, log):
    """Whether the guide shows the log's lines as an example: indented by four
    blanks, with CR LF line ends, as one block."""
    lines = log.rstrip("\n").split("\n")
    block = "".join(f"    {line}\r\n" for line in lines)
    return ("\r\n" + block).encode("ascii") in guide


def lint(data, pattern):
    lines = [data.count(b"\n", 0, m.start()) + 1 for m in re.finditer(pattern, data, re.I | re.M)]
    return not lines, f"on lines {lines}"


def guide_checks(path):
    data = open(path, "rb").read()
    bare_line_feeds = data.count(b"\n") - data.count(b"\r\n")
    bare_returns = data.count(b"\r") - data.count(b"\r\n")
    return [
        ("guide shows the log of a successful run", shown_in(data, SUCCESSFUL_RUN),
         "no such example"),
        ("guide shows the Oracle parameter lines", shown_in(data, ORACLE_PARAMETERS),
         "no such example"),
        ("guide is plain ASCII", all(b < 0x80 for b in data), "bytes above 0x7F"),
        ("guide has CR LF line ends only", bare_line_feeds == 0 and bare_returns == 0
         and data.endswith(b"\r\n"), f"{bare_line_feeds} bare LF, {bare_returns} bare CR"),
        ("guide's lines have 79 characters at most", *lint(data, rb"^[^\r\n]{80,}")),
        ("guide says sc.exe, not sc (PowerShell's Set-Content)", *lint(data, rb"(?<![\w.\\-])sc\s")),
        ("guide has no NOT IN (SELECT, which a NULL stops", *lint(data, rb"NOT\s+IN\s*\(\s*SELECT")),
        ("guide's SOFTWARE keys are under WOW6432Node, or the line says 32-bit server",
         *lint(data, rb"^(?!.*32-bit server).*HK(LM|EY_LOCAL_MACHINE)\\SOFTWARE(?!\\WOW6432Node)")),
    ]


def main(guide, version, *exes):
    checks = [(f"{Path(exe).name}: {description}", passed, found) for exe in exes
              for description, passed, found in exe_checks(exe, version)]
    failed = 0
    for description, passed, found in checks + guide_checks(guide):
        print(f"{'ok    ' if passed else 'FAILED'} {description}"
              + ("" if passed else f": found {found}"))
        failed += not passed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
