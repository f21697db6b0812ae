"""Reading registry exports as regedit and reg export write them: REGEDIT4
in the ANSI code page, or version 5 in UTF-16LE with a byte-order mark.

Only what a rehearsal needs: every value of every key, as (type, text), with
key paths and value names compared without regard to case and the last
definition of a value counting."""

import re

WOW_PREFIX = "SOFTWARE\\WOW6432NODE"
ROOTS = {"HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE", "HKLM": "HKEY_LOCAL_MACHINE"}


def decode(data):
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", errors="replace"), True
    return data.decode("cp1252", errors="replace"), False


def logical_lines(text):
    """The export's lines, with hex data continued by a trailing backslash joined."""
    pending = ""
    for line in text.splitlines():
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and re.match(r'^(@|".*")=hex', line):
            pending = line[:-1]
            continue
        yield line
    if pending:
        yield pending


def unquote(text):
    """The quoted string at the start of text, and what follows it."""
    out, i = [], 1
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
            continue
        if ch == '"':
            return "".join(out), text[i + 1:]
        out.append(ch)
        i += 1
    return None, ""


HEX_TYPES = {"": "REG_BINARY", "2": "REG_EXPAND_SZ", "7": "REG_MULTI_SZ", "b": "REG_QWORD",
             "0": "REG_NONE", "4": "REG_DWORD"}


def value_data(data, unicode):
    if data.startswith('"'):
        text, _ = unquote(data)
        return "REG_SZ", text
    if data.lower().startswith("dword:"):
        try:
            return "REG_DWORD", str(int(data[6:], 16))
        except ValueError:
            return "REG_DWORD", data[6:]
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data)
    if not match:
        return "?", data
    kind = HEX_TYPES.get((match.group(1) or "").lower(), f"hex({match.group(1)})")
    raw = bytes(int(b, 16) for b in re.findall(r"[0-9a-fA-F]{2}", match.group(2)))
    if kind in ("REG_EXPAND_SZ", "REG_MULTI_SZ"):
        text = raw.decode("utf-16-le" if unicode else "cp1252", errors="replace")
        return kind, text.split("\0")[0]
    return kind, raw.hex()


def canonical_key(key):
    root, _, rest = key.partition("\\")
    return ROOTS.get(root.upper(), root.upper()), rest


def read_export(path):
    """{key path below HKLM, upper-cased: {value name, upper-cased: (name, type, text)}}
    and the key names as written."""
    with open(path, "rb") as export:
        text, unicode = decode(export.read())
    keys, names, current = {}, {}, None
    for line in logical_lines(text):
        if line.startswith("[") and line.rstrip().endswith("]"):
            root, rest = canonical_key(line.strip()[1:-1])
            if root.startswith("-") or root != "HKEY_LOCAL_MACHINE":
                current = None
                continue
            current = keys.setdefault(rest.upper(), {})
            names.setdefault(rest.upper(), rest)
        elif current is not None and (line.startswith('"') or line.startswith("@=")):
            if line.startswith("@="):
                name, rest = "", line[1:]
            else:
                name, rest = unquote(line)
                if name is None:
                    continue
            if rest.startswith("="):
                kind, data = value_data(rest[1:], unicode)
                current[name.upper()] = (name, kind, data)
    return keys, names


def is_64_bit_export(keys):
    return any(key == WOW_PREFIX or key.startswith(WOW_PREFIX + "\\") for key in keys)


def redirected(key, view):
    """The key the 32-bit program reaches when it asks for key: in the
    32-bit view of a 64-bit registry, SOFTWARE\\... lies under WOW6432Node."""
    head, _, rest = key.partition("\\")
    if view == "32" and head.upper() == "SOFTWARE" and not rest.upper().startswith("WOW6432NODE"):
        return "SOFTWARE\\WOW6432Node\\" + rest
    return key


class Registry:
    """Several exports, read as the patch reads them: a key from the first
    file that defines it."""

    def __init__(self, paths, view=None):
        self.exports = [(path, *read_export(path)) for path in paths]
        self.view = view or ("32" if any(is_64_bit_export(k) for _, k, _ in self.exports) else "64")

    def lookup(self, key, name):
        """(export path, resolved key, type, text), or None."""
        resolved = redirected(key, self.view)
        for path, keys, names in self.exports:
            values = keys.get(resolved.upper())
            if values is not None:
                found = values.get(name.upper())
                return (path, names[resolved.upper()], *found[1:]) if found else (path, resolved, None, None)
        return None

    def all_values(self):
        """{(export path, key as written, value name): (type, text)}"""
        return {(path, names[key], name): (kind, data)
                for path, keys, names in self.exports
                for key, values in keys.items() for _, (name, kind, data) in values.items()}
