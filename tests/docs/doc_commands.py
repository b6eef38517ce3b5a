#!/usr/bin/env python3
"""Runs the command lines the documentation shows, on a demo installation.

Reads the code blocks of README.md, docs/*.md and the EXAMPLES of the man
pages. A command of one of Vigilo's programs runs (after `runuser -u vigilo --`
is dropped and the packaged paths are mapped onto a fresh demo installation)
and must exit with status 0. A block marked illustrative (the line
"<!-- illustrative -->" in Markdown or "; illustrative" in a man page source,
before the block) is skipped, as are commands of the system's own tools
(systemctl, apt, ...), which a test cannot run. Any other command fails the
check, so a new example is either runnable or marked.

Also checks that every vigtab.ini key the code reads is in the administrator's
guide and that every program answers --version and --help.

    doc_commands.py SOURCE-DIR BUILD-DIR
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

OURS = {"vgservice", "vgdemo", "vgdbf", "vgsql", "vgqueue", "vgrules", "vglogin"}
SYSTEM = {"systemctl", "journalctl", "apt", "apt-get", "dpkg-buildpackage", "cmake",
          "systemd-sysusers", "systemd-tmpfiles", "ln", "runuser", "scripts/demo",
          "scripts/test", "scripts/manager", "scripts/screenshots", "scripts/check-package",
          "logrotate", "crontab", "ctest", "cp", "chmod", "chown", "mkdir", "cat", "ls",
          "tail", "sed", "grep", "export", "sudo", "cd", "git", "[Service]"}


def blocks(path):
    """(first line number, illustrative, [lines]) of each code block."""
    text = open(path, encoding="utf-8").read().split("\n")
    man = path.endswith(".scd")
    if man:
        start = next((i for i, l in enumerate(text) if l.startswith("# EXAMPLES")), None)
        if start is None:
            return []
        end = next((i for i in range(start + 1, len(text)) if text[i].startswith("# ")), len(text))
    else:
        start, end = -1, len(text)
    # The man page sources escape backslashes and asterisks.
    unescape = (lambda l: l.replace("\\\\", "\\").replace("\\*", "*")) if man else (lambda l: l)
    marker = "; illustrative" if man else "<!-- illustrative -->"
    found, i, illustrative = [], start + 1, False
    while i < end:
        line = text[i]
        if line.strip() == marker:
            illustrative = True
        elif line.startswith("```"):
            j = i + 1
            while j < end and not text[j].startswith("```"):
                j += 1
            found.append((i + 2, illustrative, [unescape(l) for l in text[i + 1:j]]))
            illustrative, i = False, j
        elif (man and line.startswith("\t")) or (not man and line.startswith("    ") and
                                                 (i == 0 or not text[i - 1].strip())):
            j = i
            while j < end and (text[j].startswith("\t" if man else "    ") or not text[j].strip()):
                j += 1
            found.append((i + 1, illustrative, [unescape(l.strip()) for l in text[i:j]]))
            illustrative, i = False, j - 1
        elif line.strip() and not line.startswith("<!--"):
            illustrative = False
        i += 1
    return found


def commands(lines):
    """The command lines of a block, continuations joined, comments dropped."""
    joined, current = [], ""
    for line in lines:
        current += line.rstrip()
        if current.endswith("\\"):
            current = current[:-1] + " "
            continue
        if current.strip():
            joined.append(current.strip())
        current = ""
    return [c for c in joined if not c.startswith("#") and not c.startswith(";")]


def program_of(command):
    words = command.split()
    if words[:4] == ["runuser", "-u", "vigilo", "--"]:
        words = words[4:]
    if "|" in command and words[0] == "echo":
        words = command.split("|", 1)[1].split()
    return words[0] if words else ""


def only_unserved(source, run, demo, stderr):
    """True when a tick's errors are all SMTP mail kept in the outbox."""
    home = re.search(r"--home\s+(\S+)", run)
    home = home.group(1) if home else f"{demo}/program"
    log = os.path.join(os.path.dirname(os.path.normpath(home)), "server", "vglog.ini")
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as errors:
        errors.write(stderr)
        errors.flush()
        return subprocess.run([os.path.join(source, "scripts", "tick-errors-only-unserved"),
                               errors.name, log], capture_output=True).returncode == 0


