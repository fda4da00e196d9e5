#!/usr/bin/env python3
"""What the programs accept is what their help and manual pages tell.

Every environment variable the server's sources read is in the server's
--help and in corvane-server(1), and nothing else is listed there; every
switch of the server's table and every option of `corvane --help` is in its
manual page.

    documented_test.py SOURCE_DIR SERVER_EXECUTABLE APP_EXECUTABLE
"""
import pathlib
import re
import subprocess
import sys

READ = re.compile(r'\b(?:getenv|raw)\("([A-Z][A-Z0-9_]+)"\)')
SWITCH = re.compile(r'^\s*\{"([a-z0-9-]+)", COMMAND_LINE_', re.M)
HELP_VARIABLE = re.compile(r'^    ([A-Z][A-Z0-9_]+)\b', re.M)
APP_OPTION = re.compile(r'--[a-z][a-z-]+')


def variables_read(source):
    names = set()
    for layer in ("base", "platform", "capture", "server"):
        for path in (source / layer).rglob("*.cpp"):
            names.update(READ.findall(path.read_text()))
    return names


def output(command):
    return subprocess.run(command, capture_output=True, text=True, timeout=60,
                          env={"PATH": "/usr/bin:/bin", "WLOG_LEVEL": "OFF"}).stdout


def main(source, server, app):
    source = pathlib.Path(source)
    failures = []
    read = variables_read(source)
    if len(read) < 20:
        failures.append(f"only {len(read)} variables found in the sources: the scan is broken")

    help_text = output([server, "--help"])
    environment = help_text.split("\nEnvironment", 1)
    if len(environment) != 2:
        failures.append("the server's --help has no Environment section")
    listed = set(HELP_VARIABLE.findall(environment[-1]))
    for name in sorted(read - listed):
        failures.append(f"{name} is read by the server but not in its --help")
    for name in sorted(listed - read):
        failures.append(f"{name} is in the server's --help but never read")

    server_page = (source / "packaging/man/corvane-server.1.md").read_text()
    for name in sorted(read):
        if f"**{name}**" not in server_page:
            failures.append(f"{name} is not in corvane-server(1)")
    table = (source / "server/cli/arguments.cpp").read_text()
    switches = SWITCH.findall(table)
    if len(switches) < 20:
        failures.append(f"only {len(switches)} switches found in arguments.cpp")
    for switch in switches:
        if switch not in help_text:
            failures.append(f"/{switch} is not in the server's --help")
        if not re.search(r"\*\*[/+]" + re.escape(switch) + r"\b", server_page):
            failures.append(f"/{switch} is not in corvane-server(1)")

    app_page = (source / "packaging/man/corvane.1.md").read_text()
    options = set(APP_OPTION.findall(output([app, "--help"])))
    if not {"--help", "--version", "--server-only", "--print-launch-plan"} <= options:
        failures.append(f"corvane --help lists {sorted(options)}")
    for option in sorted(options):
        if f"**{option}**" not in app_page:
            failures.append(f"{option} is not in corvane(1)")

    for failure in failures:
        print(failure)
    print(f"{len(read)} variables, {len(switches)} switches, {len(options)} options: "
          f"{len(failures)} undocumented")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
