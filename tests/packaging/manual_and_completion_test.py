#!/usr/bin/env python3
"""The manual page and the bash completion of stbup name every sub-command and
every option that `stbup --help` and `stbup SUB --help` list, so neither falls
behind the code.

    manual_and_completion_test.py STBUP PACKAGING_DIR
"""
import os
import re
import subprocess
import sys

BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"


def help_of(stbup, *args):
    return subprocess.run([stbup, *args, "--help"], capture_output=True, text=True,
                          check=True).stdout


def options_of(help_text):
    options = set(re.findall(r"^\s+(?:-\w,)?(--[a-z][\w-]*)", help_text, re.M))
    return options - {"--help"}


def manual_sections(path):
    """The text of each sub-command's section (.SS), by sub-command."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("\\-", "-")
    sections = {}
    for match in re.finditer(r'^\.SS "?(\w+)(.*?)(?=^\.S[SH] )', text, re.M | re.S):
        sections[match.group(1)] = match.group(2)
    return sections


def completions(completion, words):
    """What the completion offers after the words (the last one being typed)."""
    line = " ".join(words)
    script = f"""
source {BASH_COMPLETION}
source {completion}
COMP_WORDS=({" ".join("'%s'" % w for w in words)})
COMP_CWORD={len(words) - 1}
COMP_LINE='{line}'
COMP_POINT={len(line)}
_stbup
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
    out = subprocess.run(["bash", "-c", script], capture_output=True, text=True, check=True)
    return set(out.stdout.split())


def main():
    stbup, folder = sys.argv[1], sys.argv[2]
    if not os.path.exists(BASH_COMPLETION):
        print("bash-completion is not installed (scripts/setup installs it)")
        return 1
    completion = os.path.join(folder, "stbup.bash-completion")
    top = help_of(stbup)
    commands = re.findall(r"^  (\w+)\s", top.split("Subcommands:", 1)[1], re.M)
    sections = manual_sections(os.path.join(folder, "stbup.1"))
    problems = []
    if set(commands) != set(sections):
        problems.append("the manual's sub-commands %s differ from --help's %s" %
                        (sorted(sections), sorted(commands)))
    offered = completions(completion, ["stbup", ""])
    if not set(commands) <= offered:
        problems.append("the completion does not offer %s" % sorted(set(commands) - offered))
    for command in commands:
        options = options_of(help_of(stbup, command))
        section = sections.get(command, "")
        missing = sorted(o for o in options if not re.search(re.escape(o) + r"\b", section))
        if missing:
            problems.append("the manual's %s section lacks %s" % (command, missing))
        offered = completions(completion, ["stbup", command, "--"])
        if offered != options | {"--help"}:
            problems.append("completion of %s: offers %s, --help lists %s" %
                            (command, sorted(offered - options - {"--help"}),
                             sorted(options - offered)))
    for problem in problems:
        print(problem)
    if not problems:
        print("%d sub-commands: the manual and the completion name every option" % len(commands))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
