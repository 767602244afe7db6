#!/usr/bin/env python3
"""Fails when a source file includes a file of a layer it must not depend on.

The layers, lowest first (the README's layout section says the same):
  common < platform < settings, i18n, ddns, lifetime and update logic < core < shell < forms < program;
  the daemon (daemon/) stands on core and what lies below it, never on shell or a form; the updater
  (loader/) and the signing tool (tools/) stand on update and what lies below it.
Libraries below the shell need no widgets: they may not include the toolkit's headers either.
Tests are not checked.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

LOGIC = {"settings", "i18n", "ddns", "lifetime", "update"}
ALLOWED = {
    "common": {"common"},
    "platform": {"common", "platform"},
    **{layer: {"common", "platform", layer} for layer in LOGIC},
    "core": {"common", "platform", "core"} | LOGIC,
    "shell": {"common", "platform", "core", "shell"} | LOGIC,
    "forms": {"common", "platform", "core", "shell", "forms"} | LOGIC,
    "program": {"common", "platform", "core", "shell", "forms", "program"} | LOGIC,
    # The headless daemon: the same core, no windows.
    "daemon": {"common", "platform", "core", "daemon"} | LOGIC,
    # The updater and the signing tool are programs of their own, without windows.
    "loader": {"common", "platform", "update", "loader"},
    "tools": {"common", "platform", "update", "tools"},
    # The reference service shares the client's envelope code.
    "service": {"common", "platform", "ddns", "service"},
}
WITHOUT_TOOLKIT = {"common", "platform", "core", "daemon", "loader", "tools", "service"} | LOGIC
FORM_FILE = re.compile(r"^Unit\d")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path: pathlib.PurePosixPath):
    """The layer of a file of the program, or None for files outside it."""
    parts = path.parts
    if len(parts) < 2:
        return "common" if str(path) == "BuildConfig.h" else None
    folder, name = parts[0], parts[-1]
    if folder in ("account",):
        return "forms"
    if folder == "app":
        return "program" if name.startswith("Hostwarden.") else "forms"
    if folder == "lifetime" and FORM_FILE.match(name):
        return "forms"
    if folder in ALLOWED:
        return folder
    return None


def check(path: pathlib.Path):
    rel = pathlib.PurePosixPath(path.relative_to(ROOT).as_posix())
    layer = layer_of(rel)
    if layer is None:
        return []
    problems = []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        kind, target = match.groups()
        if kind == "<":
            if layer in WITHOUT_TOOLKIT and target.startswith("Q"):
                problems.append(f"{rel}:{number}: {layer} needs no widgets but includes <{target}>")
            continue
        included = layer_of(pathlib.PurePosixPath(target))
        if included is not None and included not in ALLOWED[layer]:
            problems.append(f"{rel}:{number}: {layer} may not include {target} ({included})")
    return problems


def main():
    sources = [p for p in ROOT.rglob("*") if p.suffix in (".h", ".cpp", ".in") and p.is_file()]
    sources = [p for p in sources if not p.relative_to(ROOT).parts[0].startswith(("build", "."))]
    problems = [problem for source in sorted(sources) for problem in check(source)]
    for problem in problems:
        print(problem)
    print(f"layers: {len(sources)} files read, {len(problems)} includes against the layers")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
