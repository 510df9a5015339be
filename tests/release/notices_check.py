#!/usr/bin/env python3
"""The release's THIRD-PARTY-NOTICES.txt against what the link maps of its binaries show.

usage: notices_check.py NOTICES COPYRIGHT BUILD MAP...

Every file of the toolchain linked into a shipped binary (an archive member or an object file
outside BUILD) must belong to a known component, and that component's notice must be there: its
heading, its copyright line and, in full, every licence text it asks for, as the toolchain's own
copyright file (COPYRIGHT, Debian's machine-readable format) words it.
"""
import re
import sys

# heading of the notice, licences by their name in COPYRIGHT, copyright line
COMPONENTS = {
    "mingw-w64 runtime": ("MinGW-w64 runtime library (mingw-w64-crt)", ["ZPL-2.1"], "2009-2016 the mingw-w64 project"),
    "gdtoa": ("formatted number conversion (gdtoa", ["Lucent"], "1997-2001 Lucent Technologies"),
    "gdtoa by David M. Gay": ("(qnan.c, strtodnrp.c)", ["David-Gay"], "2004, 2005 David M. Gay"),
    "formatted output": ("formatted output (mingw_pformat.c", ["Keith-Marshall", "Lucent"], "Keith Marshall"),
    "winpthreads": ("MinGW-w64 winpthreads", ["expat", "BSD-3-clause-Lockless"], "2011-2016 mingw-w64 project"),
    # GPL 3 with the GCC Runtime Library Exception, which asks for no notice.
    "GCC runtime": ("GCC runtime libraries", [], "GCC Runtime Library Exception"),
}

# (linked file, archive member) patterns and their component; the first that matches counts.
GDTOA = "arithchk|dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|smisc|strtodg|strtopx|sum|ulp"
RULES = [
    (r"crtbegin\.o|crtend\.o|libgcc\.a|libgcc_eh\.a|libstdc\+\+\.a|libssp\.a", r".*", "GCC runtime"),
    (r"libpthread\.a|libwinpthread\.a", r"libwinpthread_la-.*", "winpthreads"),
    (r"libmingwex\.a", r".*-(qnan|strtodnrp)\.o", "gdtoa by David M. Gay"),
    (r"libmingwex\.a", rf".*-({GDTOA})\.o", "gdtoa"),
    (r"libmingwex\.a", r".*-mingw_\w*printf\w*\.o|.*-mingw_pformatw?\.o", "formatted output"),
    (r"libmingwex\.a", r".*-(dllentry|dllmain|mingw_matherr|strnlen|wcsnlen)\.o", "mingw-w64 runtime"),
    (r"crt2u?\.o|dllcrt2\.o|libmingw32\.a|libmsvcrt\.a|libmoldname\.a|libuuid\.a", r".*", "mingw-w64 runtime"),
    # An import library: stubs made from the runtime's own lists of a system DLL's entry points.
    (r"lib(\w+)\.a", r"lib{name}(h|t|s\d+)\.o", "mingw-w64 runtime"),
]


def words(text):
    return " ".join(text.split())


def licence_text(copyright_file, name):
    """A licence's text from a Debian copyright file, as one run of words."""
    match = re.search(r"^License: " + re.escape(name) + r"\n((?: .*\n?)+)", copyright_file, re.M)
    if not match:
        return None
    return words(" ".join(line[1:] for line in match.group(1).splitlines() if line.strip() != "."))


def linked_files(map_text, build):
    """(file, member) for each file of the toolchain the map shows linked in."""
    found = set()
    for line in map_text.splitlines():
        load = re.match(r"LOAD (\S+\.o)$", line)
        member = re.match(r"(/\S+\.a)\(([^)]+)\)$", line)
        if load and load.group(1).startswith("/") and not load.group(1).startswith(build):
            found.add((load.group(1).rsplit("/", 1)[1], ""))
        elif member and not member.group(1).startswith(build):
            found.add((member.group(1).rsplit("/", 1)[1], member.group(2)))
    return found


def component_of(name, member):
    for file_pattern, member_pattern, component in RULES:
        file_match = re.fullmatch(file_pattern, name)
        if file_match and file_match.groups():
            member_pattern = member_pattern.replace("{name}", re.escape(file_match.group(1)))
        if file_match and re.fullmatch(member_pattern, member):
            return component
    return None


def main(notices_path, copyright_path, build, maps):
    notices = open(notices_path, encoding="utf-8").read()
    copyright_file = open(copyright_path, encoding="utf-8").read()
    problems = []
    used = {}
    for path in maps:
        files = linked_files(open(path, encoding="utf-8", errors="replace").read(), build)
        if not files:
            problems.append(f"{path}: no toolchain file found in the link map")
        for name, member in sorted(files):
            component = component_of(name, member)
            if component is None:
                problems.append(f"{path}: {name}({member}) belongs to no known component: give it a notice and a rule")
            else:
                used.setdefault(component, set()).add(f"{name}({member})")
    flat = words(notices)
    for component in sorted(used):
        heading, licences, holder = COMPONENTS[component]
        if heading not in notices:
            problems.append(f"{component}: no notice headed \"{heading}\"")
        if holder not in notices:
            problems.append(f"{component}: the notices do not name \"{holder}\"")
        for licence in licences:
            text = licence_text(copyright_file, licence)
            if text is None:
                problems.append(f"{component}: no licence {licence} in {copyright_path}")
            elif text not in flat:
                problems.append(f"{component}: the notices lack the full text of its licence {licence}")
    for problem in problems:
        print("FAIL " + problem)
    print(f"notices: {sum(len(v) for v in used.values())} linked files of {len(used)} components "
          f"({', '.join(sorted(used))}), {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]))