def main():
    source, build = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    programs = {
        "vgservice": f"{build}/service/vgservice", "vgdemo": f"{build}/tools/vgdemo",
        "vgdbf": f"{build}/tools/vgdbf", "vgsql": f"{build}/tools/vgsql",
        "vgqueue": f"{build}/tools/vgqueue", "vgrules": f"{build}/tools/vgrules",
        "vglogin": f"{build}/tools/vglogin"}
    bindir = tempfile.mkdtemp(prefix="vgdoc-bin-")
    for name, path in programs.items():
        os.symlink(path, os.path.join(bindir, name))
    failures = []

    for name, path in programs.items():
        for option in ("--version", "--help"):
            result = subprocess.run([path, option], capture_output=True, text=True)
            if result.returncode != 0 or not result.stdout.strip():
                failures.append(f"{name} {option}: status {result.returncode}, no text")

    docs = [os.path.join(source, "README.md")]
    docs += sorted(os.path.join(source, "docs", f) for f in os.listdir(os.path.join(source, "docs"))
                   if f.endswith(".md"))
    man_dir = os.path.join(source, "docs", "man")
    docs += sorted(os.path.join(man_dir, f) for f in os.listdir(man_dir) if f.endswith(".scd"))
    ran = 0
    plugins = [f"{build}/platform/mapi/libvgmapi.so", f"{build}/platform/smtp/libvgsmtp.so"]
    for doc in docs:
        work = tempfile.mkdtemp(prefix="vgdoc-")
        demo = os.path.join(work, "demo")
        subprocess.run([programs["vgdemo"], demo] + sum([["--plugin", p] for p in plugins], []),
                       check=True, capture_output=True)
        mapping = [("/etc/vigilo", f"{demo}/program"), ("/var/lib/vigilo/demo", f"{work}/demo2"),
                   ("/var/lib/vigilo", f"{demo}/server"), ("/srv/orvik/Demo", f"{demo}/projects/Demo"),
                   ("/srv/orvik", f"{demo}/server"), ("DIR", f"{demo}/program")]
        env = dict(os.environ, PATH=bindir + ":" + os.environ["PATH"], VIGILO_HOME=f"{demo}/program",
                   VIGILO_MAPI_LIBRARY=plugins[0], VIGILO_SMTP_LIBRARY=plugins[1])
        rel = os.path.relpath(doc, source)
        for line, illustrative, lines in blocks(doc):
            if illustrative:
                continue
            for command in commands(lines):
                program = program_of(command)
                if program in SYSTEM and program != "runuser":
                    continue
                if program not in OURS:
                    # Lines of sample files and output start otherwise.
                    if re.match(r"^[a-z][\w./-]*$", program):
                        failures.append(f"{rel}:{line}: '{command}': not a Vigilo program; "
                                        "mark the block illustrative")
                    continue
                run = command
                if run.startswith("runuser -u vigilo -- "):
                    run = run[len("runuser -u vigilo -- "):]
                run = run.split(";", 1)[0] if program == "vgservice" and "; echo" in run else run
                for old, new in mapping:
                    run = re.sub(re.escape(old) + r"(?![\w])", new, run)
                result = subprocess.run(["bash", "-c", run], capture_output=True, text=True,
                                        env=env, cwd=work, timeout=120)
                ran += 1
                # Status 2 of a tick is a tick that ran and logged an error:
                # the demo has SMTP off, so its SMTP mail waits in the outbox;
                # any other error fails the example.
                tick = program == "vgservice" and "--once" in run
                if tick and result.returncode == 2 and only_unserved(source, run, demo, result.stderr):
                    continue
                if result.returncode != 0:
                    failures.append(f"{rel}:{line}: '{command}' exited {result.returncode}: "
                                    f"{(result.stderr or result.stdout).strip()[:300]}")

    keys = set()
    for folder in ("data", "service", "notify"):
        for root, _, files in os.walk(os.path.join(source, folder)):
            for f in files:
                text = open(os.path.join(root, f), encoding="utf-8", errors="replace").read()
                keys.update(re.findall(r'program_ini_path,\s*"\w+",\s*"([A-Z_]+)"', text))
                keys.update(re.findall(r'constexpr const char\* k\w+Key = "([A-Z_]+)"', text))
    guide = open(os.path.join(source, "docs", "admin-guide.md"), encoding="utf-8").read()
    section = guide.split("### vigtab.ini", 1)[1].split("\n### ", 1)[0]
    for key in sorted(keys):
        if f"`{key}`" not in section:
            failures.append(f"docs/admin-guide.md: vigtab.ini key {key} is not in the table")

    for failure in failures:
        print("FAIL " + failure)
    print(f"{ran} documented commands run, {len(keys)} vigtab.ini keys checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
